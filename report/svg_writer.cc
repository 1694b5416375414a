// The SVG text writer: see svg_writer.h.
#include "report/svg_writer.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

void svg_init(SvgWriter* w, PlotSink sink) {
  w->used = 0;
  w->sink = sink;
  w->failed = false;
}

namespace {

void send(SvgWriter* w) {
  if (!w->failed && w->used > 0 && !w->sink.write(w->sink.context, w->buffer, w->used)) w->failed = true;
  w->used = 0;
}

// The length of the well-formed UTF-8 sequence at `s` (1 to 4), or 0, and its code point.
size_t utf8_sequence(const unsigned char* s, size_t length, uint32_t* code_point) {
  unsigned char b = s[0];
  size_t n = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
  if (n == 0 || n > length) return 0;
  uint32_t cp = n == 1 ? b : b & (0x7F >> n);
  for (size_t i = 1; i < n; i++) {
    if ((s[i] & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (s[i] & 0x3F);
  }
  static const uint32_t kLeast[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kLeast[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  *code_point = cp;
  return n;
}

}  // namespace

void svg_bytes(SvgWriter* w, const char* bytes, size_t length) {
  while (length > 0) {
    if (w->used == kSvgBufferSize) send(w);
    size_t n = kSvgBufferSize - w->used < length ? kSvgBufferSize - w->used : length;
    std::memcpy(w->buffer + w->used, bytes, n);
    w->used += n;
    bytes += n;
    length -= n;
  }
}

void svg_text(SvgWriter* w, const char* text) { svg_bytes(w, text, std::strlen(text)); }

void svg_printf(SvgWriter* w, const char* format, ...) {
  char line[512];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  if (n > 0)
    svg_bytes(w, line, static_cast<size_t>(n) < sizeof line ? static_cast<size_t>(n) : sizeof line - 1);
}

void svg_number(SvgWriter* w, double value) {
  if (!std::isfinite(value)) value = 0;
  if (value > 1e9) value = 1e9;
  if (value < -1e9) value = -1e9;
  long long tenths = std::llround(value * 10);
  unsigned long long magnitude = tenths < 0 ? 0ull - static_cast<unsigned long long>(tenths) : tenths;
  if (magnitude % 10 == 0) {
    svg_printf(w, "%s%llu", tenths < 0 ? "-" : "", magnitude / 10);
  } else {
    svg_printf(w, "%s%llu.%llu", tenths < 0 ? "-" : "", magnitude / 10, magnitude % 10);
  }
}

void svg_escaped(SvgWriter* w, const char* text, size_t length, size_t max_chars) {
  const unsigned char* s = reinterpret_cast<const unsigned char*>(text);
  for (size_t at = 0, chars = 0; at < length; chars++) {
    if (chars == max_chars) {
      svg_text(w, "\xE2\x80\xA6");
      return;
    }
    uint32_t cp = 0;
    size_t n = utf8_sequence(s + at, length - at, &cp);
    const char* replacement = nullptr;
    if (n == 0 || cp < 0x20 || cp == 0xFFFE || cp == 0xFFFF) replacement = "\xEF\xBF\xBD";
    if (cp == '&') replacement = "&amp;";
    if (cp == '<') replacement = "&lt;";
    if (cp == '>') replacement = "&gt;";
    if (cp == '"') replacement = "&quot;";
    if (cp == '\'') replacement = "&apos;";
    if (n == 0) n = 1;
    if (replacement != nullptr) {
      svg_text(w, replacement);
    } else {
      svg_bytes(w, text + at, n);
    }
    at += n;
  }
}

bool svg_finish(SvgWriter* w) {
  send(w);
  return !w->failed;
}
