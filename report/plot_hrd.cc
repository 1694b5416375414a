// The bitrate picture's fullness panel: a row per leaky bucket, the buckets' fullness
// over time, and each first underflow marked across both panels (see plot.h).
#include <algorithm>
#include <cstdio>

#include "report/plot_draw.h"

namespace plot_draw {
namespace {

// The buckets' fullness: a line per bucket through each column's highest level before and
// lowest after a frame left (held inside the panel), its buffer size dashed.
void fullness(SvgWriter* w, const Picture& p) {
  double step = nice_step(p.level.hi - p.level.lo, 4);
  bool megabits = std::max(p.level.hi, -p.level.lo) >= 1e7;
  value_axis(w, megabits ? Axis{p.level.lo / 1000, p.level.hi / 1000, p.level.px_lo, p.level.px_hi} : p.level,
             megabits ? step / 1000 : step, megabits ? "bucket fullness (Mb)" : "bucket fullness (Kb)");
  for (uint32_t b = 0; b < p.buckets; b++) {
    double y = at(p.level, static_cast<double>(p.r->buckets[b].buffer));
    svg_printf(w, "<path stroke=\"%s\" stroke-dasharray=\"4 3\" d=\"M%d ", kBucketColour[b],
               static_cast<int>(kLeft));
    svg_number(w, y);
    svg_printf(w, "H%d\"/>\n", static_cast<int>(kRight));
    svg_printf(w, "<polyline fill=\"none\" stroke=\"%s\" stroke-width=\"1.3\" points=\"", kBucketColour[b]);
    for (uint32_t i = 0; i < p.drawn; i++) {
      PlotLevel l = drawn_level(p, b, i);
      if (l.high < l.low) continue;
      double x = drawn_x(p, i + 0.5);
      for (int64_t v : {l.high, l.low}) {
        svg_number(w, x);
        svg_text(w, ",");
        svg_number(w, at(p.level, std::max(static_cast<double>(v), p.level.lo)));
        svg_text(w, " ");
      }
    }
    svg_text(w, "\"/>\n");
  }
}

// Each bucket's first underflow: a red line across both panels, a ring on the zero line.
void underflows(SvgWriter* w, const Picture& p) {
  for (uint32_t b = 0; b < p.buckets; b++) {
    const BitrateBucketResult& r = p.r->buckets[b];
    if (r.holds) continue;
    double x = at(p.x, static_cast<double>(r.underflow_time_ms));
    line(w, x, kMainTop, x, p.level.px_lo, "stroke=\"#e00\" stroke-width=\"1.2\" stroke-dasharray=\"3 2\"");
    svg_text(w, "<circle r=\"5\" fill=\"none\" stroke=\"#e00\" stroke-width=\"2\" cx=\"");
    svg_number(w, x);
    svg_text(w, "\" cy=\"");
    svg_number(w, at(p.level, 0));
    svg_text(w, "\"/>\n");
  }
}

// A row above the fullness panel for each bucket: its rate, buffer and outcome.
void hrd_heading(SvgWriter* w, const Picture& p) {
  for (uint32_t b = 0; b < p.buckets; b++) {
    const BitrateBucketResult& r = p.r->buckets[b];
    double y = kHrdHeading + 16.0 * b;
    char style[48];
    std::snprintf(style, sizeof style, "stroke-width=\"2\" stroke=\"%s\"", kBucketColour[b]);
    line(w, kLeft, y - 4, kLeft + 22, y - 4, style);
    svg_printf(w, "<text fill=\"%s\" x=\"%d\" y=\"%d\">leaky bucket %u: rate %llu Kb/s, buffer %llu Kb, ",
               kBucketColour[b], static_cast<int>(kLeft + 28), static_cast<int>(y), b + 1,
               static_cast<unsigned long long>(bitrate_kilo(r.rate)),
               static_cast<unsigned long long>(bitrate_kilo(r.buffer)));
    if (r.holds) {
      svg_printf(w, "holds (lowest fullness %lld Kb)</text>\n",
                 static_cast<long long>(r.lowest_fullness / 1000));
      continue;
    }
    svg_printf(w, "<tspan fill=\"#d00\" font-weight=\"bold\">underflow at frame %u (", r.underflow_frame);
    thousandths(w, static_cast<double>(r.underflow_time_ms), 3);
    svg_printf(w, " s)</tspan>, lowest fullness %lld Kb</text>\n",
               static_cast<long long>(r.lowest_fullness / 1000));
  }
}

}  // namespace

void draw_hrd_panel(SvgWriter* w, const Picture& p) {
  hrd_heading(w, p);
  time_axis(w, p, p.level.px_hi, p.level.px_lo);
  fullness(w, p);
  svg_printf(w, "<rect x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\" fill=\"none\" stroke=\"#333\"/>\n",
             static_cast<int>(kLeft), static_cast<int>(p.level.px_hi), static_cast<int>(kRight - kLeft),
             static_cast<int>(kHrdHeight));
  underflows(w, p);
}

}  // namespace plot_draw
