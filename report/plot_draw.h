// The bitrate picture's drawing, shared by its two files: the layout, the scales and the
// small pieces both panels draw with. For plot_draw.cc and plot_hrd.cc alone.
#ifndef TARVEL_REPORT_PLOT_DRAW_H_
#define TARVEL_REPORT_PLOT_DRAW_H_

#include <cstddef>
#include <cstdint>

#include "report/plot.h"
#include "report/svg_writer.h"

namespace plot_draw {

constexpr double kWidth = 1200, kLeft = 84, kRight = 1116;
constexpr double kMainTop = 96, kMainBottom = 456;
constexpr double kHrdHeading = 526,
                 kHrdHeight = 160;  // the fullness panel, under the rows naming the buckets
constexpr size_t kTitleChars = 100;

inline const char* const kClassColour[kPlotClassCount] = {"#d62728", "#1f77b4", "#2ca02c",
                                                          "#ff7f0e", "#8c8c8c", "#9467bd"};
inline const char* const kClassName[kPlotClassCount] = {"I", "P", "B", "BI", "skipped", "other"};
inline const char* const kBucketColour[kPlotMaxBuckets] = {"#6a3d9a", "#b15928", "#17becf", "#e377c2"};

// A linear map from values to pixels.
struct Axis {
  double lo, hi;
  double px_lo, px_hi;
};

struct Picture {
  const PlotColumns* columns;
  const BitrateResults* r;
  const PlotLabels* labels;
  Axis x, y, level;
  double period_ms;  // a bar's frame period; 1000 when none is known
  double top_value;  // the rate scale's top, bit/s
  bool hrd;
  uint32_t buckets;  // drawn
  uint32_t group;    // columns to a drawn column: a power of two
  uint32_t drawn;    // drawn columns
};

double at(const Axis& a, double v);
// 1, 2 or 5 times a power of ten, at least span / ticks.
double nice_step(double span, double ticks);
// Decimals that a step needs in a unit of 1000 (ms as s, bit/s as Kb/s).
int decimals_of(double step);
// value / 1000 with `decimals` decimals and a full stop, whatever the locale.
void thousandths(SvgWriter* w, double value, int decimals);
void line(SvgWriter* w, double x1, double y1, double x2, double y2, const char* style);
// Opens a <text> element at (x, y) with the attributes given; the caller ends it.
void text_at(SvgWriter* w, double x, double y, const char* attributes);
// Time ticks, grid and labels under a panel.
void time_axis(SvgWriter* w, const Picture& p, double top, double bottom);
// Value ticks, grid and labels left of a panel; `unit` names the axis.
void value_axis(SvgWriter* w, const Axis& a, double step, const char* unit);
// A bucket's levels over drawn column i, and where drawn column i (or a part of it) starts.
PlotLevel drawn_level(const Picture& p, uint32_t b, uint32_t i);
double drawn_x(const Picture& p, double i);

// The buckets' rows, their fullness over time and the underflows (plot_hrd.cc).
void draw_hrd_panel(SvgWriter* w, const Picture& p);

}  // namespace plot_draw

#endif  // TARVEL_REPORT_PLOT_DRAW_H_
