// The bitrate picture (--plot=FILE.svg): one self-contained SVG document, no script, no
// external file, fonts by generic family only, that browsers and librsvg show alike.
//
// What it shows, top to bottom: the title (the input's name) and a line of the figures;
// a legend; the frame sizes over time as bars coloured by picture type, key frames marked
// by triangles under the time axis, with the one-second bitrate as a step line and the
// average, the declared (ASF) bitrate and each leaky bucket's rate as labelled horizontal
// lines, on axes in seconds and Kb/s (a frame's bar is its bits over one frame period, so
// it stands on the same scale; the right-hand axis gives the same heights in frame bytes);
// and, when the headers declare leaky buckets, each bucket's fullness over time in a panel
// of its own, with its buffer size dashed and the first underflow marked across both
// panels.
//
// Memory and size stay flat: frames are gathered into at most kPlotMaxColumns columns of
// equal width in time. The width starts at 1 ms; when a frame would fall past the last
// column, neighbouring columns are merged pairwise and the width doubles. Each column keeps,
// per picture class, its largest frame, and whether it holds a key frame; per leaky bucket,
// the highest fullness before and the lowest after a frame left. A column's bar is drawn
// as one segment per class held, stacked from the smaller largest frame to the larger,
// so every class a column holds shows. Drawn per column and with one path per class, the
// document stays well under 1 MB however long the stream.
//
// The writer writes through a small output callback (PlotSink), buffered in 4 KiB
// pieces; plot_file_sink is one that writes to a platform file. No iostreams.
#ifndef TARVEL_REPORT_PLOT_H_
#define TARVEL_REPORT_PLOT_H_

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"
#include "report/bitrate.h"

constexpr uint32_t kPlotMaxColumns = 2000;
constexpr uint32_t kPlotMaxBuckets = 4;  // buckets drawn; the report lists every one

// Picture classes of the bars. Field pairs go by their first field.
enum PlotClass : uint8_t {
  kPlotI = 0,
  kPlotP = 1,
  kPlotB = 2,
  kPlotBI = 3,
  kPlotSkipped = 4,
  kPlotOther = 5,  // unclassified
  kPlotClassCount = 6,
};

PlotClass plot_class_of(int picture_type);

struct PlotColumn {
  uint32_t largest[kPlotClassCount];  // bytes of the class's largest frame
  uint8_t classes;                    // a bit per class held
  uint8_t key;                        // holds a key frame
};

// A bucket's fullness in one column: the highest level before a frame left and the lowest
// after; high < low when no frame left in the column.
struct PlotLevel {
  int64_t high;
  int64_t low;
};

struct PlotColumns {
  PlotColumn columns[kPlotMaxColumns];
  PlotLevel levels[kPlotMaxBuckets][kPlotMaxColumns];
  uint32_t bucket_count;  // buckets followed, kPlotMaxBuckets at most
  int64_t origin_ms;      // column c covers [origin + c * width, origin + (c + 1) * width)
  uint64_t width_ms;
  uint32_t count;  // columns in use
};

// Empty columns for `bucket_count` leaky buckets; null when their memory (about 300 KiB)
// cannot be had.
PlotColumns* plot_columns_create(uint32_t bucket_count);
void plot_columns_release(PlotColumns* columns);
// Where column 0 starts; the bitrate check calls it before the first frame. Clears the
// columns.
void plot_columns_start(PlotColumns* columns, int64_t origin_ms);
// A frame at its presentation time, and a bucket's level as a frame left it, at the time it
// left. A time before the origin moves the origin down (whole columns, merging when needed).
void plot_columns_add_frame(PlotColumns* columns, int64_t time_ms, uint32_t bytes, int picture_type,
                            bool key);
void plot_columns_add_level(PlotColumns* columns, uint32_t bucket, int64_t time_ms, int64_t before,
                            int64_t after);

// Where the document goes: `write` gets every byte in order and returns false on failure,
// after which nothing more is sent.
struct PlotSink {
  bool (*write)(void* context, const char* bytes, size_t length);
  void* context;
};
// A sink writing to `*file` with platform_write; a failure leaves its reason as the
// platform's last error.
PlotSink plot_file_sink(PlatformFile* file);

struct PlotLabels {
  const char* title;  // the input's name: any bytes (XML-escaped; not UTF-8 becomes U+FFFD)
  size_t title_length;
  uint64_t declared_bitrate;  // the ASF stream's bitrate, bit/s; 0: none
};

// Writes the picture of the finished check. Returns false when the sink failed.
bool plot_write_svg(const PlotColumns* columns, const BitrateResults* results, const PlotLabels* labels,
                    PlotSink sink);

#endif  // TARVEL_REPORT_PLOT_H_
