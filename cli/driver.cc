// The run driver: banner, command line, input, ASF header report and the choice between
// the ASF courses (information, conversion) and the course for a non-ASF input.
#include "cli/driver.h"

#include <cstring>
#include <initializer_list>

#include "cli/options.h"
#include "report/json.h"
#include "report/report.h"

namespace {

void print_banner(Report* report) {
  print_at_level(report, 1, "\nTARVEL version %s\n", TARVEL_VERSION);
  print_at_level(report, 1, "Demuxes WMV WVC1 to VC-1 Elementary Stream. Advanced Profile Only.\n\n");
}

// Names the argument that made the command line unusable.
void print_bad_argument(Report* report, const Options* options) {
  if (options->bad_argument_error == kArgumentUnrecognised) {
    const char* value = options->bad_argument_value;
    report_error(report, 0, "Error: Unrecognised option: %s%s%s\n", options->bad_argument,
                 value != nullptr ? " " : "", value != nullptr ? value : "");
  } else if (options->bad_argument_error == kArgumentNeedsValue) {
    report_error(report, 0, "Error: Option needs a value: %s\n", options->bad_argument);
  } else if (options->bad_argument_error == kArgumentUnexpected) {
    report_error(report, 0, "Error: Unexpected argument: %s\n", options->bad_argument);
  } else if (options->bad_argument_error == kArgumentNeedsOutput) {
    report_error(report, 0, "Error: Option needs an output file: %s\n", options->bad_argument);
  }
}

// The document's "container" member: how the input was read, or null when it was neither.
void json_container(JsonWriter* json, const char* container) {
  if (json == nullptr) return;
  if (container != nullptr) {
    json_string(json, "container", container);
  } else {
    json_null(json, "container");
  }
}

// The document's "input" member: the path, and the size of an input that has one. Calls
// nothing that could fail for an input that is not open, whose error is still to be told.
void json_input(JsonWriter* json, const char* path, PlatformFile input) {
  uint64_t size = 0;
  bool sized = input != kInvalidFile && platform_is_seekable(input) && platform_file_size(input, &size);
  json_begin_object(json, "input");
  json_string(json, "path", path);
  if (sized) {
    json_uint(json, "size", size);
  } else {
    json_null(json, "size");
  }
  json_end(json);
}

// An input that is not ASF (or has no usable WVC1 stream) is read as a VC-1 elementary
// stream, for information only: its first 1024 bytes must hold the sequence and
// entry-point headers.
int run_elementary_stream_course(const Options* options, PlatformFile input, const HeaderBuffer* head,
                                 Vc1HeaderTable* table, HeaderBuffer* retrieved, Report* report) {
  JsonWriter* json = report->document;
  report_note(report, 0, "Note: Input file is not ASF, will try parsing it as VC-1 elementary...\n");
  print_at_level(report, 0, "      (for information purposes only, as explained in \"Usage\".)\n");

  // A pipe cannot go back: the header walk kept the first bytes it read, and the rest of
  // the first 1024 follow in the input.
  uint32_t got = 0;
  if (platform_seek(input, 0)) {
    if (!platform_read(input, retrieved->data, kHeaderBufferSize, &got)) got = 0;
  } else {
    *retrieved = *head;
    if (!platform_read(input, retrieved->data + head->count, kHeaderBufferSize - head->count, &got)) got = 0;
    got += head->count;
  }
  retrieved->count = got;

  // Headers cut short count as found: both start codes are there.
  if (vc1_parse_headers(retrieved, table) == kVc1HeadersNotFound) {
    report_error(report, 0, "Not Recognized as VC-1 elementary, no Sequence / Entry Point headers Found\n");
    json_container(json, nullptr);
    return kExitFailure;
  }
  print_at_level(report, 0, "File has VC-1 elementary stream headers, details follow:\n");
  vc1_print_headers(report, table);
  if (json != nullptr) {
    json_container(json, "vc1");
    json_begin_object(json, "vc1");
    vc1_json_headers(table, json);
    json_end(json);
  }
  // Such an input is never converted: an output path asked for what cannot be done.
  if (options->output_path == nullptr) return kExitSuccess;
  report_error(report, 0,
               "Error: %s is a VC-1 elementary stream, read for information only; nothing converted.\n",
               options->input_path);
  return kExitFailure;
}

// Encrypted frames are not converted: an information run warns, a conversion fails before
// its output is opened, so that nothing is created or replaced.
int refuse_encrypted_stream(Report* report, const Options* options, uint32_t stream_number) {
  if (options->output_path == nullptr) {
    report_warning(report, 0, "Warning: stream %d is encrypted (DRM); its frames cannot be converted.\n",
                   static_cast<int>(stream_number));
    return kExitSuccess;
  }
  report_error(report, 0, "Error: Stream %d is encrypted (DRM); its frames cannot be converted.\n",
               static_cast<int>(stream_number));
  return kExitFailure;
}

// The streams the header describes, a bit per stream number, as the demux takes them.
void known_streams(const AsfParserContext* context, uint32_t* bits) {
  for (uint32_t n = 1; n < static_cast<uint32_t>(kMaxStreams); n++) {
    if (context->streams[n] != nullptr) bits[n / 32] |= 1u << (n % 32);
  }
}

bool has_sequence_header(const HeaderBuffer* headers) {
  for (uint32_t i = 0; i + 4 <= headers->count; i++) {
    const uint8_t* b = headers->data + i;
    if (b[0] == 0 && b[1] == 0 && b[2] == 1 && b[3] == 0x0F) return true;
  }
  return false;
}

// What the first packets add to the header's account of the chosen stream: the in-band
// headers when its codec data holds no sequence header, and the aspect ratio of its Pixel
// Aspect Ratio payload extension when no metadata names one. The reader set up for the
// look is kept for the conversion.
void probe_first_packets(Report* report, const AsfParserContext* context, AsfStreamRecord* record,
                         PlatformFile input, DataStart* data, HeaderBuffer* inband) {
  ProbeRequest request = {};
  int par_system =
      record->par_source == kParNone ? asf_pixel_aspect_extension(record, request.system_sizes) : -1;
  request.want_headers = !has_sequence_header(&record->retrieved_headers);
  if (!request.want_headers && par_system < 0) return;
  if (open_data_start(context, input, data) != kDataOpened) return;
  uint32_t streams[kMaxStreams / 32] = {};
  known_streams(context, streams);
  request.stream_number = record->stream_number;
  request.packet_size = context->max_packet_size;
  bool sized =
      data->info.object_size > kDataObjectHeaderSize && !(context->file_flags & kFilePropertiesBroadcast);
  request.data_bytes = sized ? data->info.object_size - kDataObjectHeaderSize : 0;
  request.known_streams = streams;
  request.par_system = par_system < 0 ? kNoParSystem : static_cast<uint32_t>(par_system);
  StreamProbe probe;
  demux_probe_stream(&request, &data->reader, &probe);
  if (probe.par_x != 0) {
    record->par_x = probe.par_x;
    record->par_y = probe.par_y;
    record->par_source = kParPayloadExtension;
    print_at_level(report, 2,
                   "Pixel aspect ratio %u:%u from the stream's Pixel Aspect Ratio payload extension.\n",
                   probe.par_x, probe.par_y);
  }
  *inband = probe.inband_headers;
}

// The headers the stream is converted with, reported: its codec data's, or the in-band
// headers of its first key frame when the codec data holds no sequence header. False after
// the error when there are none at all.
bool report_stream_headers(const AsfStreamRecord* record, const HeaderBuffer* inband, Vc1HeaderTable* table,
                           HeaderBuffer* retrieved, Report* report, bool keep_open) {
  JsonWriter* json = report->document;
  *retrieved = record->retrieved_headers;
  if (!has_sequence_header(retrieved)) {
    if (inband->count == 0) {
      report_error(report, 0,
                   "Error: Stream %d has no VC-1 sequence header, neither in its codec data nor in its first "
                   "frames; nothing converted.\n",
                   static_cast<int>(record->stream_number));
      return false;
    }
    report_note(report, 2,
                "-- Note: the codec data holds no sequence header; the headers are taken from the "
                "stream's first key frame.\n");
    *retrieved = *inband;
  }
  print_at_level(report, 2, "\nSuccessfully retrieved %d bytes of VC-1 headers from video stream %d.\n",
                 static_cast<int>(retrieved->count), static_cast<int>(record->stream_number));
  print_at_level(report, 2, "Bytes as retrieved [concatenation of Sequence and Entry Point Headers]:\n");
  dump_header_bytes(report, retrieved);

  vc1_parse_headers(retrieved, table);  // the interpretation shows whatever could be read
  print_at_level(report, 2, "Interpretation of above VC-1 headers:\n");
  vc1_print_headers(report, table);
  // A conversion adds the rebuilt headers to the "vc1" member and closes it.
  if (json != nullptr) {
    json_begin_object(json, "vc1");
    json_hex(json, "header_hex", retrieved->data, retrieved->count);
    vc1_json_headers(table, json);
    if (!keep_open) json_end(json);
  }
  return true;
}

int run_asf_course(const Options* options, AsfParserContext* context, PlatformFile input,
                   Vc1HeaderTable* table, HeaderBuffer* retrieved, Report* report) {
  JsonWriter* json = report->document;
  uint32_t stream_number = asf_select_video_stream(context, options->stream);
  AsfStreamRecord* record = stream_number != 0 ? asf_get_stream(context, stream_number) : nullptr;
  DataStart data = {};
  HeaderBuffer inband = {};
  if (record != nullptr) probe_first_packets(report, context, record, input, &data, &inband);
  if (json != nullptr) asf_json_header(context, json);
  if (record == nullptr) return kExitFailure;
  if (context->encoder[0] != '\0') print_at_level(report, 2, "Encoded with: %s\n", context->encoder);

  bool encrypted = asf_stream_is_encrypted(context, record);
  bool converting = options->output_path != nullptr && !encrypted;
  int status = kExitFailure;
  if (!report_stream_headers(record, &inband, table, retrieved, report, converting)) {
    status = kExitFailure;
  } else if (encrypted) {
    status = refuse_encrypted_stream(report, options, stream_number);
  } else if (options->output_path == nullptr) {
    status = kExitSuccess;
  } else {
    status = run_conversion(options, table, context, record, input, &data, report);
  }
  release_data_start(&data);
  return status;
}

// Everything after the command line: the input, its header and the course it takes.
int run_input(const Options* options, Report* report) {
  JsonWriter* json = report->document;
  // Everything a run uses is its own: a second run in the same process starts clean.
  Vc1HeaderTable table;
  HeaderBuffer retrieved;
  vc1_table_init(&table);
  std::memset(&retrieved, 0, sizeof retrieved);

  PlatformFile input = platform_open_read(options->input_path);
  if (json != nullptr) json_input(json, options->input_path, input);
  if (input == kInvalidFile) {
    report_error(report, 0, "Unable to open input file %s: %s\n", options->input_path,
                 system_error_text(report));
    json_container(json, nullptr);
    return kExitFailure;
  }

  int status = kExitFailure;
  AsfParserContext* context = asf_context_create(input, report);
  if (context == nullptr) {
    report_error(report, 0, "Error: Out of memory\n");
    json_container(json, nullptr);
  } else if (!asf_read_header(context) && !context->header_read) {
    status = run_elementary_stream_course(options, input, &context->head, &table, &retrieved, report);
  } else {
    json_container(json, "asf");
    status = run_asf_course(options, context, input, &table, &retrieved, report);
  }

  asf_context_free(context);
  platform_close(input);
  return status;
}

// A picture asked for without an output: the stream is demuxed as for the null device, to
// draw the frames it would hold. Returns whether the elementary stream, the timestamps or
// the picture go to standard output: the report then moves aside.
bool settle_outputs(Options* options) {
  if (options->plot_path != nullptr && options->output_path == nullptr) options->output_path = "nul";
  bool output_is_stdout = false;
  for (const char* path : {options->output_path, options->timestamps_path, options->plot_path}) {
    if (path != nullptr && platform_path_is_stdout(path)) output_is_stdout = true;
  }
  return output_is_stdout;
}

}  // namespace

