// The conversion course: the second half of a run given an input and an output.
#include "cli/console.h"
#include "cli/driver.h"
#include "cli/options.h"
#include "demux/demux.h"
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

}  // namespace

int run_conversion(const Options* options, Vc1HeaderTable* table, AsfStreamRecord* record,
                   uint32_t frame_period, HeaderBuffer* rebuilt, PlatformFile input) {
  PlatformFile output = open_output_file(options->output_path, input, option_is_set(options, OPT_YES) != 0);
  if (output == kInvalidFile) return kExitFailure;

  print_at_level(1, "\nGenerating modified headers...\n");
  insert_frame_rate(options, table, frame_period);
  insert_aspect_ratio(options, table, record);

  vc1_write_headers(0, table, rebuilt);
  record->output_headers = *rebuilt;
  print_at_level(2, "\nHeader bytes to be used in output [concatenated Seq and Entry Point Hdrs]:\n");
  dump_header_bytes(rebuilt);

  vc1_write_headers(1, table, rebuilt);
  record->entry_point_headers = *rebuilt;

  record->seq_header_once = option_is_set(options, OPT_NO_REPEAT_SEQ);
  if (record->seq_header_once == 1) {
    print_at_level(1, "-- Note: Seq Header will be included only once [cmnd line request].\n");
    print_at_level(2, "--       Other keyframes will be preceded by Entry Point Hdr only:\n");
    dump_header_bytes(rebuilt);
  }

  record->interlaced = vc1_get_field(table, VC1_INTERLACE) != 0 ? 1 : 0;

  print_at_level(2, "Interpretation of above VC-1 headers:\n");
  vc1_print_headers(table);

  DemuxResult result = demux_data_object(record, output);
  platform_close(output);
  reader_release(record->reader);
  return result == kDemuxCompleted ? kExitSuccess : kExitFailure;
}
