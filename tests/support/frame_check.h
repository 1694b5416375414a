// Test support: what a written elementary stream holds, and what FFmpeg reads out of an
// ASF file, in terms the tests can hold against the source frames.
//
//   split_elementary_stream  the frames of a VC-1 elementary stream, cut at every start
//                            code 00 00 01 xx; which came right after an entry-point header
//   md5_hex                  the MD5 of bytes, as FFmpeg's framemd5 prints it
//   ffmpeg_copied_frames     `ffmpeg -i f.wmv -map 0:v -c copy -f framemd5 -`: the stream
//                            index and MD5 of every video packet FFmpeg reads
#ifndef TARVEL_TESTS_SUPPORT_FRAME_CHECK_H_
#define TARVEL_TESTS_SUPPORT_FRAME_CHECK_H_

#include <string>
#include <vector>

#include "tests/support/test_files.h"

struct EsFrames {
  std::vector<Bytes> frames;        // the bytes behind each 00 00 01 0D
  std::vector<bool> after_headers;  // an entry-point header (00 00 01 0E) came right before it
  bool ends_with_end_code = false;  // the stream's last four bytes are 00 00 01 0A, and only there
  bool well_formed = true;          // starts with a start code; only 0F, 0E, 0D and 0A codes
};
EsFrames split_elementary_stream(const Bytes& es);

std::string md5_hex(const Bytes& bytes);

struct CopiedFrame {
  int stream = 0;
  std::string md5;
};
bool have_ffmpeg();
std::vector<CopiedFrame> ffmpeg_copied_frames(const std::string& path);

#endif  // TARVEL_TESTS_SUPPORT_FRAME_CHECK_H_
