// The bitrate figures, the leaky-bucket check and the picture of one conversion: set up
// from the headers the stream is written with, fed by the demux, told after its summary.
#ifndef TARVEL_CLI_BITRATE_RUN_H_
#define TARVEL_CLI_BITRATE_RUN_H_

#include "asf/asf.h"
#include "cli/options.h"
#include "platform/platform.h"
#include "report/bitrate.h"
#include "report/plot.h"
#include "vc1/vc1.h"

struct Report;

struct RunBitrate {
  BitrateCheck* check;
  PlotColumns* plot;  // the picture's columns; null without --plot
};

// Sets the check up for the stream written with `table`: the frame period of the ASF file,
// else of the header's frame rate; the header's leaky buckets. False after the error when
// its memory cannot be had.
bool run_bitrate_start(Report* report, const Options* options, const Vc1HeaderTable* table,
                       const AsfStreamRecord* record, RunBitrate* run);

// After the demux's summary: the figures at level 1 and in the run's document, and the
// picture into `plot_file` (kInvalidFile: none asked for). False after the error when the
// picture could not be written.
bool run_bitrate_finish(Report* report, RunBitrate* run, const Options* options,
                        const AsfStreamRecord* record, PlatformFile plot_file);

void run_bitrate_release(RunBitrate* run);

#endif  // TARVEL_CLI_BITRATE_RUN_H_
