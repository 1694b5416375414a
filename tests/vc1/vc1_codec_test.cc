// Reading header bytes into the header field table and writing them back.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "vc1/vc1.h"

namespace {

using Bytes = std::vector<uint8_t>;

HeaderBuffer make_buffer(const Bytes& bytes) {
  HeaderBuffer b;
  std::memset(&b, 0, sizeof b);
  if (!bytes.empty()) std::memcpy(b.data, bytes.data(), bytes.size());
  b.count = static_cast<uint32_t>(bytes.size());
  return b;
}

Bytes bytes_of(const HeaderBuffer& b) { return Bytes(b.data, b.data + b.count); }

Bytes write(const Vc1HeaderTable& t, bool entry_point_only) {
  HeaderBuffer out;
  std::memset(&out, 0xEE, sizeof out);
  EXPECT_TRUE(vc1_write_headers(entry_point_only, &t, &out));
  EXPECT_LE(out.count, kHeaderBufferSize);
  for (uint32_t i = out.count; i < kHeaderBufferSize; i++) EXPECT_EQ(out.data[i], 0) << i;
  return bytes_of(out);
}

Vc1ParseResult parse(const Bytes& bytes, Vc1HeaderTable* t) {
  HeaderBuffer b = make_buffer(bytes);
  vc1_table_init(t);
  return vc1_parse_headers(&b, t);
}

bool present(const Vc1HeaderTable& t, int id) { return t.rows[vc1_find_field(&t, id)].present != 0; }

// Builds a bitstream field by field, most significant bit first.
struct BitBuilder {
  Bytes bytes;
  uint32_t bits = 0;
  void put(uint32_t value, uint32_t width) {
    for (uint32_t i = 0; i < width; i++, bits++) {
      if (bits % 8 == 0) bytes.push_back(0);
      if ((value >> (width - 1 - i)) & 1) bytes.back() |= static_cast<uint8_t>(0x80 >> (bits % 8));
    }
  }
  void stop() {
    put(1, 1);
    while (bits % 8 != 0) put(0, 1);
  }
};

const Bytes kCodecData = {0x25, 0x00, 0x00, 0x01, 0x0F, 0xDB, 0xFF, 0x3B, 0xF2, 0x1B,
                          0x08, 0x80, 0x00, 0x00, 0x01, 0x0E, 0x58, 0x68, 0x80};
const Bytes kEntryPoint = {0x00, 0x00, 0x01, 0x0E, 0x58, 0x68, 0x80};

struct Field {
  int id;
  uint32_t value;
};

// The fields that the 1920x1080 codec data above holds.
const Field kPlainFields[] = {
    {VC1_PROFILE, 3},           {VC1_LEVEL, 3},
    {VC1_COLORDIFF_FORMAT, 1},  {VC1_FRMRTQ_POSTPROC, 7},
    {VC1_BITRTQ_POSTPROC, 31},  {VC1_POSTPROCFLAG, 1},
    {VC1_MAX_CODED_WIDTH, 959}, {VC1_MAX_CODED_HEIGHT, 539},
    {VC1_PULLDOWN, 0},          {VC1_INTERLACE, 0},
    {VC1_TFCNTRFLAG, 0},        {VC1_FINTERPFLAG, 0},
    {VC1_RESERVED, 1},          {VC1_PSF, 0},
    {VC1_DISPLAY_EXT, 0},       {VC1_HRD_PARAM_FLAG, 0},
    {VC1_BROKEN_LINK, 0},       {VC1_CLOSED_ENTRY, 1},
    {VC1_PANSCAN_FLAG, 0},      {VC1_REFDIST_FLAG, 1},
    {VC1_LOOPFILTER, 1},        {VC1_FASTUVMC, 0},
    {VC1_EXTENDED_MV, 0},       {VC1_DQUANT, 0},
    {VC1_VSTRANSFORM, 1},       {VC1_OVERLAP, 1},
    {VC1_QUANTIZER, 1},         {VC1_CODED_SIZE_FLAG, 0},
    {VC1_RANGE_MAPY_FLAG, 0},   {VC1_RANGE_MAPUV_FLAG, 0},
};

Vc1HeaderTable plain_table() {
  Vc1HeaderTable t;
  vc1_table_init(&t);
  for (const Field& f : kPlainFields) vc1_set_field(&t, f.id, f.value);
  return t;
}

TEST(Vc1Codec, CodecDataParsesIntoBothHeadersAndSkipsOptionalRows) {
  Vc1HeaderTable t;
  ASSERT_EQ(parse(kCodecData, &t), kVc1HeadersWhole);
  for (const Field& f : kPlainFields) {
    EXPECT_TRUE(present(t, f.id)) << f.id;
    EXPECT_EQ(vc1_get_field(&t, f.id), f.value) << f.id;
  }
  for (int id = VC1_DISP_HORIZ_SIZE; id <= VC1_MATRIX_COEF; id++) EXPECT_FALSE(present(t, id)) << id;
  for (int id : {VC1_HRD_NUM_LEAKY_BUCKETS, VC1_BIT_RATE_EXPONENT, VC1_BUFFER_SIZE_EXPONENT, VC1_CODED_WIDTH,
                 VC1_CODED_HEIGHT, VC1_EXTENDED_DMV, VC1_RANGE_MAPY, VC1_RANGE_MAPUV}) {
    EXPECT_FALSE(present(t, id)) << id;
  }
  EXPECT_EQ(vc1_get_field(&t, VC1_SEQUENCE_HEADER), 0x10Fu);
}

TEST(Vc1Codec, MissingEntryPointStartCodeReadsOnFromTheSequenceHeaderStopBit) {
  Vc1HeaderTable t;
  EXPECT_EQ(parse(Bytes(kCodecData.begin(), kCodecData.begin() + 12), &t), kVc1HeadersNotFound);
  EXPECT_EQ(vc1_get_field(&t, VC1_MAX_CODED_HEIGHT), 539u);
  EXPECT_EQ(vc1_get_field(&t, VC1_BROKEN_LINK), 1u);
  for (int id = VC1_CLOSED_ENTRY; id <= VC1_RANGE_MAPUV_FLAG; id++) {
    if (id == VC1_CODED_WIDTH || id == VC1_CODED_HEIGHT || id == VC1_EXTENDED_DMV || id == VC1_RANGE_MAPY)
      continue;
    EXPECT_TRUE(present(t, id)) << id;
    EXPECT_EQ(vc1_get_field(&t, id), 0u) << id;
  }
}

TEST(Vc1Codec, MissingSequenceStartCodeReadsFromFirstBitAndFails) {
  Vc1HeaderTable t;
  EXPECT_EQ(parse(Bytes(kCodecData.begin() + 5, kCodecData.end()), &t), kVc1HeadersNotFound);
  for (const Field& f : kPlainFields) EXPECT_EQ(vc1_get_field(&t, f.id), f.value) << f.id;
  for (uint32_t n = 0; n <= 5; n++) {  // too short to hold a start code and two bytes
    EXPECT_EQ(parse(Bytes(kCodecData.begin() + 1, kCodecData.begin() + 1 + n), &t), kVc1HeadersNotFound) << n;
  }
}

TEST(Vc1Codec, ParseTellsHeadersCutShortAndWriteTellsAFieldThatCannotFit) {
  Vc1HeaderTable t;
  // The entry-point header's fields stand in bytes 16-18: its last ones are cut off.
  EXPECT_EQ(parse(Bytes(kCodecData.begin(), kCodecData.begin() + 18), &t), kVc1HeadersCut);
  EXPECT_EQ(vc1_get_field(&t, VC1_MAX_CODED_HEIGHT), 539u);
  t = plain_table();
  t.rows[vc1_find_field(&t, VC1_LEVEL)].width = 33;  // wider than any field can be
  HeaderBuffer out;
  EXPECT_FALSE(vc1_write_headers(false, &t, &out));
  EXPECT_TRUE(vc1_write_headers(true, &t, &out));  // the entry-point header alone does not hold it
}

TEST(Vc1Codec, StartCodeSearchNeedsTwoBytesAfterAndStartsAtThePositionByte) {
  uint8_t bytes[10] = {0x00, 0x00, 0x01, 0x0E, 0x00, 0x00, 0x01, 0x0E, 0x55, 0x66};
  Vc1BitReader cursor{bytes, 10, 7, false};
  ASSERT_TRUE(find_start_code(VC1_ENTRY_POINT_START_CODE, &cursor));
  EXPECT_EQ(cursor.position, 32u);
  cursor.position = 9;  // inside byte 1: the first code is passed over
  ASSERT_TRUE(find_start_code(VC1_ENTRY_POINT_START_CODE, &cursor));
  EXPECT_EQ(cursor.position, 64u);            // the second one stands at length - 6
  cursor = Vc1BitReader{bytes, 9, 9, false};  // now at length - 5
  EXPECT_FALSE(find_start_code(VC1_ENTRY_POINT_START_CODE, &cursor));
  EXPECT_EQ(cursor.position, 9u);
}

TEST(Vc1Codec, ReadsAndWritesStopShortOfTheBufferEndAndFlagIt) {
  uint8_t bytes[2] = {0xFF, 0xFF};
  Vc1BitReader cursor{bytes, 2, 0, false};
  EXPECT_EQ(read_bits(&cursor, 15), 0x7FFFu);
  EXPECT_FALSE(cursor.overrun);
  cursor.position = 0;
  EXPECT_EQ(read_bits(&cursor, 16), 0u);  // ends on the last bit: the bit after is outside
  EXPECT_EQ(cursor.position, 16u);
  EXPECT_TRUE(cursor.overrun);
  cursor.position = 0;
  EXPECT_EQ(read_bits(&cursor, 3), 7u);  // a read inside again: the flag stays
  EXPECT_TRUE(cursor.overrun);
  cursor.position = 0;
  EXPECT_EQ(read_bits(&cursor, 33), 0u);
  EXPECT_EQ(cursor.position, 33u);
  cursor.position = 0xFFFFFFF0u;  // wraps past 32 bits
  EXPECT_EQ(read_bits(&cursor, 32), 0u);

  uint8_t out[4] = {0, 0, 0, 0xFF};
  Vc1BitWriter writer{out, 3, 4, false};
  write_bits(&writer, 0xABC, 12);
  EXPECT_EQ(out[0], 0x0A);
  EXPECT_EQ(out[1], 0xBC);
  EXPECT_EQ(writer.position, 16u);
  EXPECT_FALSE(writer.overrun);
  write_bits(&writer, 0x7F, 7);
  EXPECT_EQ(out[2], 0xFE);
  EXPECT_FALSE(writer.overrun);
  write_bits(&writer, 1, 1);  // the bit after it is outside: dropped, still advanced
  EXPECT_EQ(out[2], 0xFE);
  EXPECT_EQ(writer.position, 24u);
  EXPECT_TRUE(writer.overrun);
  const struct {
    uint32_t position, value, width;
  } dropped[] = {{0, 0xFFFFFF, 24}, {0, 0xFFFFFFFF, 33}, {0xFFFFFFF8u, 0xFF, 16}};  // wraps
  for (const auto& d : dropped) {
    writer = Vc1BitWriter{out, 3, d.position, false};
    write_bits(&writer, d.value, d.width);
    EXPECT_TRUE(writer.overrun) << d.width;
    EXPECT_EQ(writer.position, d.position + d.width) << d.width;
  }
  EXPECT_EQ(out[0], 0x0A);
  EXPECT_EQ(out[2], 0xFE);
  EXPECT_EQ(out[3], 0xFF);
}

// Headers with two or zero leaky buckets, coded size and range mapping.
Bytes hrd_headers(uint32_t buckets) {
  BitBuilder s;
  s.put(0x10F, 32);
  s.put(0xC4, 8);
  s.put(0, 8);
  s.put(100, 12);
  s.put(50, 12);
  s.put(0, 6);
  s.put(0, 1);  // DISPLAY_EXT
  s.put(1, 1);
  s.put(buckets, 5);
  s.put(9, 4);
  s.put(6, 4);
  for (uint32_t j = 1; j <= buckets; j++) {
    s.put(0x1000 + j, 16);
    s.put(0x2000 + j, 16);
  }
  s.stop();
  s.put(0x10E, 32);
  s.put(0x7F, 7);
  s.put(0, 6);  // BROKEN_LINK .. EXTENDED_MV = 1, DQUANT .. QUANTIZER = 0
  for (uint32_t j = 1; j <= buckets; j++) s.put(0x40 + j, 8);
  s.put(1, 1);
  s.put(300, 12);
  s.put(200, 12);
  s.put(1, 1);
  s.put(1, 1);
  s.put(5, 3);
  s.put(1, 1);
  s.put(6, 3);
  s.stop();
  return s.bytes;
}

TEST(Vc1Codec, LeakyBucketsAreReadAfterTheExponentsAndAfterQuantizer) {
  for (uint32_t buckets : {2u, 0u}) {
    Vc1HeaderTable t;
    ASSERT_EQ(parse(hrd_headers(buckets), &t), kVc1HeadersWhole);
    EXPECT_EQ(vc1_get_field(&t, VC1_HRD_NUM_LEAKY_BUCKETS), buckets);
    EXPECT_EQ(vc1_get_field(&t, VC1_BUFFER_SIZE_EXPONENT), 6u);
    EXPECT_EQ(t.hrd_rate_buffer[0].rate, buckets ? 0x1001 : 0);
    EXPECT_EQ(t.hrd_rate_buffer[1].buffer, buckets ? 0x2002 : 0);
    EXPECT_EQ(t.hrd_rate_buffer[2].rate, 0);
    EXPECT_EQ(t.hrd_full[0], buckets ? 0x41 : 0);
    EXPECT_EQ(t.hrd_full[1], buckets ? 0x42 : 0);
    EXPECT_EQ(t.hrd_full[2], 0);
    EXPECT_EQ(vc1_get_field(&t, VC1_CODED_WIDTH), 300u);
    EXPECT_EQ(vc1_get_field(&t, VC1_EXTENDED_DMV), 1u);
    EXPECT_EQ(vc1_get_field(&t, VC1_RANGE_MAPUV), 6u);
  }
}

TEST(Vc1Codec, OversizedCountIsHeldToTheBuffer) {
  // The count stands right after the data: the search and the fields must stop at 1024.
  HeaderBuffer b;
  std::memset(b.data, 0, sizeof b.data);
  const uint8_t code[4] = {0x00, 0x00, 0x01, 0x0F};
  std::memcpy(b.data + 1016, code, 4);
  b.count = 0xFFFFFFFFu;
  Vc1HeaderTable t;
  vc1_table_init(&t);
  EXPECT_EQ(vc1_parse_headers(&b, &t), kVc1HeadersNotFound);
  for (int id = VC1_PROFILE; id <= VC1_HRD_PARAM_FLAG; id++) EXPECT_EQ(vc1_get_field(&t, id), 0u) << id;
}

TEST(Vc1Codec, PlainTableWritesEighteenAndSevenBytes) {
  Vc1HeaderTable t = plain_table();
  EXPECT_EQ(write(t, false), Bytes(kCodecData.begin() + 1, kCodecData.end()));  // stop byte 0x80
  EXPECT_EQ(write(t, true), kEntryPoint);
}

TEST(Vc1Codec, InsertedFramePeriodAndCustomAspectRatioAreWritten) {
  Vc1HeaderTable t = plain_table();
  vc1_insert_frame_period(41708, &t);
  vc1_insert_par(4, 3, &t);
  Bytes expected = {0x00, 0x00, 0x01, 0x0F, 0xDB, 0xFF, 0x3B, 0xF2, 0x1B, 0x0A,
                    0x3B, 0xF8, 0x86, 0xFF, 0x03, 0x02, 0x80, 0x48, 0x80};
  expected.insert(expected.end(), kEntryPoint.begin(), kEntryPoint.end());
  EXPECT_EQ(write(t, false), expected);
}

TEST(Vc1Codec, ValuesAreCutToTheirWidthAndPresenceIsIgnored) {
  Vc1HeaderTable t = plain_table();
  vc1_set_field(&t, VC1_DQUANT, 5);
  t.rows[vc1_find_field(&t, VC1_BROKEN_LINK)].present = 0;
  t.rows[vc1_find_field(&t, VC1_BROKEN_LINK)].value = 1;
  EXPECT_EQ(write(t, true), (Bytes{0x00, 0x00, 0x01, 0x0E, 0xD8, 0xE8, 0x80}));
}

// A table that visits every optional part of both headers.
Vc1HeaderTable rich_table() {
  Vc1HeaderTable t = plain_table();
  const Field fields[] = {
      {VC1_INTERLACE, 1},
      {VC1_DISPLAY_EXT, 1},
      {VC1_DISP_HORIZ_SIZE, 1279},
      {VC1_DISP_VERT_SIZE, 719},
      {VC1_ASPECT_RATIO_FLAG, 1},
      {VC1_ASPECT_RATIO, 15},
      {VC1_ASPECT_HORIZ_SIZE, 39},
      {VC1_ASPECT_VERT_SIZE, 32},
      {VC1_FRAMERATE_FLAG, 1},
      {VC1_FRAMERATEIND, 1},
      {VC1_FRAMERATEEXP, 767},
      {VC1_COLOR_FORMAT_FLAG, 1},
      {VC1_COLOR_PRIM, 1},
      {VC1_TRANSFER_CHAR, 4},
      {VC1_MATRIX_COEF, 6},
      {VC1_HRD_PARAM_FLAG, 1},
      {VC1_HRD_NUM_LEAKY_BUCKETS, 3},
      {VC1_BIT_RATE_EXPONENT, 11},
      {VC1_BUFFER_SIZE_EXPONENT, 7},
      {VC1_EXTENDED_MV, 1},
      {VC1_DQUANT, 2},
      {VC1_CODED_SIZE_FLAG, 1},
      {VC1_CODED_WIDTH, 639},
      {VC1_CODED_HEIGHT, 359},
      {VC1_EXTENDED_DMV, 1},
      {VC1_RANGE_MAPY_FLAG, 1},
      {VC1_RANGE_MAPY, 7},
      {VC1_RANGE_MAPUV_FLAG, 1},
      {VC1_RANGE_MAPUV, 3},
  };
  for (const Field& f : fields) vc1_set_field(&t, f.id, f.value);
  for (int j = 0; j < 3; j++) {
    t.hrd_rate_buffer[j] = {static_cast<uint16_t>(0xA000 + j), static_cast<uint16_t>(0x0B00 + j)};
    t.hrd_full[j] = static_cast<uint8_t>(0xC1 + j);
  }
  return t;
}

TEST(Vc1Codec, ParsingWrittenHeadersGivesBackEveryWrittenValue) {
  for (const Vc1HeaderTable& t : {plain_table(), rich_table()}) {
    Vc1HeaderTable back;
    ASSERT_EQ(parse(write(t, false), &back), kVc1HeadersWhole);
    for (int row = 0; row < kVc1RowCount; row++) {
      if (t.rows[row].width == 0) continue;
      EXPECT_EQ(back.rows[row].present, t.rows[row].present) << t.rows[row].name;
      EXPECT_EQ(back.rows[row].value, t.rows[row].value) << t.rows[row].name;
    }
    EXPECT_EQ(std::memcmp(back.hrd_rate_buffer, t.hrd_rate_buffer, sizeof t.hrd_rate_buffer), 0);
    EXPECT_EQ(std::memcmp(back.hrd_full, t.hrd_full, sizeof t.hrd_full), 0);
  }
}

TEST(Vc1Codec, HeadersEndingInStopBitsComeOutAsTheyWentIn) {
  for (const Bytes& in :
       {Bytes(kCodecData.begin() + 1, kCodecData.end()), write(rich_table(), false), hrd_headers(2)}) {
    Bytes with_lead = {0x25};  // bytes before the first start code are not reproduced
    with_lead.insert(with_lead.end(), in.begin(), in.end());
    Vc1HeaderTable t;
    ASSERT_EQ(parse(with_lead, &t), kVc1HeadersWhole);
    EXPECT_EQ(write(t, false), in);
  }
}

TEST(Vc1Codec, OversizedBucketCountWritesWhatTheFiveBitFieldAnnounces) {
  // 35 does not fit the 5-bit field, which announces 35 & 31 = 3 buckets: the loops
  // handle those 3 and never run past the 32 entries.
  Vc1HeaderTable t = rich_table();
  vc1_set_field(&t, VC1_HRD_NUM_LEAKY_BUCKETS, 35);
  EXPECT_EQ(write(t, false), write(rich_table(), false));
}

}  // namespace
