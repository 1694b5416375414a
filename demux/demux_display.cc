// Picture types, the per-frame display (char-per-frame line or listing line) and the
// summary that ends every conversion.
#include <cinttypes>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "demux/demux.h"
#include "demux/demux_stages.h"
#include "report/bitrate.h"
#include "report/json.h"
#include "report/report.h"

namespace {

enum PictureType {
  kPictureI = 1,
  kPictureP = 2,
  kPictureB = 3,
  kPictureBI = 4,
  kPictureSkip = 5,
  kPictureFieldII = 6,
  kPictureFieldIP = 7,
  kPictureFieldPI = 8,
  kPictureFieldPP = 9,
  kPictureFieldBB = 10,
  kPictureFieldBBI = 11,
  kPictureFieldBIB = 12,
  kPictureFieldBIBI = 13,
};

// PTYPE read from a fixed four-bit window: 0xxx P, 10xx B, 110x I, 1110 BI, 1111 skipped.
constexpr uint8_t kPtypeTable[16] = {
    kPictureP, kPictureP, kPictureP, kPictureP, kPictureP, kPictureP, kPictureP,  kPictureP,
    kPictureB, kPictureB, kPictureB, kPictureB, kPictureI, kPictureI, kPictureBI, kPictureSkip,
};

constexpr const char* kPictureNames[kPictureTypeCount] = {
    "?????", "I    ", "P    ", "B    ", "BI   ", "SKIP ", "I/I  ",
    "I/P  ", "P/I  ", "P/P  ", "B/B  ", "B/BI ", "BI/B ", "BI/BI",
};

constexpr char kPictureChars[kPictureTypeCount + 1] = "?|-<^_!!======";

// The picture type as the listing names it, without its padding: the JSON document's
// value. A frame with no picture header has none (null).
void json_picture_type(JsonWriter* json, const char* key, int picture_type) {
  if (picture_type == kPictureUnclassified) {
    json_null(json, key);
    return;
  }
  const char* name = kPictureNames[picture_type];
  size_t length = 0;
  while (name[length] != '\0' && name[length] != ' ') length++;
  json_string_bytes(json, key, name, length);
}

void json_frame(JsonWriter* json, uint32_t number, int picture_type, const FrameRecord* frame,
                uint64_t preroll) {
  json_begin_object(json, nullptr, kJsonOneLine);
  json_uint(json, "number", number);
  json_picture_type(json, "picture_type", picture_type);
  json_bool(json, "key", frame->key_frame != 0);
  json_uint(json, "bytes", frame->object_size);
  json_int(json, "time_ms", time_less_preroll(frame->presentation_time, preroll));
  json_end(json);
}

void json_summary(JsonWriter* json, const DemuxCounters* counters, const DemuxSettings* settings) {
  const uint32_t* count = counters->frame_type_counts;
  json_begin_object(json, "summary");
  json_uint(json, "frames_written", counters->frames_written);
  json_uint(json, "bytes_written", counters->bytes_written);
  json_uint(json, "key_frames", count[kPictureI] + count[kPictureFieldII] + count[kPictureFieldIP]);
  json_uint(json, "max_key_frame_distance", counters->max_keyframe_distance + 1);  // 1-based, as shown
  json_bool(json, "interlaced", settings->interlaced != 0);
  json_uint(json, "damaged_packets", counters->damaged_packets);
  json_uint(json, "dropped_frames", counters->dropped_frames);
  json_begin_object(json, "picture_types", kJsonOneLine);
  for (int t = kPictureI; t < kPictureTypeCount; t++) {
    const char* name = kPictureNames[t];
    char key[8];
    size_t length = 0;
    while (name[length] != '\0' && name[length] != ' ' && length + 1 < sizeof key) {
      key[length] = name[length];
      length++;
    }
    key[length] = '\0';
    json_uint(json, key, count[t]);
  }
  json_end(json);
  json_end(json);
}

bool is_keyframe_type(int picture_type) {
  return picture_type == kPictureI || picture_type == kPictureFieldII || picture_type == kPictureFieldIP;
}

int valid_type(int picture_type) {
  return picture_type >= 0 && picture_type < kPictureTypeCount ? picture_type : kPictureUnclassified;
}

void print_frame_type_counts(Report* report, const uint32_t* count) {
  print_at_level(report, 2, "Summary of Frames Written:\n\n");
  print_at_level(report, 2, "  Progressive or Frame Coded Interlaced Frames\n");
  print_at_level(report, 2, "  --------------------------------------------\n");
  if (report->verbosity == 2) {
    print_at_level(report, 2, "  '|'  [I]  Intra-Coded (Keyframe)     : %d\n", count[kPictureI]);
    print_at_level(report, 2, "  '-'  [P]  Predictive                 : %d\n", count[kPictureP]);
    print_at_level(report, 2, "  '<'  [B]  Bidirectionally Predictive : %d\n", count[kPictureB]);
    print_at_level(report, 2, "  '^'  [BI] Intra-Coded [B]-Like Frames: %d\n", count[kPictureBI]);
    print_at_level(report, 2, "  '_'  [D]  Skipped (\"Duplicated\")     : %d\n", count[kPictureSkip]);
  } else if (report->verbosity == 3) {
    print_at_level(report, 3, "  [I]  Intra-Coded (Keyframe)       (K): %d\n", count[kPictureI]);
    print_at_level(report, 3, "  [P]  Predictive                      : %d\n", count[kPictureP]);
    print_at_level(report, 3, "  [B]  Bidirectionally Predictive      : %d\n", count[kPictureB]);
    print_at_level(report, 3, "  [BI] Intra-Coded [B]-Like Frames     : %d\n", count[kPictureBI]);
    print_at_level(report, 3, "  [D]  Skipped (\"Duplicated\")          : %d\n", count[kPictureSkip]);
  }

  print_at_level(report, 2, "\n  Field Coded Interlaced Frames\n");
  print_at_level(report, 2, "  --------------------------------------------\n");
  if (report->verbosity == 2) {
    uint32_t non_key_pairs = 0;
    for (int t = kPictureFieldPI; t <= kPictureFieldBIBI; ++t) non_key_pairs += count[t];
    print_at_level(report, 2, "  '!'  [I/I] or [I/P] (\"Keyframe\" Field Pairs): %d\n",
                   count[kPictureFieldII] + count[kPictureFieldIP]);
    print_at_level(report, 2, "  '='  All VC-1 Supported \"Non-keyframe\" Pairs: %d\n", non_key_pairs);
    print_at_level(report, 2, "\n");
    print_at_level(report, 2,
                   "      Note: [P/I], [P/P], [B/B], [B/BI], [BI/B] and [BI/BI] pairs are all "
                   "shown as '=' in the frame table.\n");
    print_at_level(report, 2, "      Use the \"-v3\" command line option for a specific breakdown.\n");
  } else if (report->verbosity == 3) {
    print_at_level(report, 3, "  [I/I]   Field 1=[I],  Field 2=[I] (K): %d\n", count[kPictureFieldII]);
    print_at_level(report, 3, "  [I/P]   Field 1=[I],  Field 2=[P] (K): %d\n", count[kPictureFieldIP]);
    print_at_level(report, 3, "  [P/I]   Field 1=[P],  Field 2=[I]    : %d\n", count[kPictureFieldPI]);
    print_at_level(report, 3, "  [P/P]   Field 1=[P],  Field 2=[P]    : %d\n", count[kPictureFieldPP]);
    print_at_level(report, 3, "  [B/B]   Field 1=[B],  Field 2=[B]    : %d\n", count[kPictureFieldBB]);
    print_at_level(report, 3, "  [B/BI]  Field 1=[B],  Field 2=[BI]   : %d\n", count[kPictureFieldBBI]);
    print_at_level(report, 3, "  [BI/B]  Field 1=[BI], Field 2=[B]    : %d\n", count[kPictureFieldBIB]);
    print_at_level(report, 3, "  [BI/BI] Field 1=[BI], Field 2=[BI]   : %d\n", count[kPictureFieldBIBI]);
    print_at_level(report, 3, "  \nNote: Frame types designated (K) are considered keyframes.\n");
  }
}

}  // namespace

