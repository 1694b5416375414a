// The run driver: the one place that knows the order of a run and how it ends.
#ifndef TARVEL_CLI_DRIVER_H_
#define TARVEL_CLI_DRIVER_H_

#include <cstdint>

#include "asf/asf.h"
#include "cli/options.h"
#include "demux/demux.h"
#include "io/file_reader.h"
#include "platform/platform.h"
#include "vc1/header_buffer.h"
#include "vc1/vc1.h"

struct Report;

// Exit statuses of a run.
enum ExitStatus {
  kExitSuccess = 0,        // the run did what was asked
  kExitFailure = 1,        // the input or output could not be used, or the demux fell short
  kExitUsage = 2,          // the command line could not be parsed; the usage was printed
  kExitInterrupted = 128,  // plus the signal number: stopped on request (Ctrl-C gives 130)
};

// Runs the program with its argument vector (UTF-8), reporting through `report`, and returns
// the exit status. The report's verbosity and routes are set by the run; its capture strings
// are the caller's.
int run_tarvel(int argc, char** argv, Report* report);

// The reader on the Data Object's packets, set up once: by a look at the first packets, or
// by the conversion.
enum DataOpen {
  kDataNotOpened = 0,
  kDataOpened = 1,         // the reader stands at the first packet
  kDataBadPacketSize = 2,  // the packet size cannot frame packets
  kDataUnreadable = 3,     // the reader could not be set up (the system's error is kept)
  kDataMissing = 4,        // no Data Object behind the header
};

struct DataStart {
  DataOpen state;
  FileReader reader;
  DataObjectInfo info;
  int error;  // kDataUnreadable: the system's reason
};

// Sets the reader up on the packets that follow the header. Prints nothing.
DataOpen open_data_start(const AsfParserContext* context, PlatformFile input, DataStart* data);
void release_data_start(DataStart* data);

// The conversion course: finds the Data Object (unless `data` holds it already), opens the
// output the options name, edits and rebuilds the VC-1 headers as the options ask and runs
// the demux over the packets. With a JSON document (the report's), whose "vc1" member is
// open, the rebuilt headers become its "output" member and it is closed before the frames.
// Returns the exit status.
int run_conversion(const Options* options, Vc1HeaderTable* table, const AsfParserContext* context,
                   const AsfStreamRecord* record, PlatformFile input, DataStart* data, Report* report);

#endif  // TARVEL_CLI_DRIVER_H_
