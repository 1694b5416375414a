// ASF demux and elementary-stream writer: walks the Data Object's packets, gathers the
// chosen stream's media objects into frames and writes them as a VC-1 elementary stream,
// with the frame report and the summary on the console.
#ifndef TARVEL_DEMUX_DEMUX_H_
#define TARVEL_DEMUX_DEMUX_H_

#include <cstdint>

#include "asf/asf.h"
#include "platform/platform.h"

// How a demux run ended. Only kDemuxCompleted is a success.
enum DemuxResult {
  kDemuxCompleted = 0,     // the Data Object was walked to its end
  kDemuxNoDataObject = 1,  // no Data Object where the Header Object ends: nothing written
  kDemuxTruncated = 2,     // the input ends inside the Data Object
  kDemuxWriteFailed = 3,   // a write to the output failed; the walk stopped there
  kDemuxNoMemory = 4,      // the frame buffer could not be had: nothing read or written
};

// Bytes written to the output so far, process-wide.
extern uint64_t g_total_bytes_written;

// Reads the Data Object through the record's reader (the file offset must be where the
// Header Object ends), writes the elementary stream to `output` and prints the report.
DemuxResult demux_data_object(AsfStreamRecord* record, PlatformFile output);

#endif  // TARVEL_DEMUX_DEMUX_H_
