// Test support: elementary-stream frames, MD5 and FFmpeg's framemd5 (see frame_check.h).
#include "tests/support/frame_check.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "tests/support/run_binary.h"

EsFrames split_elementary_stream(const Bytes& es) {
  EsFrames out;
  std::vector<size_t> codes;
  for (size_t i = 0; i + 3 < es.size(); i++) {
    if (es[i] == 0 && es[i + 1] == 0 && es[i + 2] == 1) codes.push_back(i);
  }
  out.well_formed = !codes.empty() && codes[0] == 0;
  uint8_t previous = 0;
  for (size_t k = 0; k < codes.size(); k++) {
    size_t at = codes[k];
    size_t end = k + 1 < codes.size() ? codes[k + 1] : es.size();
    uint8_t code = es[at + 3];
    if (code == 0x0D) {
      out.frames.emplace_back(es.begin() + static_cast<long>(at) + 4, es.begin() + static_cast<long>(end));
      out.after_headers.push_back(previous == 0x0E);
    } else if (code == 0x0A) {
      out.ends_with_end_code = k + 1 == codes.size() && end == at + 4;
    } else if (code != 0x0F && code != 0x0E) {
      out.well_formed = false;
    }
    previous = code;
  }
  return out;
}

std::string md5_hex(const Bytes& bytes) {
  static const uint32_t kShift[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                                      5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                                      4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                                      6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};
  uint32_t sine[64];  // floor(|sin(i + 1)| * 2^32), as the algorithm defines its constants
  for (int i = 0; i < 64; i++) sine[i] = static_cast<uint32_t>(std::fabs(std::sin(i + 1.0)) * 4294967296.0);
  Bytes m = bytes;
  uint64_t bits = uint64_t{bytes.size()} * 8;
  m.push_back(0x80);
  while (m.size() % 64 != 56) m.push_back(0);
  for (int i = 0; i < 8; i++) m.push_back(static_cast<uint8_t>(bits >> (8 * i)));
  uint32_t h[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
  for (size_t block = 0; block < m.size(); block += 64) {
    uint32_t w[16];
    for (int i = 0; i < 16; i++) {
      const uint8_t* p = &m[block + 4 * i];
      w[i] = p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
    }
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3];
    for (int i = 0; i < 64; i++) {
      uint32_t f;
      int g;
      if (i < 16) {
        f = (b & c) | (~b & d), g = i;
      } else if (i < 32) {
        f = (d & b) | (~d & c), g = (5 * i + 1) % 16;
      } else if (i < 48) {
        f = b ^ c ^ d, g = (3 * i + 5) % 16;
      } else {
        f = c ^ (b | ~d), g = (7 * i) % 16;
      }
      uint32_t sum = a + f + sine[i] + w[g];
      a = d, d = c, c = b;
      b += sum << kShift[i] | sum >> (32 - kShift[i]);
    }
    h[0] += a, h[1] += b, h[2] += c, h[3] += d;
  }
  char hex[33];
  for (int i = 0; i < 16; i++) std::snprintf(hex + 2 * i, 3, "%02x", (h[i / 4] >> (8 * (i % 4))) & 0xFF);
  return std::string(hex, 32);
}

bool have_ffmpeg() { return shell_output("command -v ffmpeg").find("ffmpeg") != std::string::npos; }

// Lines "stream, dts, pts, duration, size, md5"; the header lines start with '#'.
std::vector<CopiedFrame> ffmpeg_copied_frames(const std::string& path) {
  std::istringstream listing(
      shell_output("ffmpeg -v quiet -i '" + path + "' -map 0:v -c copy -f framemd5 - 2>/dev/null"));
  std::vector<CopiedFrame> frames;
  for (std::string line; std::getline(listing, line);) {
    size_t comma = line.rfind(',');
    if (line.empty() || line[0] == '#' || comma == std::string::npos) continue;
    size_t start = line.find_first_not_of(' ', comma + 1);
    if (start != std::string::npos) frames.push_back({std::atoi(line.c_str()), line.substr(start, 32)});
  }
  return frames;
}