int classify_picture_type(uint8_t first_byte, uint32_t interlaced) {
  uint32_t b = first_byte;
  if (!interlaced) return kPtypeTable[b >> 4];
  if ((b & 0x80) == 0) return kPtypeTable[(b >> 3) & 15];     // progressive picture
  if ((b & 0xC0) == 0x80) return kPtypeTable[(b >> 2) & 15];  // frame-interlaced picture
  return kPictureFieldII + static_cast<int>((b >> 3) & 7);    // field pair: FPTYPE
}

bool picture_type_is_key(int picture_type) { return is_keyframe_type(picture_type); }

const char* picture_type_name(int picture_type) { return kPictureNames[valid_type(picture_type)]; }

char picture_type_char(int picture_type) { return kPictureChars[valid_type(picture_type)]; }

void demux_display_start(DemuxDisplay* display, DemuxOutputs* outputs) {
  display->outputs = outputs;
  if (outputs->json == nullptr || outputs->report->verbosity < 3) return;
  json_begin_array(outputs->json, "frames");
  display->frames = outputs->json;
}

void demux_show_frame(DemuxDisplay* display, DemuxCounters* counters, const DemuxSettings* settings,
                      const FrameRecord* frame) {
  Report* report = display->outputs->report;
  uint32_t number = counters->frames_written;
  if (number != 0 && number % kFrameLineLength == 0) {
    if (report->verbosity < 3) print_at_level(report, 2, "%s\n", display->frame_line);
    std::memset(display->frame_line, 0, sizeof display->frame_line);
  }
  int type = valid_type(frame->picture_type);
  display->frame_line[number % kFrameLineLength] =
      frame->key_frame && !is_keyframe_type(type) ? '*' : picture_type_char(type);

  // The frame's nominal time: its place in the stream times the average frame period; a
  // file that gives no period has the frame's own time, less the preroll.
  int32_t period = static_cast<int32_t>(static_cast<uint32_t>(settings->avg_time_per_frame));
  double seconds =
      period != 0
          ? static_cast<double>(number) * period / 10000000.0
          : static_cast<double>(time_less_preroll(frame->presentation_time, settings->preroll)) / 1000.0;
  print_at_level(report, 3, "Frame:%6d  Time:%.3f sec  %c  Type:%s  Bytes:%d\n", number + 1, seconds,
                 frame->key_frame ? 'K' : ' ', picture_type_name(type), frame->object_size);

  if (frame->key_frame) {
    counters->keyframe_distance = 0;
  } else {
    counters->keyframe_distance++;
    if (counters->keyframe_distance > counters->max_keyframe_distance) {
      counters->max_keyframe_distance = counters->keyframe_distance;
    }
    if (number == 0) report_error(report, 1, "Error: First frame in file is not a keyframe\n");
  }
  counters->frame_type_counts[type]++;
  counters->frames_written++;
  FrameTimes* times = display->outputs->frame_times;
  if (times != nullptr) frame_times_add(times, frame->presentation_time);
  BitrateCheck* bitrate = display->outputs->bitrate;
  if (bitrate != nullptr) {
    bitrate_check_frame(bitrate, frame->bytes, time_less_preroll(frame->presentation_time, settings->preroll),
                        type, frame->key_frame != 0);
  }
  if (display->frames != nullptr) json_frame(display->frames, number + 1, type, frame, settings->preroll);
}

