// Bitrate figures and the leaky-bucket check: see bitrate.h for what is computed.
#include "report/bitrate.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "report/json.h"
#include "report/plot.h"

namespace {

constexpr uint64_t kMaxPeriodNum = uint64_t{1} << 32;
constexpr uint64_t kMaxPeriodDen = uint64_t{1} << 24;
constexpr int64_t kLowestLevel = -(int64_t{1} << 62);  // a deficit deeper than this is held here
constexpr uint64_t kMostInflow = uint64_t{1} << 62;    // more per period than any bucket can take

// floor(a * b / c) for c > 0, through a 128-bit product held in two halves; *remainder
// gets the rest. A quotient past 64 bits gives UINT64_MAX.
uint64_t mul_div(uint64_t a, uint64_t b, uint64_t c, uint64_t* remainder) {
  uint64_t a_lo = a & 0xFFFFFFFFu, a_hi = a >> 32, b_lo = b & 0xFFFFFFFFu, b_hi = b >> 32;
  uint64_t lo_lo = a_lo * b_lo, hi_lo = a_hi * b_lo, lo_hi = a_lo * b_hi, hi_hi = a_hi * b_hi;
  uint64_t middle = (lo_lo >> 32) + (hi_lo & 0xFFFFFFFFu) + (lo_hi & 0xFFFFFFFFu);
  uint64_t lo = (middle << 32) | (lo_lo & 0xFFFFFFFFu);
  uint64_t hi = hi_hi + (hi_lo >> 32) + (lo_hi >> 32) + (middle >> 32);
  if (hi >= c) {
    if (remainder != nullptr) *remainder = 0;
    return UINT64_MAX;
  }
  uint64_t q = 0, r = hi;
  for (int bit = 63; bit >= 0; bit--) {
    uint64_t carry = r >> 63;
    r = (r << 1) | ((lo >> bit) & 1);
    q <<= 1;
    if (carry != 0 || r >= c) {
      r -= c;
      q |= 1;
    }
  }
  if (remainder != nullptr) *remainder = r;
  return q;
}

uint64_t gcd(uint64_t a, uint64_t b) {
  while (b != 0) {
    uint64_t t = a % b;
    a = b;
    b = t;
  }
  return a;
}

BitratePeriod reduced(uint64_t num, uint64_t den) {
  if (num == 0 || den == 0) return {0, 0};
  uint64_t g = gcd(num, den);
  BitratePeriod p = {num / g, den / g};
  return bitrate_period_known(p) ? p : BitratePeriod{0, 0};
}

int64_t floor_div(int64_t a, int64_t b) { return a / b - (a % b != 0 && (a < 0) != (b < 0)); }

uint32_t slot_of(int64_t ms) {
  return static_cast<uint32_t>(ms - floor_div(ms, kBitratePeakSlots) * kBitratePeakSlots);
}

struct HeadFrame {
  int64_t time_ms;
  uint32_t bytes;
  uint8_t picture_type;
  uint8_t key;
};

// One leaky bucket's level: whole bits plus frac / den of a bit, 0 <= frac < den.
struct Bucket {
  BitrateBucketResult result;
  int64_t level;
  uint64_t frac;
  uint64_t inflow;  // whole bits per period, held at kMostInflow
  uint64_t inflow_frac;
};

}  // namespace

struct BitrateCheck {
  BitrateSettings settings;
  BitratePeriod period;
  BitratePeriodSource period_source;
  HeadFrame head[kBitrateHeadFrames];
  uint32_t head_count;
  bool laid;  // the period and the origin are known; frames go straight through
  // Over every frame, as it comes.
  uint32_t frames;
  uint64_t total_bits;
  int64_t earliest, latest;
  uint32_t largest_frame, largest_bytes;
  // Frames through the timeline; frame `placed` leaves the buckets at first_time +
  // leave_ms + leave_frac / period.den (kept so, not recomputed for each frame).
  uint32_t placed;
  int64_t first_time;
  int64_t leave_ms;
  uint64_t leave_frac;
  uint64_t period_ms, period_ms_frac;  // one period: period_ms + period_ms_frac / period.den ms
  // Per second.
  int64_t origin;
  uint64_t* seconds;
  uint32_t second_count, second_capacity, seconds_missed;
  // The peak window: slot ms % kBitratePeakSlots holds the frames of ms, for
  // ms in [slot_base, slot_base + kBitratePeakSlots); window = the bits of [slot_base, +1000).
  uint64_t slot_bits[kBitratePeakSlots];
  uint32_t slot_frames[kBitratePeakSlots];
  uint64_t occupied[kBitratePeakSlots / 64];  // bit slot % 64 of word slot / 64: slot_frames > 0
  int64_t slot_base;
  uint32_t ring_frames;
  uint64_t window;
  bool peak_set;
  uint64_t peak;
  int64_t peak_from;
  uint32_t peak_missed;
  uint32_t bucket_count;
  Bucket buckets[kBitrateMaxBuckets];
};

