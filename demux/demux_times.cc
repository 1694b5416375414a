// The timestamps file: the written frames' times, sorted within a window of the last
// few, written as the demux goes.
#include <cstdio>
#include <cstring>

#include "demux/demux.h"
#include "report/report.h"

namespace {

void write_out(FrameTimes* times) {
  if (times->failed || times->used == 0) return;
  uint32_t written = 0;
  if (!platform_write(times->file, times->buffer, times->used, &written)) {
    report_error(times->report, 0, "Error writing timestamps file %s: %s", times->path,
                 system_error_text(times->report));
    times->failed = 1;
  }
  times->used = 0;
}

void put_line(FrameTimes* times, int64_t time) {
  if (times->used > sizeof times->buffer - 32) write_out(times);  // room for a line of any length
  int n = std::snprintf(times->buffer + times->used, sizeof times->buffer - times->used, "%lld\n",
                        static_cast<long long>(time));
  if (n > 0) times->used += static_cast<uint32_t>(n);
}

// The first time to be written settles the shift: the earliest time of the file, from
// the video's held times and the other streams' payloads, is to be 0 if it lies below.
void settle_shift(FrameTimes* times) {
  times->started = 1;
  int64_t earliest = time_less_preroll(times->held[0], times->preroll);
  if (times->other_seen && times->earliest_other < earliest) earliest = times->earliest_other;
  if (earliest >= 0) return;
  times->shift = -earliest;
  report_warning(times->report, 1,
                 "Warning: The file starts %lld ms before its preroll; timestamps file %s has every time "
                 "%lld ms later, in step with a copy of the audio that starts at 0.\n",
                 static_cast<long long>(-earliest), times->path, static_cast<long long>(-earliest));
}

// Writes the smallest time held.
void write_smallest(FrameTimes* times) {
  if (!times->started) settle_shift(times);
  int64_t time = time_less_preroll(times->held[0], times->preroll) + times->shift;
  std::memmove(times->held, times->held + 1, (times->held_count - 1) * sizeof times->held[0]);
  times->held_count--;
  if (time < times->last) time = times->last;  // went back too far: kept sorted (warned when it came)
  times->last = time;
  put_line(times, time);
}

}  // namespace

void frame_times_start(FrameTimes* times, Report* report, PlatformFile file, const char* path,
                       uint64_t preroll) {
  std::memset(times, 0, sizeof *times);
  times->report = report;
  times->file = file;
  times->path = path;
  times->preroll = preroll;
  times->last = INT64_MIN;
  const char kFirstLine[] = "# timestamp format v2\n";
  std::memcpy(times->buffer, kFirstLine, sizeof kFirstLine - 1);
  times->used = sizeof kFirstLine - 1;
}

void frame_times_add(FrameTimes* times, uint32_t time_ms) {
  times->frames++;
  if (times->started && time_less_preroll(time_ms, times->preroll) + times->shift < times->last) {
    report_warning(times->report, 1,
                   "Warning: frame %u is timed before frames shown ahead of it; timestamps file %s keeps "
                   "it in order.\n",
                   times->frames, times->path);
  }
  // Into its place among the held times, ascending.
  uint32_t at = times->held_count;
  while (at > 0 && times->held[at - 1] > time_ms) {
    times->held[at] = times->held[at - 1];
    at--;
  }
  times->held[at] = time_ms;
  times->held_count++;
  if (times->held_count > kTimestampWindow) write_smallest(times);
}

void frame_times_note_other(FrameTimes* times, uint32_t time_ms) {
  int64_t time = time_less_preroll(time_ms, times->preroll);
  if (!times->other_seen || time < times->earliest_other) times->earliest_other = time;
  times->other_seen = 1;
}

bool frame_times_finish(FrameTimes* times) {
  while (times->held_count > 0) write_smallest(times);
  write_out(times);
  return !times->failed;
}
