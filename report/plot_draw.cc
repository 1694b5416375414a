// The bitrate picture drawn from the columns and the figures (the fullness panel is in
// plot_hrd.cc): see plot.h.
#include "report/plot_draw.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace plot_draw {

double at(const Axis& a, double v) { return a.px_lo + (v - a.lo) * (a.px_hi - a.px_lo) / (a.hi - a.lo); }

// 1, 2 or 5 times a power of ten, at least span / ticks.
double nice_step(double span, double ticks) {
  double raw = span / ticks, power = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 5.0, 10.0}) {
    if (m * power >= raw * (1 - 1e-9)) return m * power;
  }
  return 10 * power;
}

// Decimals that a step needs in a unit of 1000 (ms as s, bit/s as Kb/s).
int decimals_of(double step) { return step >= 1000 ? 0 : step >= 100 ? 1 : step >= 10 ? 2 : 3; }

void thousandths(SvgWriter* w, double value, int decimals) {
  double v = std::round(value) / 1000;
  char text[40];
  std::snprintf(text, sizeof text, "%.*f", decimals, v);
  for (char* c = text; *c != 0; c++) {
    if (*c == ',') *c = '.';  // whatever the locale
  }
  svg_text(w, text);
}

void line(SvgWriter* w, double x1, double y1, double x2, double y2, const char* style) {
  svg_text(w, "<line x1=\"");
  svg_number(w, x1);
  svg_text(w, "\" y1=\"");
  svg_number(w, y1);
  svg_text(w, "\" x2=\"");
  svg_number(w, x2);
  svg_text(w, "\" y2=\"");
  svg_number(w, y2);
  svg_printf(w, "\" %s/>\n", style);
}

void text_at(SvgWriter* w, double x, double y, const char* attributes) {
  svg_text(w, "<text x=\"");
  svg_number(w, x);
  svg_text(w, "\" y=\"");
  svg_number(w, y);
  svg_printf(w, "\" %s>", attributes);
}

// Time ticks, grid and labels under a panel.
void time_axis(SvgWriter* w, const Picture& p, double top, double bottom) {
  double step = nice_step(p.x.hi - p.x.lo, 10);
  int decimals = decimals_of(step);
  for (double t = std::ceil(p.x.lo / step) * step; t <= p.x.hi; t += step) {
    double x = at(p.x, t);
    line(w, x, top, x, bottom, "stroke=\"#e6e6e6\"");
    line(w, x, bottom, x, bottom + 5, "stroke=\"#333\"");
    text_at(w, x, bottom + 19, "text-anchor=\"middle\"");
    thousandths(w, t, decimals);
    svg_text(w, "</text>\n");
  }
  text_at(w, (kLeft + kRight) / 2, bottom + 36, "text-anchor=\"middle\" fill=\"#333\"");
  svg_text(w, "time (s)</text>\n");
}

// Value ticks, grid and labels left of a panel; `unit` names the axis.
void value_axis(SvgWriter* w, const Axis& a, double step, const char* unit) {
  int decimals = decimals_of(step);
  for (double v = std::ceil(a.lo / step) * step; v <= a.hi + step * 1e-9; v += step) {
    double y = at(a, v);
    line(w, kLeft, y, kRight, y, v == 0 ? "stroke=\"#999\"" : "stroke=\"#e6e6e6\"");
    text_at(w, kLeft - 6, y + 4, "text-anchor=\"end\"");
    thousandths(w, v, decimals);
    svg_text(w, "</text>\n");
  }
  double middle = (a.px_lo + a.px_hi) / 2;
  svg_printf(
      w, "<text transform=\"translate(22 %d) rotate(-90)\" text-anchor=\"middle\" fill=\"#333\">%s</text>\n",
      static_cast<int>(middle), unit);
}

PlotLevel drawn_level(const Picture& p, uint32_t b, uint32_t i) {
  PlotLevel out = {INT64_MIN, INT64_MAX};
  for (uint32_t c = i * p.group; c < std::min(p.columns->count, (i + 1) * p.group); c++) {
    out.high = std::max(out.high, p.columns->levels[b][c].high);
    out.low = std::min(out.low, p.columns->levels[b][c].low);
  }
  return out;
}