void demux_print_summary(const DemuxDisplay* display, const DemuxCounters* counters,
                         const DemuxSettings* settings) {
  Report* report = display->outputs->report;
  const uint32_t* count = counters->frame_type_counts;
  if (report->verbosity < 3) print_at_level(report, 2, "%s\n", display->frame_line);
  print_at_level(report, 1, "\nDone.\n\n");
  print_frame_type_counts(report, count);

  print_at_level(report, 1, "\nOverall summary:\n\n");
  print_at_level(report, 1, "Interlaced Content     : %s\n", settings->interlaced ? "Yes" : "No");
  print_at_level(report, 1, "Max Keyframe Distance *: %d\n", counters->max_keyframe_distance + 1);
  print_at_level(report, 1, "Total Keyframes Written: %d\n",
                 count[kPictureI] + count[kPictureFieldII] + count[kPictureFieldIP]);
  print_at_level(report, 1, "Total Frames Written   : %d\n", counters->frames_written);
  print_at_level(report, 1, "Total Bytes Written    : %" PRIu64 "\n\n", counters->bytes_written);
  print_at_level(report, 1,
                 "* \"1-based\" - i.e. a file composed of 100%% keyframes displays \"1\", not "
                 "\"0\".\n");
  if (display->outputs->json != nullptr) {
    if (display->frames != nullptr) json_end(display->frames);
    json_summary(display->outputs->json, counters, settings);
  }
}