int run_tarvel(int argc, char** argv, Report* report) {
  // What an earlier run in the same process learnt is not taken over.
  report->verbosity = kDefaultVerbosity;
  report->stdout_is_terminal = -1;
  platform_clear_interrupt();

  // The command line is read before anything is shown: when the elementary stream or the
  // timestamps go to standard output, the whole report moves to standard error, banner
  // included.
  Options options;
  int parsed = parse_command_line(argc, argv, &options);
  bool output_is_stdout = settle_outputs(&options);
  report->to_standard_error = output_is_stdout;
  if (parsed != 0 && option_is_set(&options, OPT_VERSION)) {
    print_always(report, "tarvel %s\n", TARVEL_VERSION);
    return kExitSuccess;
  }

  // Help, asked for, is the run's output: standard output, whatever else was given.
  if (option_is_set(&options, OPT_HELP)) {
    report->to_standard_error = false;
    print_banner(report);
    print_always(report, "%s%s", kUsageText, kExtendedHelpText);
    return kExitSuccess;
  }
  // A command line that cannot run says why on standard error, and nothing more: no
  // input at all gets the usage. --json: standard output carries the document and nothing
  // else, so the stream cannot go there.
  bool json = option_is_set(&options, OPT_JSON) != 0;
  bool json_on_stream = json && output_is_stdout;
  if (parsed == 0 || json_on_stream) {
    if (parsed == 0 && options.bad_argument == nullptr) print_at_level(report, 0, "%s", kUsageText);
    print_bad_argument(report, &options);
    if (parsed != 0) {
      report_error(report, 0,
                   "Error: --json writes the report to standard output; the output cannot go there.\n");
    }
    print_at_level(report, 0, "Try 'tarvel --help' for more information.\n");
    return kExitUsage;
  }

  JsonWriter document;
  if (json) {
    report_json_start(report, &document);
    json_string(&document, "tarvel", TARVEL_VERSION);
  }
  print_banner(report);  // at every verbosity: the level is set after it
  report->verbosity = options_verbosity(&options);
  int status = run_input(&options, report);
  // An interrupted run ends as such, whatever stage the request reached.
  int signal_number = platform_interrupt_signal();
  if (signal_number != 0) status = kExitInterrupted + signal_number;
  report_json_finish(report, status);
  return status;
}
