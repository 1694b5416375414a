// The conversion course: the second half of a run given an input and an output.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/console.h"
#include "cli/driver.h"
#include "cli/options.h"
#include "demux/demux.h"
#include "io/file_reader.h"
#include "report/json.h"
#include "report/report.h"

namespace {

void insert_frame_rate(const Options* options, Vc1HeaderTable* table, uint32_t frame_period) {
  if (option_is_set(options, OPT_NO_FRAMERATE)) {
    print_at_level(1, "-- Note: Framerate info will be omitted [cmnd line request].\n");
  } else if (frame_period == 0) {
    print_at_level(1, "-- Warning: No framerate found; it will be omitted from the output file\n");
  } else {
    print_at_level(1, "-- Inserting Frame Period: %d uSecs (%2.3f FPS)...\n", static_cast<int>(frame_period),
                   1000000.0 / frame_period);
    vc1_insert_frame_period(frame_period, table);
  }
}

void insert_aspect_ratio(const Options* options, Vc1HeaderTable* table, const AsfStreamRecord* record) {
  if (option_is_set(options, OPT_NO_PAR)) {
    print_at_level(1, "-- Note: Any PAR info found will be omitted [cmnd line request].\n");
  } else if (record->par_x == 0) {
    print_at_level(1, "-- Note: PAR not specified in ASF input file- shall remain so in VC-1 output.\n");
  } else {
    // A missing AspectRatioY shows as a ratio of 0.000; the headers are then left alone.
    double ratio = record->par_y == 0 ? 0.0 : static_cast<double>(record->par_x) / record->par_y;
    print_at_level(1, "-- Inserting PAR of %d/%d (%1.3f)...\n", static_cast<int>(record->par_x),
                   static_cast<int>(record->par_y), ratio);
    vc1_insert_par(record->par_x, record->par_y, table);
  }
}

// Writes the timestamps file: "# timestamp format v2", then each frame's presentation time
// less the preroll, in milliseconds, sorted (a muxer hands them to the frames in
// presentation order). False, after saying why, when it could not be written whole.
bool write_timestamps(PlatformFile file, FrameTimes* times, uint64_t preroll) {
  if (times->lost) {
    platform_set_last_error_from_errno(ENOMEM);
    print_at_level(0, "Error writing timestamps file: %s", system_error_text());
    return false;
  }
  std::sort(times->times, times->times + times->count);
  char buffer[65536];
  const char kFirstLine[] = "# timestamp format v2\n";
  uint32_t used = sizeof kFirstLine - 1;
  std::memcpy(buffer, kFirstLine, used);
  uint32_t written = 0;
  bool ok = true;
  for (uint32_t i = 0; i < times->count && ok; ++i) {
    if (used > sizeof buffer - 32) {  // room for one more line of any length
      ok = platform_write(file, buffer, used, &written);
      used = 0;
    }
    int64_t time = time_less_preroll(times->times[i], preroll);
    used += static_cast<uint32_t>(
        std::snprintf(buffer + used, sizeof buffer - used, "%lld\n", static_cast<long long>(time)));
  }
  if (!ok || !platform_write(file, buffer, used, &written)) {
    print_at_level(0, "Error writing timestamps file: %s", system_error_text());
    return false;
  }
  return true;
}

}  // namespace

DataOpen open_data_start(const AsfParserContext* context, PlatformFile input, DataStart* data) {
  data->reader = reader_create();
  if (!demux_packet_size_ok(context->max_packet_size)) return data->state = kDataBadPacketSize;
  if (!reader_init(input, context->header_end, &data->reader)) {
    // The system's reason is taken now, before anything else can change it.
    data->error = platform_last_error();
    return data->state = kDataUnreadable;
  }
  if (!demux_find_data_object(&data->reader, &data->info)) return data->state = kDataMissing;
  return data->state = kDataOpened;
}

void release_data_start(DataStart* data) {
  reader_release(&data->reader);
  data->state = kDataNotOpened;
}

