// Property: for any bytes taken as data packets of any size, the packet walker reads only
// the bytes it is given and places every payload it decodes inside its packet, and the
// object assembler, fed those payloads in order, keeps its pieces sorted by offset, never
// overlapping, inside their object, with the bytes held adding up, and hands out an object
// to be written (as the walk asks for them) only when it is complete, every byte of it held.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "demux/demux_stages.h"

namespace {

// Stops the run when a check fails, naming its line.
void check(bool condition, int line = __builtin_LINE()) {
  if (condition) return;
  std::fprintf(stderr, "fuzz_packet.cc:%d: check failed\n", line);
  std::abort();
}

void check_assembler(const ObjectAssembler& assembler) {
  for (const OpenObject& a : assembler.objects) {
    if (!a.active || a.too_large) continue;
    uint64_t held = 0;
    uint64_t end = 0;
    for (uint32_t i = 0; i < a.piece_count; ++i) {
      const ObjectPiece& p = a.pieces[i];
      check(p.length > 0 && p.offset >= end && uint64_t{p.offset} + p.length <= a.size);
      end = uint64_t{p.offset} + p.length;
      held += p.length;
    }
    check(held == a.held);
  }
}

// The object assembler_next chose: complete, every byte held, from offset 0 on.
void write_completed(ObjectAssembler* assembler) {
  const OpenObject& done = *assembler_completed(assembler);
  check(done.active && done.complete && done.held == done.size);
  check(done.size == 0 || (done.piece_count > 0 && done.pieces[0].offset == 0));
  assembler_finish(assembler);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  // The first two bytes choose the packet size; the rest are packets of that size, the
  // last one given only in part.
  uint32_t packet_size = kMinPacketSize + (data[0] | data[1] << 8);
  std::vector<uint8_t> bytes(data + 2, data + size);  // exactly the bytes given
  static ObjectAssembler assembler;
  if (!assembler_init(&assembler, 4096)) return 0;
  const uint32_t known_streams[kMaxStreamNumbers / 32] = {0xFFFFFFFEu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu};
  ParsedPacket packet;
  AssemblerResult given_up = {};  // what forced writing gave up: the walk counts it, we need not
  for (size_t at = 0; at < bytes.size(); at += packet_size) {
    uint32_t available =
        static_cast<uint32_t>(bytes.size() - at < packet_size ? bytes.size() - at : packet_size);
    PacketStatus status =
        demux_parse_packet(bytes.data() + at, available, packet_size, known_streams, &packet);
    check(status == packet.status && packet.payload_count <= kMaxPacketPayloads);
    for (uint32_t i = 0; i < packet.payload_count; ++i) {
      const PacketPayload& p = packet.payloads[i];
      // A payload of no known stream stands only in a repaired packet.
      check(p.foreign ? packet.repaired && p.stream_number <= 127
                      : p.stream_number >= 1 && p.stream_number <= 127);
      check(uint64_t{p.data_offset} + p.length <= available);
      if (p.compressed || p.foreign) continue;
      MediaPiece piece = media_piece(p, bytes.data() + at);
      uint32_t dropped_size = 0;
      if (!assembler_has_room(&assembler)) {
        while (!assembler_gather(&assembler, &dropped_size)) {
        }
        if (!assembler_has_room(&assembler)) continue;
      }
      // As the walk does: complete objects waiting for their turn go first when the piece
      // needs their place, and the ones whose turn has come after it.
      while (assembler_must_write(&assembler, &piece) && assembler_next(&assembler, true, &given_up)) {
        write_completed(&assembler);
      }
      AssemblerResult result = assembler_take(&assembler, &piece);
      check_assembler(assembler);
      check(result.dropped_count <= kOpenObjects + 1);
      while (assembler_next(&assembler, false, &given_up)) write_completed(&assembler);
    }
  }
  assembler_abandon(&assembler);
  while (assembler_next(&assembler, true, &given_up)) write_completed(&assembler);
  assembler_release(&assembler);
  return 0;
}