bool bitrate_period_known(BitratePeriod period) {
  return period.num >= 1 && period.num <= kMaxPeriodNum && period.den >= 1 && period.den <= kMaxPeriodDen;
}

BitratePeriod bitrate_period_from_100ns(uint64_t units) { return reduced(units, 10000000); }

BitratePeriod bitrate_period_from_frame_rate(uint64_t fps_num, uint64_t fps_den) {
  return reduced(fps_den, fps_num);
}

uint64_t bitrate_kilo(uint64_t bits) { return bits / 1000 + (bits % 1000 >= 500); }

namespace {

// The median of the positive spacings of the held frames' times, as a period.
BitratePeriod median_spacing(const BitrateCheck* c) {
  int64_t times[kBitrateHeadFrames];
  uint32_t n = c->head_count;
  for (uint32_t i = 0; i < n; i++) times[i] = c->head[i].time_ms;
  std::sort(times, times + n);
  int64_t spacings[kBitrateHeadFrames];
  uint32_t count = 0;
  for (uint32_t i = 1; i < n; i++) {
    if (times[i] > times[i - 1]) spacings[count++] = times[i] - times[i - 1];
  }
  if (count == 0) return {0, 0};
  std::sort(spacings, spacings + count);
  return reduced(static_cast<uint64_t>(spacings[(count - 1) / 2]), 1000);
}

void start_bucket(BitrateCheck* c, uint32_t n) {
  const BitrateHrd& hrd = c->settings.hrd;
  Bucket* b = &c->buckets[n];
  *b = {};
  b->result.bucket = n + 1;
  b->result.holds = true;
  b->result.rate = (uint64_t{hrd.rate[n] & 0xFFFFu} + 1) << (6 + (hrd.bit_rate_exponent & 15));
  b->result.buffer = (uint64_t{hrd.buffer[n] & 0xFFFFu} + 1) << (4 + (hrd.buffer_size_exponent & 15));
  b->result.initial_fullness = (uint64_t{hrd.full[n] & 0xFFu} + 1) * b->result.buffer / 256;
  b->result.lowest_fullness = static_cast<int64_t>(b->result.initial_fullness);
  b->level = static_cast<int64_t>(b->result.initial_fullness);
  if (c->period.num != 0) {
    b->inflow = mul_div(b->result.rate, c->period.num, c->period.den, &b->inflow_frac);
    if (b->inflow >= kMostInflow) b->inflow = kMostInflow, b->inflow_frac = 0;
  }
}

// Frame k (0-based) leaves every bucket at t_first + k * T.
void drain_buckets(BitrateCheck* c, uint64_t bits, uint32_t k) {
  int64_t leaves_at = c->first_time + std::min(c->leave_ms, kBitrateTimeLimit);
  c->leave_ms += static_cast<int64_t>(c->period_ms);
  c->leave_frac += c->period_ms_frac;
  if (c->leave_frac >= c->period.den && c->period.den != 0) {
    c->leave_frac -= c->period.den;
    c->leave_ms++;
  }
  for (uint32_t n = 0; n < c->bucket_count; n++) {
    Bucket* b = &c->buckets[n];
    if (b->result.holds && static_cast<int64_t>(bits) > b->level) {
      b->result.holds = false;
      b->result.underflow_frame = k + 1;
      b->result.underflow_time_ms = leaves_at;
    }
    int64_t after = std::max(b->level - static_cast<int64_t>(bits), kLowestLevel);
    b->result.lowest_fullness = k == 0 ? after : std::min(b->result.lowest_fullness, after);
    if (c->settings.plot != nullptr) plot_columns_add_level(c->settings.plot, n, leaves_at, b->level, after);
    b->frac += b->inflow_frac;
    int64_t carry = b->frac >= c->period.den && c->period.den != 0;
    if (carry != 0) b->frac -= c->period.den;
    b->level = after + static_cast<int64_t>(b->inflow) + carry;
    if (b->level >= static_cast<int64_t>(b->result.buffer)) {
      b->level = static_cast<int64_t>(b->result.buffer);
      b->frac = 0;
    }
  }
}

bool hold_seconds(BitrateCheck* c, uint32_t need) {
  if (need > kBitrateMaxSeconds) return false;
  if (need <= c->second_capacity) return true;
  uint32_t capacity = std::min(std::max(need, c->second_capacity * 2), kBitrateMaxSeconds);
  void* larger = std::realloc(c->seconds, capacity * sizeof *c->seconds);
  if (larger == nullptr) return false;
  c->seconds = static_cast<uint64_t*>(larger);
  c->second_capacity = capacity;
  return true;
}

void count_second(BitrateCheck* c, int64_t time_ms, uint64_t bits) {
  int64_t s = floor_div(time_ms - c->origin, 1000);
  if (s < 0 && -s < kBitrateMaxSeconds && hold_seconds(c, c->second_count + static_cast<uint32_t>(-s))) {
    uint32_t shift = static_cast<uint32_t>(-s);
    std::memmove(c->seconds + shift, c->seconds, c->second_count * sizeof *c->seconds);
    std::fill(c->seconds, c->seconds + shift, 0);
    c->second_count += shift;
    c->origin -= 1000 * int64_t{shift};
    s = 0;
  }
  if (s < 0 || s >= kBitrateMaxSeconds || !hold_seconds(c, static_cast<uint32_t>(s) + 1)) {
    c->seconds_missed++;
    return;
  }
  for (; c->second_count <= s; c->second_count++) c->seconds[c->second_count] = 0;
  c->seconds[s] += bits;
}

}  // namespace

