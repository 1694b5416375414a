// A Data Object larger than 4 GiB is walked to its end by its full 64-bit size.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "tests/support/asf_packets.h"

namespace {

TEST(DemuxLargeTest, DataObjectAboveFourGibibytesIsDemuxedToItsEnd) {
  // Packets of another stream, each a single payload of zero bytes filling its packet,
  // push the two frames' packets past 4 GiB. Only their headers are written: the file is
  // sparse.
  const uint32_t kMaxPacket = 0x40000;
  const uint64_t kFillerPackets = 16385;
  const uint64_t kFillerBytes = kFillerPackets * kMaxPacket;
  ASSERT_GT(50 + kFillerBytes, 1ull << 32);

  Bytes filler_header = filler_packet_header(2, kMaxPacket);

  Bytes frame1 = pattern_bytes(700, 1);
  frame1[0] = 0xC0;
  Bytes frame2 = pattern_bytes(900, 2);
  frame2[0] = 0x12;
  Bytes tail;
  for (PacketLayout packet : {whole_object_packet(1, true, frame1), whole_object_packet(1, false, frame2)}) {
    packet.payloads[0].object_number = packet.payloads[0].key_frame ? 1 : 2;
    packet.payloads[0].offset_into_object = 0;
    size_t start = tail.size();
    append_packet(&tail, packet);
    tail.resize(start + kMaxPacket, 0);
  }
  const uint64_t object_size = 50 + kFillerBytes + tail.size();
  Bytes header = data_object_header(object_size, kFillerPackets + 2);

  std::string path = temp_path("large_input");
  int fd = open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
  ASSERT_GE(fd, 0);
  bool made = pwrite(fd, header.data(), header.size(), 0) == static_cast<ssize_t>(header.size()) &&
              ftruncate(fd, static_cast<off_t>(50 + kFillerBytes)) == 0;
  for (uint64_t k = 0; made && k < kFillerPackets; ++k) {
    made = pwrite(fd, filler_header.data(), filler_header.size(), static_cast<off_t>(50 + k * kMaxPacket)) ==
           static_cast<ssize_t>(filler_header.size());
  }
  made = made && pwrite(fd, tail.data(), tail.size(), static_cast<off_t>(50 + kFillerBytes)) ==
                     static_cast<ssize_t>(tail.size());
  close(fd);
  if (!made) {
    std::remove(path.c_str());
    GTEST_SKIP() << "the file system cannot hold a sparse file of " << object_size << " bytes";
  }

  DemuxRun run;
  run.max_packet_size = kMaxPacket;
  run.output_headers = pattern_bytes(24, 3);
  bool ran = run_demux_file(path, &run);
  std::remove(path.c_str());
  ASSERT_TRUE(ran);

  EXPECT_EQ(run.result, kDemuxCompleted);
  Bytes expected = expected_frame(run.output_headers, frame1);
  append(&expected, expected_frame({}, frame2));
  append(&expected, end_of_sequence());
  EXPECT_EQ(run.output, expected);
  EXPECT_NE(run.out.find("-- len = " + std::to_string(object_size) + " bytes; contains " +
                         std::to_string(kFillerPackets + 2) + " data packets\n"),
            std::string::npos);
}

}  // namespace