// Where drawn column i (or a part of it) starts.
double drawn_x(const Picture& p, double i) {
  return at(p.x, static_cast<double>(p.columns->origin_ms) +
                     i * p.group * static_cast<double>(p.columns->width_ms));
}

namespace {

// The right-hand axis: the bar heights as frame bytes.
void bytes_axis(SvgWriter* w, const Picture& p) {
  double top_bytes = p.top_value * p.period_ms / 8000;
  if (top_bytes <= 0) return;
  double step = nice_step(top_bytes, 6);
  for (double b = step; b <= top_bytes; b += step) {
    double y = at(p.y, b * 8000 / p.period_ms);
    line(w, kRight, y, kRight + 5, y, "stroke=\"#333\"");
    text_at(w, kRight + 8, y + 4, "");
    svg_printf(w, "%.0f</text>\n", b);
  }
  svg_printf(w, "<text transform=\"translate(%d %d) rotate(90)\" text-anchor=\"middle\" fill=\"#333\">",
             static_cast<int>(kWidth - 20), static_cast<int>((kMainTop + kMainBottom) / 2));
  svg_text(w, "frame bytes</text>\n");
}

// Drawn column i: the columns [i * group, (i + 1) * group) together, so that no drawn
// column is narrower than a pixel.
PlotColumn drawn_column(const Picture& p, uint32_t i) {
  PlotColumn out = {};
  for (uint32_t c = i * p.group; c < std::min(p.columns->count, (i + 1) * p.group); c++) {
    const PlotColumn& from = p.columns->columns[c];
    for (uint32_t k = 0; k < kPlotClassCount; k++) out.largest[k] = std::max(out.largest[k], from.largest[k]);
    out.classes |= from.classes;
    out.key |= from.key;
  }
  return out;
}

// A drawn column's width, or a frame period's where that is wider.
double bar_width(const Picture& p) {
  return std::max(drawn_x(p, 1) - drawn_x(p, 0), p.period_ms * (kRight - kLeft) / (p.x.hi - p.x.lo));
}

// The next smaller largest frame of another class in the column, which class k's segment
// stands on.
uint32_t below_of(const PlotColumn& col, uint32_t k) {
  uint32_t below = 0;
  for (uint32_t o = 0; o < kPlotClassCount; o++) {
    bool smaller = col.largest[o] < col.largest[k] || (col.largest[o] == col.largest[k] && o > k);
    if (o != k && (col.classes & (1u << o)) != 0 && smaller) below = std::max(below, col.largest[o]);
  }
  return below;
}

// One path per class: each column's classes stacked from the smaller largest frame up.
void bars(SvgWriter* w, const Picture& p) {
  double width = bar_width(p);
  double drawn = width > 3 ? width * 0.8 : width;
  for (uint32_t k = 0; k < kPlotClassCount; k++) {
    bool open = false;
    for (uint32_t i = 0; i < p.drawn; i++) {
      PlotColumn col = drawn_column(p, i);
      if ((col.classes & (1u << k)) == 0) continue;
      double y_top = std::max(at(p.y, col.largest[k] * 8000.0 / p.period_ms), kMainTop);
      double y_bottom = std::max(at(p.y, below_of(col, k) * 8000.0 / p.period_ms), kMainTop);
      if (!open) svg_printf(w, "<path fill=\"%s\" d=\"", kClassColour[k]);
      open = true;
      svg_text(w, "M");
      svg_number(w, drawn_x(p, i));
      svg_text(w, " ");
      svg_number(w, y_bottom);
      svg_text(w, "V");
      svg_number(w, std::min(y_top, y_bottom - 0.5));
      svg_text(w, "h");
      svg_number(w, drawn);
      svg_text(w, "V");
      svg_number(w, y_bottom);
      svg_text(w, "z");
    }
    if (open) svg_text(w, "\"/>\n");
  }
}

// Key frames: a triangle under the time axis at each column that holds one; a thin tick
// where the bars stand too close for triangles.
void key_marks(SvgWriter* w, const Picture& p) {
  bool narrow = bar_width(p) < 4;
  svg_printf(w, "<path %s d=\"", narrow ? "stroke=\"#222\" stroke-width=\"0.6\"" : "fill=\"#222\"");
  for (uint32_t i = 0; i < p.drawn; i++) {
    if (drawn_column(p, i).key == 0) continue;
    svg_text(w, "M");
    svg_number(w, drawn_x(p, i));
    svg_text(w, " ");
    svg_number(w, kMainBottom + 1);
    svg_text(w, narrow ? "v6" : "l-3.5 7h7z");
  }
  svg_text(w, "\"/>\n");
}

// The one-second bitrate as steps; past 1000 seconds, each step is the highest second of
// its group.
void second_steps(SvgWriter* w, const Picture& p) {
  const BitrateResults* r = p.r;
  if (r->seconds == 0) return;
  uint32_t group = (r->seconds + 999) / 1000;
  svg_text(
      w, "<polyline fill=\"none\" stroke=\"#111\" stroke-width=\"1.8\" stroke-linejoin=\"round\" points=\"");
  for (uint32_t s = 0; s < r->seconds; s += group) {
    uint64_t most = 0;
    for (uint32_t g = s; g < std::min(r->seconds, s + group); g++) most = std::max(most, r->per_second[g]);
    double y = std::max(at(p.y, static_cast<double>(most)), kMainTop);
    double from = static_cast<double>(r->seconds_origin_ms) + 1000.0 * s;
    double x1 = at(p.x, std::max(from, p.x.lo)), x2 = at(p.x, std::min(from + 1000.0 * group, p.x.hi));
    svg_number(w, x1);
    svg_text(w, ",");
    svg_number(w, y);
    svg_text(w, " ");
    svg_number(w, x2);
    svg_text(w, ",");
    svg_number(w, y);
    svg_text(w, " ");
  }
  svg_text(w, "\"/>\n");
}

struct Level {  // a labelled horizontal line
  double value;
  char label[80];
  const char* colour;
  const char* dash;
};

uint32_t rate_lines(const Picture& p, Level* lines) {
  uint32_t n = 0;
  lines[n] = {static_cast<double>(p.r->average), {}, "#444", "6 4"};
  std::snprintf(lines[n++].label, sizeof lines[0].label, "average %llu Kb/s",
                static_cast<unsigned long long>(bitrate_kilo(p.r->average)));
  if (p.labels->declared_bitrate > 0) {
    lines[n] = {static_cast<double>(p.labels->declared_bitrate), {}, "#000", "2 3"};
    std::snprintf(lines[n++].label, sizeof lines[0].label, "ASF stream %llu Kb/s",
                  static_cast<unsigned long long>(bitrate_kilo(p.labels->declared_bitrate)));
  }
  for (uint32_t b = 0; b < p.buckets; b++) {
    lines[n] = {static_cast<double>(p.r->buckets[b].rate), {}, kBucketColour[b], "9 3"};
    std::snprintf(lines[n++].label, sizeof lines[0].label, "bucket %u rate %llu Kb/s", b + 1,
                  static_cast<unsigned long long>(bitrate_kilo(p.r->buckets[b].rate)));
  }
  return n;
}

// The average, the declared and the buckets' rates, labels kept apart; a rate above the
// scale is named at the panel's top instead.
void labelled_lines(SvgWriter* w, const Picture& p) {
  Level lines[2 + kPlotMaxBuckets];
  uint32_t n = rate_lines(p, lines);
  for (uint32_t i = 1; i < n; i++) {  // lowest first, so that labels step upwards
    for (uint32_t j = i; j > 0 && lines[j].value < lines[j - 1].value; j--) std::swap(lines[j], lines[j - 1]);
  }
  double label_y = kMainBottom + 20, off_scale_x = kRight - 4;
  for (uint32_t i = 0; i < n; i++) {
    const char* halo = "text-anchor=\"end\" stroke=\"#fff\" stroke-width=\"3\" paint-order=\"stroke\"";
    if (lines[i].value > p.top_value) {
      text_at(w, off_scale_x, kMainTop - 6, halo);
      svg_printf(w, "&#8593; %s</text>\n", lines[i].label);
      off_scale_x -= 8.0 * static_cast<double>(std::strlen(lines[i].label)) + 24;
      continue;
    }
    double y = at(p.y, lines[i].value);
    svg_printf(w, "<path stroke=\"%s\" stroke-width=\"1.4\" stroke-dasharray=\"%s\" d=\"M%d ",
               lines[i].colour, lines[i].dash, static_cast<int>(kLeft));
    svg_number(w, y);
    svg_printf(w, "H%d\"/>\n", static_cast<int>(kRight));
    label_y = std::min(y - 4, label_y - 14);
    text_at(w, kRight - 4, std::max(label_y, kMainTop + 10), halo);
    svg_printf(w, "<tspan fill=\"%s\">%s</tspan></text>\n", lines[i].colour, lines[i].label);
  }
}

// Swatches for the classes the stream holds (the five always), key frames and the lines.
void legend(SvgWriter* w, const Picture& p) {
  uint8_t held = 0x1F;
  for (uint32_t i = 0; i < p.columns->count; i++) held |= p.columns->columns[i].classes;
  double x = kLeft, y = 78;
  for (uint32_t k = 0; k < kPlotClassCount; k++) {
    if ((held & (1u << k)) == 0) continue;
    svg_printf(w, "<rect y=\"%d\" width=\"12\" height=\"12\" fill=\"%s\" x=\"", static_cast<int>(y - 10),
               kClassColour[k]);
    svg_number(w, x);
    svg_text(w, "\"/>");
    text_at(w, x + 16, y, "");
    svg_printf(w, "%s</text>\n", kClassName[k]);
    x += 26 + 8.0 * static_cast<double>(std::strlen(kClassName[k]));
  }
  svg_text(w, "<path fill=\"#222\" d=\"M");
  svg_number(w, x + 6);
  svg_printf(w, " %d l-6 11h12z\"/>", static_cast<int>(y - 11));
  text_at(w, x + 16, y, "");
  svg_text(w, "key frame</text>\n");
  x += 100;
  line(w, x, y - 4, x + 22, y - 4, "stroke=\"#111\" stroke-width=\"1.8\"");
  text_at(w, x + 28, y, "");
  uint32_t group = (p.r->seconds + 999) / 1000;
  if (group > 1) {
    svg_printf(w, "bitrate of each second (highest of every %u s)</text>\n", group);
  } else {
    svg_text(w, "bitrate of each second</text>\n");
  }
  text_at(w, kRight, y, "text-anchor=\"end\" fill=\"#555\"");
  svg_text(w, "bars: a frame&#8217;s bits over one frame period</text>\n");
}

void figures_line(SvgWriter* w, const Picture& p) {
  const BitrateResults* r = p.r;
  text_at(w, kLeft, 52, "fill=\"#444\"");
  svg_printf(w, "%u frames, ", r->frames);
  thousandths(w, static_cast<double>(r->latest_ms - r->earliest_ms) + (r->period.num != 0 ? p.period_ms : 0),
              3);
  svg_printf(w, " s: average %llu Kb/s, peak %llu Kb/s (1 s from ",
             static_cast<unsigned long long>(bitrate_kilo(r->average)),
             static_cast<unsigned long long>(bitrate_kilo(r->peak_1s)));
  thousandths(w, static_cast<double>(r->peak_1s_from_ms), 3);
  svg_printf(w, " s), largest frame %u (%u bytes)", r->largest_frame, r->largest_frame_bytes);
  static const char* const kSource[3] = {"", " (median spacing)", ""};
  if (r->period.num != 0) {
    svg_text(w, "; frame period ");
    thousandths(w, p.period_ms * 1000, 3);
    svg_printf(w, " ms%s", kSource[r->period_source]);
  }
  svg_text(w, "</text>\n");
}

// The scales: time over the stream's span, rates up to the highest bar or second (and a
// declared rate near them), the buckets' levels from the lowest to the largest buffer.
Picture lay_out(const PlotColumns* c, const BitrateResults* r, const PlotLabels* labels) {
  Picture p = {c, r, labels, {}, {}, {}, 1000, 0, false, 0, 1, c->count};
  while (p.drawn > kRight - kLeft) {
    p.group *= 2;
    p.drawn = (c->count + p.group - 1) / p.group;
  }
  if (r->period.num != 0)
    p.period_ms = 1000.0 * static_cast<double>(r->period.num) / static_cast<double>(r->period.den);
  double end = std::max(static_cast<double>(r->latest_ms) + p.period_ms,
                        static_cast<double>(c->origin_ms) + static_cast<double>(c->count * c->width_ms));
  double start = std::min(static_cast<double>(r->earliest_ms), static_cast<double>(c->origin_ms));
  p.x = {start, std::max(end, start + 1), kLeft, kRight};
  double most = 1000;
  for (uint32_t i = 0; i < c->count; i++) {
    for (uint32_t k = 0; k < kPlotClassCount; k++)
      most = std::max(most, c->columns[i].largest[k] * 8000.0 / p.period_ms);
  }
  for (uint32_t s = 0; s < r->seconds; s++) most = std::max(most, static_cast<double>(r->per_second[s]));
  double with_lines = most;
  p.buckets = std::min(r->bucket_count, c->bucket_count);
  for (uint32_t b = 0; b < p.buckets; b++) {
    if (r->buckets[b].rate <= 1.5 * most)
      with_lines = std::max(with_lines, static_cast<double>(r->buckets[b].rate));
  }
  if (labels->declared_bitrate <= 1.5 * most)
    with_lines = std::max(with_lines, static_cast<double>(labels->declared_bitrate));
  double step = nice_step(with_lines * 1.05, 6);
  p.top_value = std::ceil(with_lines * 1.05 / step) * step;
  p.y = {0, p.top_value, kMainBottom, kMainTop};
  p.hrd = p.buckets > 0;
  double low = 0, high = 1000;
  for (uint32_t b = 0; b < p.buckets; b++) {
    low = std::min(low, static_cast<double>(r->buckets[b].lowest_fullness));
    high = std::max(high, static_cast<double>(r->buckets[b].buffer));
  }
  low = std::max(low, -high);  // a deeper deficit runs along the bottom; the heading gives it
  double level_step = nice_step((high - low) * 1.05, 4);
  double top = kHrdHeading + 16.0 * p.buckets;
  p.level = {std::floor(low / level_step) * level_step, std::ceil(high * 1.05 / level_step) * level_step,
             top + kHrdHeight, top};
  return p;
}

}  // namespace
}  // namespace plot_draw