namespace {

// The window that starts at slot_base is complete: a candidate when a frame starts there.
// Then the ring moves on by one millisecond.
void advance_peak(BitrateCheck* c) {
  uint32_t at = slot_of(c->slot_base);
  if (c->slot_frames[at] > 0 && (!c->peak_set || c->window > c->peak)) {
    c->peak_set = true;
    c->peak = c->window;
    c->peak_from = c->slot_base;
  }
  c->window -= c->slot_bits[at];
  c->ring_frames -= c->slot_frames[at];
  c->slot_bits[at] = 0;
  c->slot_frames[at] = 0;
  c->occupied[at / 64] &= ~(uint64_t{1} << (at % 64));
  c->slot_base++;
  c->window += c->slot_bits[slot_of(c->slot_base + 999)];
}

// The first millisecond in [from, limit) whose slot holds a frame, else limit; the range
// lies inside the ring. Looks at up to 64 slots at a time.
int64_t next_occupied(const BitrateCheck* c, int64_t from, int64_t limit) {
  while (from < limit) {
    uint32_t at = slot_of(from);
    uint64_t bits = c->occupied[at / 64] >> (at % 64);
    if (bits != 0) return std::min(from + std::countr_zero(bits), limit);
    from += 64 - at % 64;
  }
  return limit;
}

// Moves the window's start towards `target`, until every frame held has left it. The steps
// at which no frame leaves or enters the window change nothing but the start: they are
// taken in one.
void advance_peak_to(BitrateCheck* c, int64_t target) {
  int64_t ring_end = c->slot_base + kBitratePeakSlots;
  while (c->slot_base < target && c->ring_frames > 0) {
    uint32_t leaving = slot_of(c->slot_base), entering = slot_of(c->slot_base + 1000);
    bool enters = c->slot_base + 1000 < ring_end && (c->occupied[entering / 64] >> (entering % 64) & 1);
    if (enters || (c->occupied[leaving / 64] >> (leaving % 64) & 1)) {
      advance_peak(c);
      continue;
    }
    // A frame at ms s leaves at the step from s; one at e enters at the step from e - 1000.
    int64_t leave = next_occupied(c, c->slot_base, std::min(target, ring_end));
    int64_t enter = next_occupied(c, c->slot_base + 1000, std::min(target + 1000, ring_end)) - 1000;
    int64_t next = std::min({leave, enter, target});
    if (next > c->slot_base) {
      c->slot_base = next;
      continue;
    }
    advance_peak(c);
  }
}

void count_peak(BitrateCheck* c, int64_t time_ms, uint64_t bits) {
  if (time_ms >= c->slot_base + kBitratePeakSlots) {
    if (c->ring_frames > 0) advance_peak_to(c, time_ms - (kBitratePeakSlots - 1));
    if (c->ring_frames == 0) {  // nothing held: the ring starts over, with room for late frames
      c->slot_base = time_ms - (kBitratePeakSlots - 1000);
      c->window = 0;
    }
  }
  if (time_ms < c->slot_base) {
    c->peak_missed++;
    return;
  }
  uint32_t at = slot_of(time_ms);
  c->slot_bits[at] += bits;
  c->slot_frames[at]++;
  c->occupied[at / 64] |= uint64_t{1} << (at % 64);
  c->ring_frames++;
  if (time_ms < c->slot_base + 1000) c->window += bits;
}

// One frame through the timeline: seconds, peak, buckets and the picture.
void place(BitrateCheck* c, const HeadFrame& f) {
  uint64_t bits = uint64_t{f.bytes} * 8;
  if (c->placed == 0) {
    c->first_time = f.time_ms;
    c->slot_base = f.time_ms - (kBitratePeakSlots - 1000);
  }
  count_second(c, f.time_ms, bits);
  count_peak(c, f.time_ms, bits);
  drain_buckets(c, bits, c->placed);
  if (c->settings.plot != nullptr)
    plot_columns_add_frame(c->settings.plot, f.time_ms, f.bytes, f.picture_type, f.key);
  c->placed++;
}

// The held frames decide the period and the origin, then go through the timeline.
void lay_timeline(BitrateCheck* c) {
  c->laid = true;
  c->period = c->settings.period;
  c->period_source = kBitratePeriodGiven;
  if (!bitrate_period_known(c->period)) {
    c->period = median_spacing(c);
    c->period_source = bitrate_period_known(c->period) ? kBitratePeriodMedian : kBitratePeriodNone;
  }
  c->origin = c->head_count > 0 ? c->head[0].time_ms : 0;
  for (uint32_t i = 0; i < c->head_count; i++) c->origin = std::min(c->origin, c->head[i].time_ms);
  if (c->settings.plot != nullptr) plot_columns_start(c->settings.plot, c->origin);
  for (uint32_t n = 0; n < c->bucket_count; n++) start_bucket(c, n);
  if (c->period.num != 0) c->period_ms = mul_div(c->period.num, 1000, c->period.den, &c->period_ms_frac);
  for (uint32_t i = 0; i < c->head_count; i++) place(c, c->head[i]);
}

}  // namespace

