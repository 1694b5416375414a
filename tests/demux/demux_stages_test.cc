// The packet framing and the object assembler alone: packet bytes in, the framing's
// decision out (where a packet stands, its usable payloads, the damage); pieces in, the
// objects written or dropped out.
#include "demux/demux_stages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/asf_packets.h"

namespace {

constexpr uint32_t kP = 256;
const uint32_t kKnown[kMaxStreamNumbers / 32] = {0x6, 0, 0, 0};  // streams 1 and 2

PayloadLayout piece_of(uint8_t stream, uint32_t number, uint32_t offset, uint32_t size, uint32_t length) {
  PayloadLayout p;
  p.stream_number = stream;
  p.object_number = number;
  p.offset_into_object = offset;
  p.object_size = size;
  p.data = pattern_bytes(length, number * 7 + offset);
  return p;
}

// A multiple-payload packet whose Packet Length says where its payloads end: they fill it.
PacketLayout exact_packet(std::vector<PayloadLayout> payloads, uint8_t number_code = 1) {
  PacketLayout packet;
  packet.multiple_payloads = true;
  packet.packet_length_code = 2;
  packet.object_number_code = number_code;
  packet.payloads = std::move(payloads);
  Bytes bytes;
  append_packet(&bytes, packet);
  packet.packet_length = static_cast<uint32_t>(bytes.size());
  return packet;
}

// A multiple-payload packet that leaves bytes behind its payloads which no padding accounts for.
PacketLayout loose_packet(std::vector<PayloadLayout> payloads) {
  PacketLayout packet;
  packet.multiple_payloads = true;
  packet.payloads = std::move(payloads);
  return packet;
}

// A single-payload packet of object `number`, whole, filling all kP bytes.
PacketLayout full_packet(uint32_t number) {
  PacketLayout packet;
  packet.payloads = {piece_of(1, number, 0, 0, 0)};
  uint32_t capacity = single_payload_capacity(packet, kP);
  packet.payloads[0] = piece_of(1, number, 0, capacity, capacity);
  return packet;
}

// The packets, each padded with zeros to kP bytes, then `tail`.
Bytes area_of(const std::vector<PacketLayout>& packets, const Bytes& tail = {}) {
  Bytes area = build_data_object(packets, kP);
  area.erase(area.begin(), area.begin() + kDataObjectHeaderBytes);
  append(&area, tail);
  return area;
}

const PayloadLayout kWhole = piece_of(1, 1, 0, 40, 40);
const PayloadLayout kHead = piece_of(1, 2, 0, 60, 30);
const PayloadLayout kTail = piece_of(1, 2, 30, 60, 30);
const PayloadLayout kForeign = piece_of(9, 1, 0, 20, 20);
const Bytes kNoPacket(kP, 0xFF);  // error correction flags, then a Packet Length past any packet

TEST(PacketWalkerTable, PassedOverPayloadsAndBytesLeftOverDecideTheStatus) {
  struct Row {
    const char* what;
    PacketLayout packet;
    PacketStatus status;
    uint32_t payloads;
    uint32_t repaired;
  } rows[] = {
      {"an empty object, nothing left over", exact_packet({kWhole, piece_of(1, 2, 0, 0, 0)}), kPacketWhole, 2,
       0},
      {"an empty object, bytes left over", loose_packet({kWhole, piece_of(1, 2, 0, 0, 0)}), kPacketDamaged, 2,
       0},
      {"one, filling the packet", exact_packet({kWhole, kForeign, kHead}), kPacketWhole, 3, 1},
      {"one, last", exact_packet({kWhole, kForeign}), kPacketWhole, 2, 1},
      {"two in a row, filling the packet", exact_packet({kWhole, kForeign, kForeign, kHead}), kPacketDamaged,
       1, 1},
      {"one, bytes left behind", whole_object_packet(9, false, pattern_bytes(20, 1)), kPacketDamaged, 0, 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Bytes area = area_of({row.packet});
    ParsedPacket parsed;
    EXPECT_EQ(demux_parse_packet(area.data(), kP, kP, kKnown, &parsed), row.status);
    EXPECT_EQ(parsed.payload_count, row.payloads);
    EXPECT_EQ(parsed.repaired, row.repaired);
  }
}

struct Framed {
  uint32_t starts_well;
  uint32_t usable;
  uint32_t give_up;
  uint32_t suspect;
  uint32_t spoilt;
  PacketStatus next_step;  // the packet behind, as the next step decodes it with all the bytes
  bool operator==(const Framed&) const = default;
};

// Frames the area's first packet as the walk does, `given` of its bytes handed over, with an
// assembler that met nothing.
Framed frame_first(const Bytes& area, size_t given) {
  auto framing = std::make_unique<PacketFraming>();
  auto assembler = std::make_unique<ObjectAssembler>();
  PacketFraming* f = framing.get();
  framing_init(f, kP, kKnown, 1, kNoDataEnd);
  uint32_t available = std::min<uint32_t>(static_cast<uint32_t>(given), framing_look_length(f, 0));
  PacketPlace place = framing_place(f, 0, area.data(), available);
  const ParsedPacket* packet = framing_decode_packet(f, 0, area.data(), available, &place);
  Framed framed = {};
  if (framing_starts_well(f, packet, area.data(), available)) {
    NextPacket next = framing_decode_next(f, 0, area.data(), available, packet, place.length);
    PacketVerdict v = framing_verdict(f, packet, next, assembler.get());
    framed = Framed{1, v.usable, v.give_up, v.suspect, v.spoilt};
  }
  uint32_t rest = static_cast<uint32_t>(area.size()) - place.length;
  PacketPlace behind = framing_place(f, place.length, area.data() + place.length, rest);
  framed.next_step =
      framing_decode_packet(f, place.length, area.data() + place.length, rest, &behind)->status;
  return framed;
}

TEST(FramingTable, ThePacketBehindDecidesOnTheLastPayload) {
  PacketLayout cut_head = exact_packet({kWhole, kHead});
  cut_head.payloads[1].length_field = 500;  // runs past the packet: its header was read
  PacketLayout cut_other = cut_head;
  cut_other.payloads[1].stream_number = 2;
  PacketLayout cut_gap = exact_packet({kHead, piece_of(1, 2, 40, 60, 20)});
  cut_gap.payloads[1].length_field = 500;
  const Bytes two = area_of({exact_packet({kWhole, kHead}), exact_packet({kTail})});
  const Bytes full_behind = area_of({exact_packet({kWhole, kHead}), full_packet(3)});
  struct Row {
    const char* what;
    Bytes area;
    Framed framed;
    size_t given = SIZE_MAX;
  } rows[] = {
      {"a packet behind", two, {1, 2, 0, 0, 0, kPacketWhole}},
      {"a packet behind, one byte short", full_behind, {1, 2, 0, 0, 0, kPacketWhole}, 2 * kP - 1},
      {"bytes that start no packet behind",
       area_of({exact_packet({kWhole, kHead})}, kNoPacket),
       {1, 1, 1, 1, 0, kPacketDamaged}},
      {"the input's end behind", area_of({exact_packet({kWhole, kHead})}), {1, 2, 0, 0, 0, kPacketCut}},
      {"the last payload's bytes again behind",
       area_of({exact_packet({kWhole, kHead}), exact_packet({kHead})}),
       {1, 1, 1, 0, 0, kPacketWhole}},
      {"its object's number again behind, another width",
       area_of({exact_packet({kWhole, kHead}), exact_packet({kHead}, 2)}),
       {1, 2, 0, 0, 0, kPacketWhole}},
      {"damage where the next object's header begins",
       area_of({cut_head, exact_packet({kTail})}),
       {1, 1, 1, 1, 1, kPacketWhole}},
      {"damage where another stream's header begins",
       area_of({cut_other, exact_packet({kTail})}),
       {1, 0, 1, 1, 1, kPacketWhole}},
      {"damage where a later part of the object begins",
       area_of({cut_gap, exact_packet({kTail})}),
       {1, 0, 1, 1, 1, kPacketWhole}},
      {"repaired, bytes that start no packet behind",
       area_of({exact_packet({kWhole, kForeign, kHead})}, kNoPacket),
       {1, 2, 1, 1, 1, kPacketDamaged}},
      {"no packet", kNoPacket, {0, 0, 0, 0, 0, kPacketCut}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(frame_first(row.area, std::min(row.given, row.area.size())), row.framed);
  }
}

TEST(FramingTable, SeekStopsAtAPacketOrBeforeTheDataObjectsLastBytes) {
  Bytes packets = area_of({exact_packet({kWhole}), exact_packet({kHead}), exact_packet({kTail})});
  Bytes lost(2 * kP, 0xFF);
  Bytes one(packets.begin(), packets.begin() + kP);
  PacketLayout damaged = exact_packet({kWhole, kHead});
  damaged.payloads[1].length_field = 500;
  Bytes lost_then_damaged(100, 0xFF);
  append(&lost_then_damaged, area_of({damaged}));
  Bytes lost_then_packets(100, 0xFF);
  append(&lost_then_packets, packets);
  struct Row {
    const char* what;
    const Bytes& bytes;
    uint64_t at;  // the window's start
    uint64_t data_end;
    uint32_t first;
    ReaderEnd ended;
    SeekStep step;
  } rows[] = {
      {"packets behind lost bytes", lost_then_packets, 0, kNoDataEnd, 0, kReaderEndOfInput, {100, 1}},
      {"the Data Object ends in the window",
       kNoPacket,
       0,
       200,
       0,
       kReaderEndOfInput,
       {200 - kMinTailBytes, 1}},
      {"at the Data Object's last bytes", kNoPacket, 0, kMinTailBytes, 1, kReaderEndOfInput, {1, 1}},
      {"a packet damaged inside, not where packets stand",
       lost_then_damaged,
       0,
       kNoDataEnd,
       0,
       kReaderEndOfInput,
       {100 + kP, 1}},
      {"no packet in the window yet", lost, 0, kNoDataEnd, 0, kReaderOpen, {kP, 0}},
      {"a packet across the end, then a read error",
       one,
       1000,
       1100,
       0,
       kReaderReadError,
       {100 - kMinTailBytes, 1}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    auto framing = std::make_unique<PacketFraming>();
    framing_init(framing.get(), kP, kKnown, 1, row.data_end);
    ParsedPacket first;
    demux_parse_packet(packets.data(), kP, kP, kKnown, &first);
    framing_learn_opening(framing.get(), &first);
    uint32_t available = std::min<uint32_t>(static_cast<uint32_t>(row.bytes.size()), 2 * kP);
    SeekStep step = framing_seek(framing.get(), row.at, row.bytes.data(), available, row.first, 0, row.ended);
    EXPECT_EQ(step.skipped, row.step.skipped);
    EXPECT_EQ(step.found, row.step.found);
  }
}

uint8_t piece_bytes[64];

MediaPiece piece(uint32_t number, uint32_t width, uint32_t offset, uint32_t size, uint32_t length) {
  return MediaPiece{number, width, offset, 1, size, 0, 100 * number, piece_bytes, length, 0};
}

// Objects 1..n, each whole in one piece, then object `again` once more (0: none).
std::vector<MediaPiece> objects_up_to(uint32_t n, uint32_t again = 0) {
  std::vector<MediaPiece> pieces;
  for (uint32_t number = 1; number <= n; ++number) pieces.push_back(piece(number, 1, 0, 8, 8));
  if (again != 0) pieces.push_back(piece(again, 1, 0, 8, 8));
  return pieces;
}

TEST(AssemblerTable, PiecesInObjectsWrittenOrDroppedAndNumbersInLine) {
  // Object 1 dropped, then as many objects as its number stands ended for, then a piece of it.
  std::vector<MediaPiece> dropped_then = {piece(1, 1, 0, 10, 12)};
  for (uint32_t n = 2; n <= 1 + kEndedMemory / 8; ++n) dropped_then.push_back(piece(n, 1, 0, 8, 8));
  dropped_then.push_back(piece(1, 1, 4, 10, 6));
  struct Row {
    const char* what;
    std::vector<MediaPiece> pieces;
    MediaPiece asked;  // assembler_in_line, once the pieces are taken
    uint32_t written;
    uint32_t dropped;
    bool in_line;
  } rows[] = {
      {"past its object's size: dropped", {piece(1, 1, 0, 10, 12)}, piece(1, 1, 0, 10, 0), 0, 1, false},
      {"past its size behind a piece",
       {piece(1, 1, 0, 10, 8), piece(1, 1, 8, 10, 4)},
       piece(1, 1, 8, 10, 0),
       0,
       1,
       false},
      {"the next number", objects_up_to(5), piece(6, 1, 0, 8, 0), 5, 0, true},
      {"the next number of another width", objects_up_to(5), piece(6, 2, 0, 8, 0), 5, 0, false},
      {"open, another width", {piece(5, 1, 0, 10, 4)}, piece(5, 2, 4, 10, 0), 0, 1, false},
      {"an object again the window behind", objects_up_to(17, 1), piece(18, 1, 0, 8, 0), 17, 0, true},
      {"an object again past the window", objects_up_to(18, 1), piece(2, 1, 0, 8, 0), 19, 0, true},
      {"a dropped object's piece while its number stands ended", dropped_then,
       piece(2 + kEndedMemory / 8, 1, 0, 8, 0), kEndedMemory / 8, 1, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    auto assembler = std::make_unique<ObjectAssembler>();
    ASSERT_TRUE(assembler_init(assembler.get(), 4096));
    uint32_t written = 0;
    uint32_t dropped = 0;
    for (const MediaPiece& p : row.pieces) {
      dropped += assembler_take(assembler.get(), &p).dropped_count;
      AssemblerResult given_up = {};
      for (; assembler_next(assembler.get(), false, &given_up); ++written) assembler_finish(assembler.get());
    }
    EXPECT_EQ(assembler_in_line(assembler.get(), &row.asked), row.in_line);
    dropped += assembler_abandon(assembler.get()).dropped_count;
    AssemblerResult given_up = {};
    for (; assembler_next(assembler.get(), false, &given_up); ++written) assembler_finish(assembler.get());
    EXPECT_EQ(written, row.written);
    EXPECT_EQ(dropped, row.dropped);
    assembler_release(assembler.get());
  }
}

}  // namespace
