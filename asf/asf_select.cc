// The choice of the one video stream to convert: the one the command line names, else the
// usable WVC1 stream with the highest bitrate.
#include <cstdio>

#include "asf/asf.h"
#include "report/report.h"

namespace {

int kilobits(uint32_t bits_per_second) { return static_cast<int>((bits_per_second + 500u) / 1000u); }

// Lists the usable streams when there is more than one to choose from.
void list_usable_streams(const AsfParserContext* context) {
  int usable = 0;
  for (const AsfStreamRecord* record : context->streams)
    usable += record != nullptr && asf_stream_is_usable(record);
  if (usable < 2) return;
  for (const AsfStreamRecord* record : context->streams) {
    if (record == nullptr || !asf_stream_is_usable(record)) continue;
    print_at_level(context->report, 2, "-- Usable video stream %d: %d x %d, bitrate = %d Kb/s\n",
                   static_cast<int>(record->stream_number), static_cast<int>(record->width),
                   static_cast<int>(record->height), kilobits(record->bitrate));
  }
}

// Nothing can be converted: the error names what the video streams are, if there are any.
void report_no_usable_stream(const AsfParserContext* context) {
  char names[kMaxStreams * 20] = "";
  size_t used = 0;
  for (const AsfStreamRecord* record : context->streams) {
    if (record == nullptr || !record->is_video) continue;
    char fourcc[5];
    for (int i = 0; i < 4; i++) {
      uint8_t c = record->fourcc[i];
      fourcc[i] = c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
    }
    fourcc[4] = '\0';
    used += static_cast<size_t>(std::snprintf(names + used, sizeof names - used, "%sstream %d: %s",
                                              used == 0 ? "" : ", ", static_cast<int>(record->stream_number),
                                              fourcc));
  }
  if (used == 0) {
    report_error(context->report, 0, "Error: No video stream in this ASF file; nothing converted.\n");
  } else {
    report_error(context->report, 0,
                 "Error: No WVC1 video stream in this ASF file (%s); nothing converted.\n", names);
  }
}

// The stream the command line names, when it is usable; else 0 after the error.
uint32_t requested_stream(const AsfParserContext* context, uint32_t requested) {
  const AsfStreamRecord* record =
      requested < static_cast<uint32_t>(kMaxStreams) ? context->streams[requested] : nullptr;
  if (record == nullptr || !asf_stream_is_usable(record)) {
    report_error(context->report, 0, "Error: Stream %d is not a usable WVC1 video stream.\n",
                 static_cast<int>(requested));
    return 0;
  }
  print_at_level(context->report, 2, "Video stream %d chosen on the command line (bitrate = %d Kb/s)\n",
                 static_cast<int>(requested), kilobits(record->bitrate));
  return requested;
}

// The usable stream with the highest bitrate, or 0 after saying there is none.
uint32_t fastest_stream(const AsfParserContext* context) {
  uint32_t best = 0;
  uint32_t best_rate = 0;
  // Greater-or-equal over increasing numbers: a tie goes to the higher stream number,
  // and a usable stream without a known bitrate (0) can still be chosen.
  for (uint32_t n = 1; n < static_cast<uint32_t>(kMaxStreams); n++) {
    const AsfStreamRecord* record = context->streams[n];
    if (record == nullptr || !asf_stream_is_usable(record)) continue;
    if (record->bitrate >= best_rate) {
      best_rate = record->bitrate;
      best = n;
    }
  }
  if (best == 0) {
    print_at_level(context->report, 2, "No video streams found.\n");
    report_no_usable_stream(context);
    return 0;
  }
  print_at_level(context->report, 2, "Video stream with highest bitrate is stream %d (bitrate = %d Kb/s)\n",
                 static_cast<int>(best), kilobits(best_rate));
  return best;
}

}  // namespace

bool asf_stream_is_usable(const AsfStreamRecord* record) {
  return record->is_video != 0 && record->is_wvc1 != 0;
}

uint32_t asf_select_video_stream(AsfParserContext* context, uint32_t requested) {
  list_usable_streams(context);
  uint32_t chosen = requested != 0 ? requested_stream(context, requested) : fastest_stream(context);
  context->chosen_stream = chosen;
  context->chosen_on_command_line = requested != 0 && chosen != 0;
  return chosen;
}