bool plot_write_svg(const PlotColumns* c, const BitrateResults* r, const PlotLabels* labels, PlotSink sink) {
  using namespace plot_draw;
  SvgWriter w;
  svg_init(&w, sink);
  Picture p = lay_out(c, r, labels);
  int height = static_cast<int>((p.hrd ? p.level.px_lo : kMainBottom) + 52);
  svg_printf(
      &w,
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" "
      "height=\"%d\" viewBox=\"0 0 %d %d\" font-family=\"sans-serif\" font-size=\"12\">\n<title>",
      static_cast<int>(kWidth), height, static_cast<int>(kWidth), height);
  svg_escaped(&w, labels->title, labels->title_length, kTitleChars);
  svg_text(&w, "</title>\n<rect width=\"100%\" height=\"100%\" fill=\"#fff\"/>\n");
  text_at(&w, kLeft, 30, "font-size=\"18\" font-weight=\"bold\"");
  svg_escaped(&w, labels->title, labels->title_length, kTitleChars);
  svg_text(&w, "</text>\n");
  figures_line(&w, p);
  legend(&w, p);
  value_axis(&w, p.y, nice_step(p.top_value, 6), "bitrate (Kb/s)");
  time_axis(&w, p, kMainTop, kMainBottom);
  bytes_axis(&w, p);
  bars(&w, p);
  second_steps(&w, p);
  labelled_lines(&w, p);
  key_marks(&w, p);
  svg_printf(&w, "<rect x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\" fill=\"none\" stroke=\"#333\"/>\n",
             static_cast<int>(kLeft), static_cast<int>(kMainTop), static_cast<int>(kRight - kLeft),
             static_cast<int>(kMainBottom - kMainTop));
  if (p.hrd) draw_hrd_panel(&w, p);
  svg_text(&w, "</svg>\n");
  return svg_finish(&w);
}