int run_conversion(const Options* options, Vc1HeaderTable* table, const AsfParserContext* context,
                   const AsfStreamRecord* record, PlatformFile input, DataStart* data, JsonWriter* json) {
  // What can be known before the output is touched is checked first: a run that cannot
  // convert creates and replaces nothing.
  if (data->state == kDataNotOpened) open_data_start(context, input, data);
  switch (data->state) {
    case kDataBadPacketSize:
      demux_report_bad_packet_size(context->max_packet_size);
      return kExitFailure;
    case kDataUnreadable:
      platform_set_last_error(data->error);
      print_at_level(0, "Error: Unable to read input file %s: %s\n", options->input_path, system_error_text());
      return kExitFailure;
    case kDataMissing:
      print_at_level(0, "Error: No ASF Data Object after the header; nothing converted.\n");
      return kExitFailure;
    default:
      break;
  }
  FileReader& reader = data->reader;
  const DataObjectInfo& data_object = data->info;
  bool assume_yes = option_is_set(options, OPT_YES) != 0;
  PlatformFile output = open_output_file(options->output_path, "output", input, kInvalidFile, assume_yes);
  if (output == kInvalidFile) return kExitFailure;
  // The timestamps file is settled before the demux, so that a long run cannot end unable
  // to write it.
  PlatformFile times_file = kInvalidFile;
  if (options->timestamps_path != nullptr) {
    times_file = open_output_file(options->timestamps_path, "timestamps", input, output, assume_yes);
    if (times_file == kInvalidFile) {
      platform_close(output);
      return kExitFailure;
    }
  }

  // The low 32 bits of the time per frame, rounded in 32-bit arithmetic.
  uint32_t frame_period =
      asf_100ns_to_microseconds(static_cast<uint32_t>(record->ext_stream_properties.avg_time_per_frame));
  print_at_level(1, "\nGenerating modified headers...\n");
  insert_frame_rate(options, table, frame_period);
  insert_aspect_ratio(options, table, record);

  DemuxSettings settings = {};
  HeaderBuffer rebuilt = {};
  vc1_write_headers(0, table, &rebuilt);
  settings.output_headers = rebuilt;
  print_at_level(2, "\nHeader bytes to be used in output [concatenated Seq and Entry Point Hdrs]:\n");
  dump_header_bytes(&rebuilt);

  vc1_write_headers(1, table, &rebuilt);
  settings.entry_point_headers = rebuilt;

  settings.seq_header_once = option_is_set(options, OPT_NO_REPEAT_SEQ);
  if (settings.seq_header_once == 1) {
    print_at_level(1, "-- Note: Seq Header will be included only once [cmnd line request].\n");
    print_at_level(2, "--       Other keyframes will be preceded by Entry Point Hdr only:\n");
    dump_header_bytes(&rebuilt);
  }

  settings.interlaced = vc1_get_field(table, VC1_INTERLACE) != 0 ? 1 : 0;

  print_at_level(2, "Interpretation of above VC-1 headers:\n");
  vc1_print_headers(table);
  if (json != nullptr) {
    json_begin_object(json, "output");
    json_hex(json, "header_hex", settings.output_headers.data, settings.output_headers.count);
    vc1_json_headers(table, json);
    json_end(json);
    json_end(json);  // the "vc1" member
  }

  settings.stream_number = record->stream_number;
  settings.packet_size = context->max_packet_size;
  settings.walk_to_end = context->file_flags & kFilePropertiesBroadcast;
  settings.max_object_size = record->ext_stream_properties.max_object_size;
  settings.avg_time_per_frame = record->ext_stream_properties.avg_time_per_frame;
  for (uint32_t n = 1; n < static_cast<uint32_t>(kMaxStreams); n++) {
    if (context->streams[n] != nullptr) demux_know_stream(&settings, n);
  }
  FrameTimes times = {};
  if (times_file != kInvalidFile) settings.frame_times = &times;
  settings.json = json;
  settings.preroll = context->preroll;
  DemuxCounters counters;
  DemuxResult result = demux_data_object(&settings, &data_object, &reader, output, &counters);
  platform_close(output);
  // The times of the frames the stream holds, however the demux ended.
  bool times_written = times_file == kInvalidFile || write_timestamps(times_file, &times, context->preroll);
  platform_close(times_file);
  frame_times_release(&times);
  return result == kDemuxCompleted && times_written ? kExitSuccess : kExitFailure;
}