BitrateCheck* bitrate_check_create(const BitrateSettings* settings) {
  BitrateCheck* c = static_cast<BitrateCheck*>(std::calloc(1, sizeof(BitrateCheck)));
  if (c == nullptr) return nullptr;
  c->settings = *settings;
  c->bucket_count = std::min(settings->hrd.bucket_count, kBitrateMaxBuckets);
  return c;
}

void bitrate_check_frame(BitrateCheck* c, uint32_t bytes, int64_t time_ms, int picture_type, bool key) {
  time_ms = std::clamp(time_ms, -kBitrateTimeLimit, kBitrateTimeLimit);
  uint64_t bits = uint64_t{bytes} * 8;
  c->frames++;
  c->total_bits += bits;
  c->earliest = c->frames == 1 ? time_ms : std::min(c->earliest, time_ms);
  c->latest = c->frames == 1 ? time_ms : std::max(c->latest, time_ms);
  if (c->frames == 1 || bytes > c->largest_bytes) {
    c->largest_frame = c->frames;
    c->largest_bytes = bytes;
  }
  HeadFrame f = {time_ms, bytes,
                 static_cast<uint8_t>(picture_type >= 0 && picture_type < 14 ? picture_type : 0),
                 static_cast<uint8_t>(key ? 1 : 0)};
  if (c->laid) {
    place(c, f);
    return;
  }
  c->head[c->head_count++] = f;
  if (c->head_count == kBitrateHeadFrames) lay_timeline(c);
}

