// Bitrate figures and the leaky-bucket (HRD) check of the frames written: plain data in,
// plain results out, in memory that does not grow with the stream.
//
// Fed one frame at a time in stream (write) order, with the frame's bytes as written (its
// start code and any headers written before it included), its presentation time in
// milliseconds less the preroll (may be negative), its picture type (0..13, the demux's
// codes) and its key flag; then finished. All figures are in bits and bit/s, computed with
// integers only.
//
// What is computed (t_min and t_max: the earliest and the latest frame time; T: the frame
// period; frames numbered from 1 in stream order, frame k leaving the bucket at k - 1
// periods after the first frame's time):
//
//   average        total bits / (t_max - t_min + T), rounded down; 0 when that duration is 0
//   peak_1s        the most bits of frames whose times lie in [t, t + 1000 ms), over every t
//                  that is a frame's time; peak_1s_from_ms is the earliest such t
//   largest frame  the first frame of the most bytes: its number and its bytes
//   per second     second s holds the bits of the frames whose times lie in
//                  [origin + 1000 s, origin + 1000 (s + 1)) ms, for s = 0 to the second of the
//                  latest frame; the last one may be partial. origin is the earliest time of
//                  the first kBitrateHeadFrames frames, which is t_min unless a later frame is
//                  earlier still: then origin moves down by whole seconds to take it in
//   leaky bucket n R = (HRD_RATE[n] + 1) * 2^(6 + BIT_RATE_EXPONENT) bit/s,
//                  B = (HRD_BUFFER[n] + 1) * 2^(4 + BUFFER_SIZE_EXPONENT) bits,
//                  F = floor((HRD_FULL[n] + 1) * B / 256) bits (SMPTE 421M's definitions).
//                  The fullness before frame 1 leaves is F; before frame k + 1 leaves it is
//                  min(B, fullness_k - bits_k + R * T), kept exactly (in 1/den bit, T being
//                  num/den s) and never floored at zero. The first frame k with
//                  bits_k > fullness_k is the underflow: its number and its time, t_first +
//                  (k - 1) * T in ms rounded down (t_first: the first frame's own time, on
//                  the frames' clock). The lowest fullness is the least of
//                  fullness_k - bits_k over all frames (the level just after a frame has
//                  left), rounded down to whole bits: negative exactly when the bucket
//                  underflows, and then the deepest deficit. Without frames it is F.
//
// The frame period T is the caller's when it gives one (the ASF file's Average Time Per
// Frame, else the sequence header's frame rate). Otherwise it is the median of the
// positive spacings between the times of the first kBitrateHeadFrames frames taken in
// time order (the lower middle one of an even count), in whole milliseconds; with no
// positive spacing there (fewer than two frames, or all at one time) T is 0: no inflow,
// and the average's duration is t_max - t_min alone.
//
// Memory: the first kBitrateHeadFrames frames are held (a few KiB) until T and the
// origin are known, then replayed; after that each frame costs O(1) work and no memory.
// The peak window works on a ring of kBitratePeakSlots one-millisecond slots, so a frame
// up to kBitratePeakSlots - 1000 ms (1,048 ms) earlier than the latest one still counts
// in it; one later still is left out of the peak only (peak_missed counts those). The
// per-second list grows by one entry (8 bytes) per second of the stream, kBitrateMaxSeconds
// at most; frames past that (a damaged timeline) are counted in seconds_missed only.
// Times are held to +-2^36 ms (about two years).
//
// The hook-up into a run, around the demux (the header is known by then):
//
//   BitrateSettings s = {};
//   s.period = bitrate_period_from_100ns(settings.avg_time_per_frame);      // the ASF period,
//   if (!bitrate_period_known(s.period))                                    // else the header's
//     s.period = bitrate_period_from_frame_rate(fps_num, fps_den);         //   frame rate
//   s.hrd = {HRD_NUM_LEAKY_BUCKETS, BIT_RATE_EXPONENT, BUFFER_SIZE_EXPONENT, HRD_RATE[],
//            HRD_BUFFER[], HRD_FULL[]} from the output headers' table (all 0 without
//            HRD_PARAM_FLAG);
//   s.plot = plot_columns_create(s.hrd.bucket_count);   // only with --plot (plot.h)
//   BitrateCheck* check = bitrate_check_create(&s);     // before the demux; null: no memory
//   bitrate_check_frame(check, bytes, time_less_preroll(time, preroll), type, key);
//                                                       // in the sink, for each frame written
//   BitrateResults r;
//   bitrate_check_finish(check, &r);                    // after the demux, before the summary
//   bitrate_format_summary(&r, line, size), then bitrate_format_bucket(&r.buckets[n], ...)
//                                                       // each printed at level 1 after it
//   bitrate_write_json(json, &r);                       // after "summary"
//   plot_write_svg(s.plot, &r, &labels, plot_file_sink(&file));  // --plot
//   bitrate_check_release(check); plot_columns_release(s.plot);
#ifndef TARVEL_REPORT_BITRATE_H_
#define TARVEL_REPORT_BITRATE_H_

#include <cstddef>
#include <cstdint>

struct JsonWriter;
struct PlotColumns;

