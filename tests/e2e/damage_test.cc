// Damaged input converted by the built binary (`-v1 in.wmv out.vc1`), one table per kind
// of damage: the sample and files written from its frames, with packets zeroed,
// duplicated, dropped or bit-flipped, bytes zeroed, cut or inserted, one frame's pieces
// out of order, repeated, missing or too long, and files that are unusual but whole.
//
// Every run is held to the same terms: every frame written is one of the original frames,
// whole, in the original order, none twice, with the headers before key frames only; every
// original frame whose pieces all lie in packets the damage did not reach comes back (the
// piece map says where they lie, not the program); the output ends with 00 00 01 0A; a run
// that lost data ends with status 1 and the damage summary (level 0, on standard error
// here), one that lost nothing with status 0 and not a word. FFmpeg, where installed, is
// the yardstick: TARVEL keeps at least as many intact frames as it copies out.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "tests/support/frame_check.h"
#include "tests/support/run_binary.h"
#include "tests/support/wmv_writer.h"

namespace {

struct Expect {
  const char* name;
  bool loses = true;    // status 1 and the damage summary; false: status 0 and no message
  std::string warning;  // a level-1 line the damage makes certain
  std::string summary;  // the whole summary line, where its numbers are certain
};

struct Row {
  Expect expect;
  Bytes bytes;
  std::vector<uint32_t> frames;  // the original frames of stream 1 (sample frame indices), in order
  std::vector<bool> must_keep;   // by original frame: none of its pieces lies where the damage reached
};

uint64_t packet_start(const WmvFile& f, uint32_t k) { return f.packet_area + uint64_t{k} * f.packet_size; }

// The file's packets that overlap its bytes [from, to).
void touch(const WmvFile& f, uint64_t from, uint64_t to, std::set<uint32_t>* touched) {
  for (uint32_t k = 0; k < f.packet_count; k++) {
    if (packet_start(f, k) < to && from < packet_start(f, k + 1)) touched->insert(k);
  }
}

Row make_row(const Expect& expect, const WmvFile& f, Bytes bytes, const std::set<uint32_t>& touched) {
  Row row{expect, std::move(bytes), {}, {}};
  for (const WmvObject& o : f.objects) {
    if (o.stream != 1) continue;
    row.frames.push_back(o.frame);
    row.must_keep.push_back(
        std::none_of(o.packets.begin(), o.packets.end(), [&](uint32_t k) { return touched.count(k) > 0; }));
  }
  return row;
}

// Bytes overwritten in place: the packets they fall in are damaged.
Row overwritten(const Expect& expect, const WmvFile& f, uint64_t at, const Bytes& with) {
  Bytes bytes = f.bytes;
  std::copy(with.begin(), with.end(), bytes.begin() + static_cast<long>(at));
  std::set<uint32_t> touched;
  touch(f, at, at + with.size(), &touched);
  return make_row(expect, f, bytes, touched);
}

// `removed` bytes at `at` replaced by `inserted`: every later byte shifts. The packet before
// the shift counts as damaged too; bytes pushed past the Data Object's end are not read.
Row spliced(const Expect& expect, const WmvFile& f, uint64_t at, uint64_t removed, const Bytes& inserted) {
  Bytes bytes = f.bytes;
  bytes.erase(bytes.begin() + static_cast<long>(at), bytes.begin() + static_cast<long>(at + removed));
  bytes.insert(bytes.begin() + static_cast<long>(at), inserted.begin(), inserted.end());
  std::set<uint32_t> touched;
  touch(f, at - 1, at + removed, &touched);
  uint64_t end = packet_start(f, f.packet_count);
  if (inserted.size() > removed) touch(f, end - (inserted.size() - removed), end, &touched);
  return make_row(expect, f, bytes, touched);
}

// A file written whole from a layout; `lost` are the frames its layout keeps from completing.
Row written(const Expect& expect, const WmvLayout& layout, const std::vector<uint32_t>& lost = {}) {
  WmvFile f = write_wmv(sample_wmv(), layout);
  Row row = make_row(expect, f, f.bytes, {});
  for (uint32_t frame : lost) row.must_keep[frame] = false;
  return row;
}

Bytes packet_bytes(const WmvFile& f, uint32_t k) {
  return Bytes(f.bytes.begin() + static_cast<long>(packet_start(f, k)),
               f.bytes.begin() + static_cast<long>(packet_start(f, k + 1)));
}

std::string dropped(uint32_t object) {
  return "Warning: incomplete media object " + std::to_string(object) + " of stream 1 dropped.\n";
}

std::string summary(uint32_t packets, uint32_t frames) {
  return "Error: Damaged input: " + std::to_string(packets) + " data packets damaged, " +
         std::to_string(frames) + " frames dropped; every frame written is intact.\n";
}

const char* const kPastEnd = "Warning: data packets stand behind the Data Object's declared end";

std::vector<Row> packet_rows() {
  const WmvFile& s = sample_wmv().file;
  Bytes flipped = {static_cast<uint8_t>(s.bytes[packet_start(s, 5) + 3] ^ 0x10)};  // padding length: a word
  WmvFile interleaved = write_wmv(sample_wmv(), {.audio_bytes = 300});
  return {
      overwritten({.name = "packet 6 zeroed", .warning = dropped(14)}, s, packet_start(s, 5),
                  Bytes(s.packet_size, 0)),
      // The copy's pieces are taken once, and the last packet, pushed past the Data Object's
      // declared end, is read all the same: nothing is lost, but the size was wrong.
      spliced({.name = "packet 6 duplicated", .warning = kPastEnd, .summary = summary(1, 0)}, s,
              packet_start(s, 6), 0, packet_bytes(s, 5)),
      spliced({.name = "packet 6 dropped", .warning = dropped(14)}, s, packet_start(s, 5), s.packet_size, {}),
      overwritten({.name = "a bit flipped in packet 6's Length Type Flags",
                   .warning = "Warning: data packet 6 is damaged; rest of the packet skipped.\n"},
                  s, packet_start(s, 5) + 3, flipped),
      overwritten({.name = "packet 8 zeroed, audio between the video pieces"}, interleaved,
                  packet_start(interleaved, 7), Bytes(interleaved.packet_size, 0)),
  };
}

std::vector<Row> shift_rows() {
  const WmvFile& s = sample_wmv().file;
  return {
      overwritten({.name = "4 KiB of zeros at offset 60000"}, s, 60000, Bytes(4096, 0)),
      spliced({.name = "10 KiB cut at offset 60000"}, s, 60000, 10240, {}),
      spliced({.name = "1000 bytes inserted at offset 60000"}, s, 60000, 0, Bytes(1000, 0xA5)),
      // A cut whose far side reads as plausible payload headers for a while: the frame it
      // ends inside must not be written.
      spliced({.name = "10 KiB cut at offset 46000"}, s, 46000, 10240, {}),
      // Bytes inserted inside a payload header: the payload before it is whole and kept.
      spliced({.name = "1000 bytes inserted at offset 54000"}, s, 54000, 0, Bytes(1000, 0x3C)),
  };
}

std::vector<uint32_t> first_frames(uint32_t n) {
  std::vector<uint32_t> frames(n);
  for (uint32_t i = 0; i < n; i++) frames[i] = i;
  return frames;
}

// The third frame (382 bytes, media object 3) sent in pieces of its own.
WmvLayout third_frame_as(std::vector<WmvPiece> pieces) { return {.shaped_frame = 2, .pieces = pieces}; }

std::vector<Row> piece_rows() {
  return {
      written({.name = "pieces at offsets 0, 250, 100", .loses = false},
              third_frame_as({{0, 100}, {250, 132}, {100, 150}})),
      written({.name = "a piece sent twice", .loses = false},
              third_frame_as({{0, 100}, {100, 150}, {100, 150}, {250, 132}})),
      // A file of 29 frames whose pieces come twice: in the same packet, in the next one, a
      // whole frame twice.
      written({.name = "29 frames, the last piece sent twice", .loses = false},
              {.video = {{.frames = first_frames(29)}},
               .shaped_frame = 2,
               .pieces = {{0, 250}, {250, 132}, {250, 132}}}),
      written({.name = "29 frames, a piece sent twice across packets", .loses = false},
              {.video = {{.frames = first_frames(29)}},
               .shaped_frame = 0,
               .pieces = {{0, 3100}, {0, 3100}, {3100, 1257}}}),
      written({.name = "29 frames, a frame sent twice", .loses = false},
              {.video = {{.frames = first_frames(29)}}, .shaped_frame = 9, .pieces = {{0, 1379}, {0, 1379}}}),
      written({.name = "a middle piece lost",
               .warning = dropped(3),
               .summary = "Error: Damaged input: 0 data packets damaged, 1 frames dropped; every frame "
                          "written is intact.\n"},
              third_frame_as({{0, 100}, {250, 132}}), {2}),
      written({.name = "a payload longer than its object", .warning = dropped(3)},
              third_frame_as({{0, 100}, {100, 382}}), {2}),
  };
}

std::vector<Row> whole_rows() {
  const WmvSource& sample = sample_wmv();
  std::vector<uint32_t> small_frames = {0}, steady_times;
  for (uint32_t i = 0; i < sample.frames.size(); i++) {
    if (sample.frames[i].data.size() < 256) small_frames.push_back(i);
    steady_times.push_back(3100 + 40 * i);
  }
  return {
      written({.name = "compressed payloads", .loses = false},
              {.video = {{.frames = small_frames}}, .times_ms = steady_times, .compressed = true}),
      written({.name = "packets of 1,200,000 bytes", .loses = false}, {.packet_size = 1200000}),
      written({.name = "Data Object Size 0", .loses = false}, {.data_object_size = 0}),
      written({.name = "compressed payloads among normal ones", .loses = false}, {.compressed = true}),
  };
}

// Packets behind the Data Object's declared end are read, whatever the size declared.
std::vector<Row> data_size_rows() {
  std::vector<Row> rows;
  for (const char* size : {"50", "82", "83", "3283", "6483"}) {
    rows.push_back(written({.name = size, .warning = kPastEnd, .summary = summary(1, 0)},
                           {.data_object_size = std::stoll(size)}));
  }
  return rows;
}

// Only `lost` (sample frame indices) may be missing: the damage reaches the others' packets
// but leaves their bytes whole.
Row losing_only(Row row, const std::vector<uint32_t>& lost) {
  row.must_keep.assign(row.frames.size(), true);
  for (uint32_t frame : lost) row.must_keep[frame] = false;
  return row;
}

std::string packet_warning(uint64_t packet, const char* rest) {
  return "Warning: data packet " + std::to_string(packet) + " is damaged; " + rest + "\n";
}

// The file's packets in another order, some of them twice.
Row reordered(const Expect& expect, const WmvFile& f, const std::vector<uint32_t>& order) {
  Bytes bytes(f.bytes.begin(), f.bytes.begin() + static_cast<long>(packet_start(f, 0)));
  for (uint32_t k : order) {
    Bytes packet = packet_bytes(f, k);
    bytes.insert(bytes.end(), packet.begin(), packet.end());
  }
  bytes.insert(bytes.end(), f.bytes.begin() + static_cast<long>(packet_start(f, f.packet_count)),
               f.bytes.end());
  return make_row(expect, f, bytes, {});
}

// Packets moved by a place or sent again far later, and payload-header fields with a bit
// flipped: nothing is lost that the damage did not make impossible, nothing written twice.
std::vector<Row> moved_rows() {
  const WmvFile& s = sample_wmv().file;
  std::vector<uint32_t> in_order(s.packet_count);
  for (uint32_t k = 0; k < s.packet_count; k++) in_order[k] = k;
  std::vector<Row> rows;
  for (uint32_t k : {1u, 11u, 17u, 39u}) {  // packet k + 1 in front of packet k
    std::vector<uint32_t> order = in_order;
    std::swap(order[k - 1], order[k]);
    rows.push_back(
        reordered({.name = "a packet moved in front of the one before it", .loses = false}, s, order));
  }
  std::vector<uint32_t> again = in_order;
  again.insert(again.begin() + 25, 4);
  rows.push_back(reordered(
      {.name = "packet 5 again behind packet 25", .warning = kPastEnd, .summary = summary(1, 0)}, s, again));
  // A tail, a whole object, a head, a whole object opening its packet, a tail that reads
  // as an object of the packet before: (packet, payload, bit).
  std::vector<WmvPayload> payloads;
  for (auto [k, i, bit] :
       std::vector<std::array<uint32_t, 3>>{{17, 0, 0x10}, {17, 1, 1}, {17, 7, 4}, {11, 0, 1}, {23, 0, 4}}) {
    parse_wmv_packet(s.bytes.data() + packet_start(s, k), s.packet_size, &payloads);
    uint64_t number_byte = packet_start(s, k) + payloads[i].head + 1;
    rows.push_back(overwritten({.name = "a bit flipped in a payload's media object number", .loses = false},
                               s, number_byte, {static_cast<uint8_t>(s.bytes[number_byte] ^ bit)}));
  }
  parse_wmv_packet(s.bytes.data() + packet_start(s, 17), s.packet_size, &payloads);
  // Object 48's stream number names no stream, and the last payload's length overruns the
  // packet: object 48 is passed over alone, and the damage costs only object 54 behind it.
  Row foreign = overwritten({.name = "a payload of no stream in front of damage"}, s,
                            packet_start(s, 17) + payloads[1].head, {0x05});
  foreign.bytes[packet_start(s, 17) + payloads[7].at - 1] = 0xFF;
  rows.push_back(losing_only(foreign, {47, 53}));
  rows.push_back(overwritten({.name = "a bit flipped in a payload's media object size",
                              .warning = "is too large; frame skipped\n",
                              .summary = summary(0, 1)},
                             s, 11101, {0x10}));
  return rows;
}

// A stretch repeated, a field that disagrees with the rest of its packet, packets moved
// across the Data Object's declared end.
std::vector<Row> repeat_rows() {
  const WmvFile& s = sample_wmv().file;
  uint64_t stream_byte = s.objects[43].offsets[0];  // media object 44 lies whole in one payload
  std::vector<WmvPayload> payloads;
  parse_wmv_packet(s.bytes.data() + packet_start(s, 37), s.packet_size, &payloads);
  uint64_t count_byte = packet_start(s, 37) + payloads[0].head - 1;
  auto repeated = [&](uint64_t at, uint64_t n) {
    return Bytes(s.bytes.begin() + static_cast<long>(at), s.bytes.begin() + static_cast<long>(at + n));
  };
  Row cut_after_shift = spliced({.name = "50 bytes repeated in packet 4, the input cut in the last packet"},
                                s, packet_start(s, 3) + 100, 0, repeated(packet_start(s, 3) + 100, 50));
  cut_after_shift.bytes.resize(packet_start(s, 39) + 50 + 2847);
  Row header_then_packet = spliced({.name = "packet 37's header zeroed, 400 bytes repeated in packet 38"}, s,
                                   packet_start(s, 37) + 1714, 0, repeated(packet_start(s, 37) + 1714, 400));
  std::fill_n(header_then_packet.bytes.begin() + static_cast<long>(packet_start(s, 36) - 15), 50, 0);
  Row padding_moved =
      spliced({.name = "7 bytes in packet 8, 5000 in the last packet's padding"}, s, 23047, 0, Bytes(7, 0));
  padding_moved.bytes.insert(padding_moved.bytes.begin() + 127604, 5000, 0x77);
  return {
      losing_only(overwritten({.name = "a payload's stream number zeroed",
                               .warning = packet_warning((stream_byte - s.packet_area) / s.packet_size + 1,
                                                         "its sound payloads kept."),
                               .summary = summary(1, 1)},
                              s, stream_byte, {0}),
                  {43}),
      losing_only(overwritten({.name = "packet 38's payload count one too many",
                               .warning = packet_warning(38, "its sound payloads kept."),
                               .summary = summary(1, 0)},
                              s, count_byte, {static_cast<uint8_t>(s.bytes[count_byte] + 1)}),
                  {}),
      // The packet that joins the repeat holds the tail of another; its last payload comes
      // again with the repeat.
      spliced({.name = "a packet's length repeated from inside the last but one", .summary = summary(1, 0)},
              s, packet_start(s, 38) + 199, 0, repeated(packet_start(s, 38) + 199, s.packet_size)),
      losing_only(
          spliced({.name = "a packet's length repeated from inside packet 11", .summary = summary(2, 0)}, s,
                  packet_start(s, 10) + 500, 0, repeated(packet_start(s, 10) + 500, s.packet_size)),
          {}),
      losing_only(
          spliced({.name = "two packets' length repeated from inside packet 11"}, s,
                  packet_start(s, 10) + 500, 0, repeated(packet_start(s, 10) + 500, 2 * s.packet_size)),
          {}),
      // The joining packet's first payload header is half of one packet, half of the other;
      // its other payloads go back to objects already met.
      losing_only(spliced({.name = "a packet's length repeated from 25 bytes into packet 31",
                           .summary = summary(2, 0)},
                          s, packet_start(s, 30) + 25, 0, repeated(packet_start(s, 30) + 25, s.packet_size)),
                  {}),
      // The index object then begins inside the last packet, whose payload lost bytes.
      losing_only(
          spliced({.name = "400 bytes cut inside the last packet's payload", .summary = summary(1, 1)}, s,
                  packet_start(s, 39) + 48, 400, {}),
          {119}),
      // The 7 bytes left at the next packet's place read as a packet with no payload.
      losing_only(spliced({.name = "7 bytes repeated inside a payload"}, s, 91897, 0, repeated(91897, 7)),
                  {93}),
      losing_only(spliced({.name = "5000 bytes inserted in packet 38"}, s, packet_start(s, 37) + 1441, 0,
                          Bytes(5000, 0x5A)),
                  {115, 116}),
      // Zeros from a payload's offset field on read as an empty object, which is no frame.
      losing_only(overwritten({.name = "50 bytes zeroed inside a payload header", .summary = summary(1, 1)},
                              s, 6534, Bytes(50, 0)),
                  {3}),
      // The payload given up names object 0: out of line, it moves no count.
      losing_only(overwritten({.name = "5000 bytes zeroed behind a payload's stream number",
                               .summary = summary(2, 4)},
                              s, 33791, Bytes(5000, 0)),
                  {27, 28, 29, 30}),
      losing_only(cut_after_shift, {7, 8, 9, 10}),
      losing_only(header_then_packet, {111, 112, 113, 115, 116}),
      losing_only(padding_moved, {19}),
  };
}

struct Outcome {
  BinaryRun run;
  std::vector<bool> kept;  // by original frame
  size_t intact = 0;
};

// Converts the row's file and checks every frame written against the original frames.
Outcome convert(const Row& row) {
  Outcome o;
  std::string dir = make_scratch_dir();
  EXPECT_TRUE(write_file(dir + "/in.wmv", row.bytes));
  o.run = run_tarvel_binary({"-v1", dir + "/in.wmv", dir + "/out.vc1"});
  EsFrames out = split_elementary_stream(read_file(dir + "/out.vc1"));
  EXPECT_TRUE(out.well_formed && out.ends_with_end_code) << "the output is not headers, frames and end code";
  const std::vector<WmvFrame>& source = sample_wmv().frames;
  o.kept.assign(row.frames.size(), false);
  size_t next = 0;
  for (size_t j = 0; j < out.frames.size(); j++) {
    size_t i = next;
    while (i < row.frames.size() && source[row.frames[i]].data != out.frames[j]) i++;
    if (i == row.frames.size()) {
      ADD_FAILURE() << "written frame " << j + 1 << " is no original frame after frame " << next;
      continue;
    }
    EXPECT_EQ(out.after_headers[j], source[row.frames[i]].key) << "headers before written frame " << j + 1;
    o.kept[i] = true;
    o.intact++;
    next = i + 1;
  }
  return o;
}

bool has_summary(const std::string& err) {
  size_t at = err.find("Error: Damaged input: ");
  if (at == std::string::npos) return false;
  std::string line = err.substr(at, err.find('\n', at) + 1 - at);
  unsigned long long packets = 0;
  unsigned frames = 0;
  int used = -1;
  std::sscanf(line.c_str(),
              "Error: Damaged input: %llu data packets damaged, %u frames dropped; every frame written is "
              "intact.\n%n",
              &packets, &frames, &used);
  return used == static_cast<int>(line.size());
}

void expect_rows(const std::vector<Row>& rows) {
  for (const Row& row : rows) {
    SCOPED_TRACE(row.expect.name);
    Outcome o = convert(row);
    std::string missing;
    for (size_t i = 0; i < row.frames.size(); i++) {
      if (row.must_keep[i] && !o.kept[i]) missing += " " + std::to_string(i + 1);
    }
    EXPECT_EQ(missing, "") << "frames the damage did not reach are missing";
    const BinaryRun& run = o.run;
    if (row.expect.loses) {
      EXPECT_EQ(run.status, 1);
      EXPECT_TRUE(has_summary(run.err)) << run.err;
      if (!row.expect.summary.empty()) {
        EXPECT_NE(run.err.find(row.expect.summary), std::string::npos) << run.err;
      }
    } else {
      EXPECT_EQ(run.status, 0);
      EXPECT_EQ(run.err, "");
      EXPECT_EQ(o.intact, row.frames.size());
      for (const char* text : {"Warning: data packet", "Warning: incomplete media object"}) {
        EXPECT_EQ(run.out.find(text), std::string::npos) << run.out;
      }
    }
    if (!row.expect.warning.empty()) {
      EXPECT_NE(run.out.find(row.expect.warning), std::string::npos) << run.out;
    }
  }
}

TEST(Damage, DamagedPacketsCostOnlyTheFramesInThem) {
  std::vector<WmvPayload> payloads;
  Bytes flipped = packet_bytes(sample_wmv().file, 5);
  flipped[3] ^= 0x10;
  ASSERT_FALSE(parse_wmv_packet(flipped.data(), static_cast<uint32_t>(flipped.size()), &payloads))
      << "the bit flip leaves a packet that still parses";
  expect_rows(packet_rows());
}

TEST(Damage, ShiftedPacketsAreFoundAgain) { expect_rows(shift_rows()); }

TEST(Damage, PiecesJoinByObjectAndOffset) { expect_rows(piece_rows()); }

TEST(Damage, UnusualButWholeFilesLoseNothing) { expect_rows(whole_rows()); }

TEST(Damage, RepeatsAndFieldsThatDisagreeCostNoMore) { expect_rows(repeat_rows()); }

TEST(Damage, MovedPacketsAndDamagedPayloadHeadersCostNoMore) { expect_rows(moved_rows()); }

TEST(Damage, PacketsBehindTheDeclaredEndAreReadAsDamage) { expect_rows(data_size_rows()); }

TEST(Damage, NoDataObjectConvertsNothing) {
  WmvFile f = write_wmv(sample_wmv(), {.data_object = false});
  for (bool existing : {false, true}) {
    SCOPED_TRACE(existing ? "an existing output, -y" : "no output yet");
    std::string dir = make_scratch_dir();
    ASSERT_TRUE(write_file(dir + "/in.wmv", f.bytes));
    if (existing) save_file(dir + "/out.vc1", "older output");
    std::vector<std::string> args = {"-v1", dir + "/in.wmv", dir + "/out.vc1"};
    if (existing) args.insert(args.begin(), "-y");
    BinaryRun run = run_tarvel_binary(args);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("Error: No ASF Data Object after the header; nothing converted.\n"),
              std::string::npos)
        << run.err;
    if (existing) {
      EXPECT_EQ(load_file(dir + "/out.vc1"), "older output");
    } else {
      EXPECT_FALSE(file_exists(dir + "/out.vc1"));
    }
  }
}

TEST(Damage, KeepsAtLeastAsManyIntactFramesAsFfmpeg) {
  if (!have_ffmpeg()) GTEST_SKIP() << "FFmpeg is not installed: no independent count to compare with";
  for (const std::vector<Row>& rows : {packet_rows(), shift_rows(), piece_rows(), whole_rows(), repeat_rows(),
                                       moved_rows(), data_size_rows()}) {
    for (const Row& row : rows) {
      SCOPED_TRACE(row.expect.name);
      std::set<std::string> originals, copied;
      for (uint32_t frame : row.frames) originals.insert(md5_hex(sample_wmv().frames[frame].data));
      std::string path = temp_path("damaged.wmv");
      ASSERT_TRUE(write_file(path, row.bytes));
      for (const CopiedFrame& f : ffmpeg_copied_frames(path)) {
        if (f.stream == 0 && originals.count(f.md5) > 0) copied.insert(f.md5);
      }
      EXPECT_GE(convert(row).intact, copied.size());
    }
  }
}

}  // namespace