void bitrate_check_finish(BitrateCheck* c, BitrateResults* r) {
  if (!c->laid) lay_timeline(c);
  if (c->ring_frames > 0) advance_peak_to(c, c->slot_base + kBitratePeakSlots);
  *r = {};
  r->frames = c->frames;
  r->total_bits = c->total_bits;
  r->earliest_ms = c->earliest;
  r->latest_ms = c->latest;
  r->period = c->period;
  r->period_source = c->period_source;
  uint64_t den = c->period.num != 0 ? c->period.den : 1;
  uint64_t duration = static_cast<uint64_t>(c->latest - c->earliest) * den + 1000 * c->period.num;
  r->average = c->frames > 0 && duration > 0 ? mul_div(c->total_bits, 1000 * den, duration, nullptr) : 0;
  r->peak_1s = c->peak;
  r->peak_1s_from_ms = c->peak_from;
  r->peak_missed = c->peak_missed;
  r->largest_frame = c->largest_frame;
  r->largest_frame_bytes = c->largest_bytes;
  r->per_second = c->seconds;
  r->seconds = c->second_count;
  r->seconds_origin_ms = c->origin;
  r->seconds_missed = c->seconds_missed;
  r->bucket_count = c->bucket_count;
  for (uint32_t n = 0; n < c->bucket_count; n++) r->buckets[n] = c->buckets[n].result;
}

void bitrate_check_release(BitrateCheck* c) {
  if (c == nullptr) return;
  std::free(c->seconds);
  std::free(c);
}

namespace {

// "%.3f" of a millisecond count, from integers.
void format_seconds(int64_t ms, char* out, size_t size) {
  uint64_t magnitude = ms < 0 ? 0 - static_cast<uint64_t>(ms) : static_cast<uint64_t>(ms);
  std::snprintf(out, size, "%s%llu.%03u", ms < 0 ? "-" : "",
                static_cast<unsigned long long>(magnitude / 1000), static_cast<unsigned>(magnitude % 1000));
}

}  // namespace

void bitrate_format_summary(const BitrateResults* r, char* line, size_t size) {
  char from[32];
  format_seconds(r->peak_1s_from_ms, from, sizeof from);
  std::snprintf(line, size,
                "Bitrate: average %llu Kb/s, peak %llu Kb/s (1 s from %s s), largest frame %u (%u bytes)\n",
                static_cast<unsigned long long>(bitrate_kilo(r->average)),
                static_cast<unsigned long long>(bitrate_kilo(r->peak_1s)), from, r->largest_frame,
                r->largest_frame_bytes);
}

void bitrate_format_bucket(const BitrateBucketResult* b, char* line, size_t size) {
  int n = std::snprintf(line, size, "HRD leaky bucket %u (rate %llu Kb/s, buffer %llu Kb): ", b->bucket,
                        static_cast<unsigned long long>(bitrate_kilo(b->rate)),
                        static_cast<unsigned long long>(bitrate_kilo(b->buffer)));
  if (n < 0 || static_cast<size_t>(n) >= size) return;
  if (b->holds) {
    std::snprintf(line + n, size - n, "holds\n");
    return;
  }
  char at[32];
  format_seconds(b->underflow_time_ms, at, sizeof at);
  std::snprintf(line + n, size - n, "underflow at frame %u (%s s)\n", b->underflow_frame, at);
}

void bitrate_write_json(JsonWriter* json, const BitrateResults* r) {
  json_begin_object(json, "bitrate");
  json_uint(json, "average", r->average);
  json_uint(json, "peak_1s", r->peak_1s);
  json_int(json, "peak_1s_from_ms", r->peak_1s_from_ms);
  json_uint(json, "largest_frame", r->largest_frame);
  json_uint(json, "largest_frame_bytes", r->largest_frame_bytes);
  json_begin_array(json, "per_second", kJsonOneLine);
  for (uint32_t s = 0; s < r->seconds; s++) json_uint(json, nullptr, r->per_second[s]);
  json_end(json);
  json_end(json);
  json_begin_array(json, "hrd");
  for (uint32_t n = 0; n < r->bucket_count; n++) {
    const BitrateBucketResult& b = r->buckets[n];
    json_begin_object(json, nullptr, kJsonOneLine);
    json_uint(json, "bucket", b.bucket);
    json_uint(json, "rate", b.rate);
    json_uint(json, "buffer", b.buffer);
    json_uint(json, "initial_fullness", b.initial_fullness);
    json_bool(json, "holds", b.holds);
    if (b.holds) {
      json_null(json, "underflow");
    } else {
      json_begin_object(json, "underflow");
      json_uint(json, "frame", b.underflow_frame);
      json_int(json, "time_ms", b.underflow_time_ms);
      json_end(json);
    }
    json_int(json, "lowest_fullness", b.lowest_fullness);
    json_end(json);
  }
  json_end(json);
}