constexpr uint32_t kBitrateMaxBuckets = 31;  // HRD_NUM_LEAKY_BUCKETS is a 5-bit field
constexpr uint32_t kBitrateHeadFrames = 512;
constexpr uint32_t kBitratePeakSlots = 2048;
constexpr uint32_t kBitrateMaxSeconds = 86400;  // one day
constexpr int64_t kBitrateTimeLimit = int64_t{1} << 36;

// A frame period of num/den seconds. Known when 1 <= num <= 2^32 and 1 <= den <= 2^24
// (reduced); any other value is taken as unknown. {0, 0} is unknown.
struct BitratePeriod {
  uint64_t num;
  uint64_t den;
};

bool bitrate_period_known(BitratePeriod period);
// Average Time Per Frame in 100-ns units (0: unknown).
BitratePeriod bitrate_period_from_100ns(uint64_t units);
// A frame rate of fps_num / fps_den frames per second (either 0: unknown). For the sequence
// header: FRAMERATENR / FRAMERATEDR give (24000, 1000) for 24 fps, (30000, 1001) for 29.97;
// FRAMERATEEXP gives (FRAMERATEEXP + 1, 32).
BitratePeriod bitrate_period_from_frame_rate(uint64_t fps_num, uint64_t fps_den);

enum BitratePeriodSource : uint8_t {
  kBitratePeriodGiven = 0,   // the caller's
  kBitratePeriodMedian = 1,  // the median spacing of the first frames' times
  kBitratePeriodNone = 2,    // none could be found: T = 0
};

// The leaky buckets as the headers declare them; bucket_count 0: no HRD parameters.
struct BitrateHrd {
  uint32_t bucket_count;                // HRD_NUM_LEAKY_BUCKETS; more than kBitrateMaxBuckets: that many
  uint32_t bit_rate_exponent;           // BIT_RATE_EXPONENT, 4 bits
  uint32_t buffer_size_exponent;        // BUFFER_SIZE_EXPONENT, 4 bits
  uint32_t rate[kBitrateMaxBuckets];    // HRD_RATE, bucket n at [n - 1]; 16 bits
  uint32_t buffer[kBitrateMaxBuckets];  // HRD_BUFFER; 16 bits
  uint32_t full[kBitrateMaxBuckets];    // HRD_FULL of the first entry point; 8 bits
};

struct BitrateSettings {
  BitratePeriod period;  // unknown: derived from the frames' times
  BitrateHrd hrd;
  PlotColumns* plot;  // the picture's columns, fed as frames go (plot.h); null: none
};

struct BitrateBucketResult {
  uint32_t bucket;            // 1-based
  uint64_t rate;              // R, bit/s
  uint64_t buffer;            // B, bits
  uint64_t initial_fullness;  // F, bits
  bool holds;                 // no frame needed more bits than the bucket held
  uint32_t underflow_frame;   // 1-based; 0 when it holds
  int64_t underflow_time_ms;  // on the frames' clock (less the preroll)
  int64_t lowest_fullness;    // bits; negative when it underflows
};

struct BitrateResults {
  uint32_t frames;
  uint64_t total_bits;
  int64_t earliest_ms;  // t_min (0 without frames)
  int64_t latest_ms;    // t_max
  BitratePeriod period;
  BitratePeriodSource period_source;
  uint64_t average;  // bit/s
  uint64_t peak_1s;  // bit/s
  int64_t peak_1s_from_ms;
  uint32_t peak_missed;          // frames too late for the peak window
  uint32_t largest_frame;        // 1-based; 0 without frames
  uint32_t largest_frame_bytes;  // as given: the bytes written for it
  const uint64_t* per_second;    // bit/s of each second; owned by the check, valid until released
  uint32_t seconds;
  int64_t seconds_origin_ms;  // where second 0 starts
  uint32_t seconds_missed;    // frames outside the per-second list
  uint32_t bucket_count;
  BitrateBucketResult buckets[kBitrateMaxBuckets];
};

struct BitrateCheck;

// A check with the settings copied in; null when its memory cannot be had (a few tens of
// KiB).
BitrateCheck* bitrate_check_create(const BitrateSettings* settings);
void bitrate_check_frame(BitrateCheck* check, uint32_t bytes, int64_t time_ms, int picture_type, bool key);
// Ends the stream and fills the results; no frame may follow. The plot columns, when given,
// are complete from here on.
void bitrate_check_finish(BitrateCheck* check, BitrateResults* results);
void bitrate_check_release(BitrateCheck* check);

// Kb/s and Kb as the text shows them: (x + 500) / 1000.
uint64_t bitrate_kilo(uint64_t bits);

// The level-1 summary lines, each ending in "\n", into `line` (cut to `size`):
//   "Bitrate: average %d Kb/s, peak %d Kb/s (1 s from %.3f s), largest frame %u (%u bytes)\n"
//   "HRD leaky bucket %d (rate %d Kb/s, buffer %d Kb): holds\n", or
//   "HRD leaky bucket %d (rate %d Kb/s, buffer %d Kb): underflow at frame %u (%.3f s)\n"
// The seconds are printed from whole milliseconds, with no floating point.
void bitrate_format_summary(const BitrateResults* results, char* line, size_t size);
void bitrate_format_bucket(const BitrateBucketResult* bucket, char* line, size_t size);

// The document's members "bitrate" (an object) and "hrd" (an array, empty without HRD
// parameters), written into the object open at the writer.
void bitrate_write_json(JsonWriter* json, const BitrateResults* results);

#endif  // TARVEL_REPORT_BITRATE_H_
