// The bitrate picture's columns and the file sink; the drawing is in plot_draw.cc.
#include "report/plot.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

int64_t floor_div(int64_t a, int64_t b) { return a / b - (a % b != 0 && (a < 0) != (b < 0)); }

void clear_columns(PlotColumns* p, uint32_t from, uint32_t to) {
  std::memset(static_cast<void*>(p->columns + from), 0, (to - from) * sizeof(PlotColumn));
  for (uint32_t n = 0; n < kPlotMaxBuckets; n++) {
    for (uint32_t c = from; c < to; c++) p->levels[n][c] = {INT64_MIN, INT64_MAX};
  }
}

void merge_into(PlotColumn* to, const PlotColumn& from) {
  for (uint32_t k = 0; k < kPlotClassCount; k++) to->largest[k] = std::max(to->largest[k], from.largest[k]);
  to->classes |= from.classes;
  to->key |= from.key;
}

// Neighbouring columns merged pairwise: the width doubles and the origin stays.
void merge_pairs(PlotColumns* p) {
  uint32_t count = (p->count + 1) / 2;
  for (uint32_t c = 0; c < count; c++) {
    PlotColumn merged = p->columns[2 * c];
    if (2 * c + 1 < p->count) merge_into(&merged, p->columns[2 * c + 1]);
    p->columns[c] = merged;
    for (uint32_t n = 0; n < kPlotMaxBuckets; n++) {
      PlotLevel level = p->levels[n][2 * c];
      if (2 * c + 1 < p->count) {
        level.high = std::max(level.high, p->levels[n][2 * c + 1].high);
        level.low = std::min(level.low, p->levels[n][2 * c + 1].low);
      }
      p->levels[n][c] = level;
    }
  }
  clear_columns(p, count, p->count);
  p->count = count;
  p->width_ms *= 2;
}

// Columns moved `shift` places on, for a time before the origin.
void shift_columns(PlotColumns* p, uint32_t shift) {
  std::memmove(static_cast<void*>(p->columns + shift), p->columns, p->count * sizeof(PlotColumn));
  for (uint32_t n = 0; n < kPlotMaxBuckets; n++) {
    std::memmove(p->levels[n] + shift, p->levels[n], p->count * sizeof(PlotLevel));
  }
  clear_columns(p, 0, shift);
  p->count += shift;
  p->origin_ms -= static_cast<int64_t>(shift * p->width_ms);
}

uint32_t column_of(PlotColumns* p, int64_t time_ms) {
  for (;;) {
    int64_t c = floor_div(time_ms - p->origin_ms, static_cast<int64_t>(p->width_ms));
    if (c >= 0 && c < kPlotMaxColumns) {
      p->count = std::max(p->count, static_cast<uint32_t>(c) + 1);
      return static_cast<uint32_t>(c);
    }
    if (c < 0 && p->count - c <= kPlotMaxColumns) {
      shift_columns(p, static_cast<uint32_t>(-c));
      return 0;
    }
    merge_pairs(p);
  }
}

bool write_file(void* context, const char* bytes, size_t length) {
  PlatformFile file = *static_cast<PlatformFile*>(context);
  while (length > 0) {
    uint32_t n = length > (1u << 30) ? (1u << 30) : static_cast<uint32_t>(length);
    uint32_t written = 0;
    if (!platform_write(file, bytes, n, &written)) return false;
    bytes += n;
    length -= n;
  }
  return true;
}

}  // namespace

PlotClass plot_class_of(int picture_type) {
  static const PlotClass kClasses[14] = {kPlotOther, kPlotI, kPlotP, kPlotB, kPlotBI, kPlotSkipped, kPlotI,
                                         kPlotI,     kPlotP, kPlotP, kPlotB, kPlotB,  kPlotBI,      kPlotBI};
  return picture_type >= 0 && picture_type < 14 ? kClasses[picture_type] : kPlotOther;
}

PlotColumns* plot_columns_create(uint32_t bucket_count) {
  PlotColumns* p = static_cast<PlotColumns*>(std::malloc(sizeof(PlotColumns)));
  if (p == nullptr) return nullptr;
  p->bucket_count = std::min(bucket_count, kPlotMaxBuckets);
  plot_columns_start(p, 0);
  return p;
}

void plot_columns_release(PlotColumns* columns) { std::free(columns); }

void plot_columns_start(PlotColumns* p, int64_t origin_ms) {
  clear_columns(p, 0, kPlotMaxColumns);
  p->origin_ms = origin_ms;
  p->width_ms = 1;
  p->count = 0;
}

void plot_columns_add_frame(PlotColumns* p, int64_t time_ms, uint32_t bytes, int picture_type, bool key) {
  PlotColumn* column = &p->columns[column_of(p, time_ms)];
  PlotClass k = plot_class_of(picture_type);
  column->largest[k] = std::max(column->largest[k], bytes);
  column->classes |= static_cast<uint8_t>(1u << k);
  column->key |= key ? 1 : 0;
}

void plot_columns_add_level(PlotColumns* p, uint32_t bucket, int64_t time_ms, int64_t before, int64_t after) {
  if (bucket >= p->bucket_count) return;
  PlotLevel* level = &p->levels[bucket][column_of(p, time_ms)];
  level->high = std::max(level->high, before);
  level->low = std::min(level->low, after);
}

PlotSink plot_file_sink(PlatformFile* file) { return {write_file, file}; }
