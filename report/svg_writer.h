// A small buffered writer of SVG text for the bitrate picture: numbers in a fixed form
// that no locale changes, and text escaped for XML.
#ifndef TARVEL_REPORT_SVG_WRITER_H_
#define TARVEL_REPORT_SVG_WRITER_H_

#include <cstddef>
#include <cstdint>

#include "report/plot.h"
#include "report/report.h"

constexpr size_t kSvgBufferSize = 4096;

struct SvgWriter {
  char buffer[kSvgBufferSize];
  size_t used;
  PlotSink sink;
  bool failed;  // the sink refused bytes: nothing more is sent
};

void svg_init(SvgWriter* w, PlotSink sink);
void svg_text(SvgWriter* w, const char* text);
void svg_bytes(SvgWriter* w, const char* bytes, size_t length);
// printf-style, for integers and text already escaped; at most 511 bytes a call.
void svg_printf(SvgWriter* w, const char* format, ...) TARVEL_PRINTF(2, 3);
// A coordinate rounded to tenths: "12", "12.5", "-0.3".
void svg_number(SvgWriter* w, double value);
// Text as XML character data or attribute value: & < > " ' as references, well-formed
// UTF-8 kept except for characters XML cannot hold (controls, U+FFFE, U+FFFF), which
// become U+FFFD like every byte that is not part of well-formed UTF-8. After `max_chars`
// characters the rest is cut and an ellipsis (U+2026) ends it.
void svg_escaped(SvgWriter* w, const char* text, size_t length, size_t max_chars);
// Sends what is held; returns false when the sink failed at any point.
bool svg_finish(SvgWriter* w);

#endif  // TARVEL_REPORT_SVG_WRITER_H_
