// The conversion course: the second half of a run given an input and an output.
#include <cstdio>
#include <cstring>

#include "cli/bitrate_run.h"
#include "cli/console.h"
#include "cli/driver.h"
#include "cli/options.h"
#include "demux/demux.h"
#include "io/file_reader.h"
#include "report/json.h"
#include "report/report.h"

namespace {

void insert_frame_rate(Report* report, const Options* options, Vc1HeaderTable* table, uint32_t frame_period) {
  if (option_is_set(options, OPT_NO_FRAMERATE)) {
    report_note(report, 1, "-- Note: Framerate info will be omitted [cmnd line request].\n");
  } else if (frame_period == 0) {
    report_warning(report, 1, "-- Warning: No framerate found; it will be omitted from the output file\n");
  } else {
    print_at_level(report, 1, "-- Inserting Frame Period: %d uSecs (%2.3f FPS)...\n",
                   static_cast<int>(frame_period), 1000000.0 / frame_period);
    vc1_insert_frame_period(frame_period, table);
  }
}

void insert_aspect_ratio(Report* report, const Options* options, Vc1HeaderTable* table,
                         const AsfStreamRecord* record) {
  if (option_is_set(options, OPT_NO_PAR)) {
    report_note(report, 1, "-- Note: Any PAR info found will be omitted [cmnd line request].\n");
  } else if (record->par_x == 0) {
    report_note(report, 1, "-- Note: PAR not specified in ASF input file- shall remain so in VC-1 output.\n");
  } else {
    // A missing AspectRatioY shows as a ratio of 0.000; the headers are then left alone.
    double ratio = record->par_y == 0 ? 0.0 : static_cast<double>(record->par_x) / record->par_y;
    print_at_level(report, 1, "-- Inserting PAR of %d/%d (%1.3f)...\n", static_cast<int>(record->par_x),
                   static_cast<int>(record->par_y), ratio);
    vc1_insert_par(record->par_x, record->par_y, table);
  }
}

// The picture's shape for a muxer: the width, rounded, and the height that the coded size
// shows at with the pixel aspect ratio inserted. False when none is inserted.
bool display_dimensions(const Options* options, const Vc1HeaderTable* table, const AsfStreamRecord* record,
                        uint32_t* width, uint32_t* height) {
  if (option_is_set(options, OPT_NO_PAR) || record->par_x == 0 || record->par_y == 0) return false;
  uint64_t coded_width = (uint64_t{vc1_get_field(table, VC1_MAX_CODED_WIDTH)} + 1) * 2;
  uint64_t coded_height = (uint64_t{vc1_get_field(table, VC1_MAX_CODED_HEIGHT)} + 1) * 2;
  *width = static_cast<uint32_t>((coded_width * record->par_x * 2 + record->par_y) / (2 * record->par_y));
  *height = static_cast<uint32_t>(coded_height);
  return true;
}

// The arguments a muxer needs before the elementary stream's name to keep the picture's
// shape and its timing: mkvmerge's "--timestamps 0:FILE" and "--display-dimensions 0:WxH".
struct RemuxArguments {
  const char* values[4];
  uint32_t count;
  char timestamps[4096];
  char dimensions[32];
};

void remux_arguments(const Options* options, const Vc1HeaderTable* table, const AsfStreamRecord* record,
                     RemuxArguments* remux) {
  remux->count = 0;
  if (options->timestamps_path != nullptr) {
    std::snprintf(remux->timestamps, sizeof remux->timestamps, "0:%s", options->timestamps_path);
    remux->values[remux->count++] = "--timestamps";
    remux->values[remux->count++] = remux->timestamps;
  }
  uint32_t width = 0;
  uint32_t height = 0;
  if (display_dimensions(options, table, record, &width, &height)) {
    std::snprintf(remux->dimensions, sizeof remux->dimensions, "0:%ux%u", width, height);
    remux->values[remux->count++] = "--display-dimensions";
    remux->values[remux->count++] = remux->dimensions;
  }
}

// Adds `text`, quoted for the shell where it needs it, and a space to the command line.
void append_argument(char* line, size_t size, const char* text) {
  size_t used = std::strlen(line);
  if (used + 1 < size && platform_quote_argument(text, line + used, size - used - 1)) {
    std::strcat(line, " ");
  }
}

// The whole mkvmerge command for the stream written, at level 1: the Matroska file is named
// after the output, its extension replaced by .mkv.
void print_remux_command(Report* report, const char* output_path, const RemuxArguments* remux) {
  char mkv[4096];
  std::snprintf(mkv, sizeof mkv, "%s", output_path);
  char* dot = std::strrchr(mkv, '.');
  const char* slash = std::strrchr(mkv, '/');
  const char* backslash = std::strrchr(mkv, '\\');
  if (dot == nullptr || dot < slash || dot < backslash || dot == mkv) dot = mkv + std::strlen(mkv);
  std::snprintf(dot, sizeof mkv - static_cast<size_t>(dot - mkv), "%s", ".mkv");
  if (std::strcmp(mkv, output_path) == 0)
    std::snprintf(dot, sizeof mkv - static_cast<size_t>(dot - mkv), ".remux.mkv");
  char line[16384] = "mkvmerge -o ";
  append_argument(line, sizeof line, mkv);
  for (uint32_t i = 0; i < remux->count; i++) append_argument(line, sizeof line, remux->values[i]);
  append_argument(line, sizeof line, output_path);
  line[std::strlen(line) - 1] = '\0';  // the last space
  print_at_level(report, 1, "\nRemux: %s\n", line);
}

void json_remux(JsonWriter* json, const RemuxArguments* remux) {
  json_begin_object(json, "remux");
  json_begin_array(json, "mkvmerge", kJsonOneLine);
  for (uint32_t i = 0; i < remux->count; i++) json_string(json, nullptr, remux->values[i]);
  json_end(json);
  json_end(json);
}

// The reader on the packets, set up now unless a look at the first packets did: false
// after the error when the packets cannot be read.
bool packets_can_be_read(Report* report, const Options* options, const AsfParserContext* context,
                         PlatformFile input, DataStart* data) {
  if (data->state == kDataNotOpened) open_data_start(context, input, data);
  switch (data->state) {
    case kDataBadPacketSize:
      demux_report_bad_packet_size(report, context->max_packet_size);
      return false;
    case kDataUnreadable:
      platform_set_last_error(data->error);
      report_error(report, 0, "Error: Unable to read input file %s: %s\n", options->input_path,
                   system_error_text(report));
      return false;
    case kDataMissing:
      report_error(report, 0, "Error: No ASF Data Object after the header; nothing converted.\n");
      return false;
    default:
      return true;
  }
}

// The headers the stream is written with: the frame rate and aspect ratio put in as the
// options ask, both variants written into the settings and reported; with a JSON document,
// its "output" member, and the "vc1" member closed.
void rebuild_headers(const Options* options, Vc1HeaderTable* table, const AsfStreamRecord* record,
                     DemuxSettings* settings, Report* report) {
  // The low 32 bits of the time per frame, rounded in 32-bit arithmetic.
  uint32_t frame_period =
      asf_100ns_to_microseconds(static_cast<uint32_t>(record->ext_stream_properties.avg_time_per_frame));
  print_at_level(report, 1, "\nGenerating modified headers...\n");
  insert_frame_rate(report, options, table, frame_period);
  insert_aspect_ratio(report, options, table, record);

  // The rows' widths keep the headers far inside the buffer: the writes always fit.
  vc1_write_headers(false, table, &settings->output_headers);
  print_at_level(report, 2, "\nHeader bytes to be used in output [concatenated Seq and Entry Point Hdrs]:\n");
  dump_header_bytes(report, &settings->output_headers);
  vc1_write_headers(true, table, &settings->entry_point_headers);

  settings->seq_header_once = option_is_set(options, OPT_NO_REPEAT_SEQ);
  if (settings->seq_header_once == 1) {
    report_note(report, 1, "-- Note: Seq Header will be included only once [cmnd line request].\n");
    print_at_level(report, 2, "--       Other keyframes will be preceded by Entry Point Hdr only:\n");
    dump_header_bytes(report, &settings->entry_point_headers);
  }
  settings->interlaced = vc1_get_field(table, VC1_INTERLACE) != 0 ? 1 : 0;

  print_at_level(report, 2, "Interpretation of above VC-1 headers:\n");
  vc1_print_headers(report, table);
  JsonWriter* json = report->document;
  if (json != nullptr) {
    json_begin_object(json, "output");
    json_hex(json, "header_hex", settings->output_headers.data, settings->output_headers.count);
    vc1_json_written_headers(table, json);
    json_end(json);
    json_end(json);  // the "vc1" member
  }
}

// What the header says about the file and the stream that the demux needs.
void describe_stream(const AsfParserContext* context, const AsfStreamRecord* record,
                     DemuxSettings* settings) {
  settings->stream_number = record->stream_number;
  settings->packet_size = context->max_packet_size;
  settings->walk_to_end = context->file_flags & kFilePropertiesBroadcast;
  settings->max_object_size = record->ext_stream_properties.max_object_size;
  settings->avg_time_per_frame = record->ext_stream_properties.avg_time_per_frame;
  for (uint32_t n = 1; n < static_cast<uint32_t>(kMaxStreams); n++) {
    if (context->streams[n] != nullptr) demux_know_stream(settings, n);
  }
  settings->preroll = context->preroll;
}

// How to mux the stream written: the command at level 1, for a file that can be read
// again by a name that stays its own, and the document's "remux" member.
void tell_remux(const Options* options, const Vc1HeaderTable* table, const AsfStreamRecord* record,
                PlatformFile output, Report* report) {
  RemuxArguments remux;
  remux_arguments(options, table, record, &remux);
  if (platform_is_seekable(output) && !platform_path_is_stdout(options->output_path)) {
    print_remux_command(report, options->output_path, &remux);
  }
  if (report->document != nullptr) json_remux(report->document, &remux);
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
                   const AsfStreamRecord* record, PlatformFile input, DataStart* data, Report* report) {
  // What can be known before the output is touched is checked first: a run that cannot
  // convert creates and replaces nothing.
  if (!packets_can_be_read(report, options, context, input, data)) return kExitFailure;
  // The buckets and the frame rate the edits leave as they are: the check can be set up now.
  RunBitrate bitrate;
  if (!run_bitrate_start(report, options, table, record, &bitrate)) return kExitFailure;
  // The timestamps file and the picture are settled with the output, before the demux, so
  // that a long run cannot end unable to write them, and none is replaced unless all can be.
  RunOutputs files;
  OutputPaths paths = {options->output_path, options->timestamps_path, options->plot_path};
  if (!open_outputs(report, &paths, input, option_is_set(options, OPT_YES) != 0, &files)) {
    run_bitrate_release(&bitrate);
    return kExitFailure;
  }
  DemuxSettings settings = {};
  rebuild_headers(options, table, record, &settings, report);
  describe_stream(context, record, &settings);
  DemuxOutputs outputs = {report, files.output, nullptr, report->document, bitrate.check};
  FrameTimes times;
  if (files.timestamps != kInvalidFile) {
    frame_times_start(&times, report, files.timestamps, options->timestamps_path, context->preroll);
    outputs.frame_times = &times;
  }
  settings.output_path = options->output_path;
  DemuxCounters counters;
  DemuxResult result = demux_data_object(&settings, &outputs, &data->info, &data->reader, &counters);
  // The figures follow the summary, which a demux that could not start does not print.
  bool summarised = result != kDemuxNoMemory && result != kDemuxBadPacketSize;
  bool plotted = !summarised || run_bitrate_finish(report, &bitrate, options, record, files.plot);
  run_bitrate_release(&bitrate);
  platform_close(files.plot);
  // The times of the frames the stream holds, however the demux ended.
  bool times_written = files.timestamps == kInvalidFile || frame_times_finish(&times);
  platform_close(files.timestamps);
  // A stream that ends with whole frames can be muxed as it is: how.
  bool decodable = result != kDemuxWriteFailed && summarised;
  if (decodable) tell_remux(options, table, record, files.output, report);
  platform_close(files.output);
  return result == kDemuxCompleted && times_written && plotted ? kExitSuccess : kExitFailure;
}
