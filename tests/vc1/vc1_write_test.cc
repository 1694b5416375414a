// Writing the header field table back as header bytes, and round trips with the parser.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "vc1/vc1.h"

namespace {

std::vector<uint8_t> bytes_of(const HeaderBuffer& b) {
  return std::vector<uint8_t>(b.data, b.data + (b.count <= kHeaderBufferSize ? b.count : 0));
}

HeaderBuffer make_buffer(const std::vector<uint8_t>& bytes) {
  HeaderBuffer b;
  std::memset(&b, 0, sizeof b);
  std::memcpy(b.data, bytes.data(), bytes.size());
  b.count = static_cast<uint32_t>(bytes.size());
  return b;
}

struct Field {
  int id;
  uint32_t value;
};

// The 1920x1080 progressive header without display extension or HRD parameters.
const Field kPlainHeader[] = {
    {VC1_PROFILE, 3},         {VC1_LEVEL, 3},           {VC1_COLORDIFF_FORMAT, 1},
    {VC1_FRMRTQ_POSTPROC, 7}, {VC1_BITRTQ_POSTPROC, 31}, {VC1_POSTPROCFLAG, 1},
    {VC1_MAX_CODED_WIDTH, 959}, {VC1_MAX_CODED_HEIGHT, 539}, {VC1_PULLDOWN, 0},
    {VC1_INTERLACE, 0},       {VC1_TFCNTRFLAG, 0},      {VC1_FINTERPFLAG, 0},
    {VC1_RESERVED, 1},        {VC1_PSF, 0},             {VC1_DISPLAY_EXT, 0},
    {VC1_HRD_PARAM_FLAG, 0},  {VC1_BROKEN_LINK, 0},     {VC1_CLOSED_ENTRY, 1},
    {VC1_PANSCAN_FLAG, 0},    {VC1_REFDIST_FLAG, 1},    {VC1_LOOPFILTER, 1},
    {VC1_FASTUVMC, 0},        {VC1_EXTENDED_MV, 0},     {VC1_DQUANT, 0},
    {VC1_VSTRANSFORM, 1},     {VC1_OVERLAP, 1},         {VC1_QUANTIZER, 1},
    {VC1_CODED_SIZE_FLAG, 0}, {VC1_RANGE_MAPY_FLAG, 0}, {VC1_RANGE_MAPUV_FLAG, 0},
};

Vc1HeaderTable plain_table() {
  Vc1HeaderTable t;
  vc1_table_init(&t);
  for (const Field& f : kPlainHeader) vc1_set_field(&t, f.id, f.value);
  return t;
}

const std::vector<uint8_t> kPlainEntryPoint = {0x00, 0x00, 0x01, 0x0E, 0x58, 0x68, 0x80};

TEST(Vc1Write, PlainHeaderGivesEighteenAndSevenBytes) {
  Vc1HeaderTable t = plain_table();
  HeaderBuffer out;
  std::memset(&out, 0xEE, sizeof out);
  ASSERT_EQ(vc1_write_headers(0, &t, &out), 1);
  const std::vector<uint8_t> full = {0x00, 0x00, 0x01, 0x0F, 0xDB, 0xFF, 0x3B, 0xF2, 0x1B,
                                     0x08, 0x80, 0x00, 0x00, 0x01, 0x0E, 0x58, 0x68, 0x80};
  EXPECT_EQ(out.count, 18u);
  EXPECT_EQ(bytes_of(out), full);
  // Byte-aligned fields get a whole stop byte; the rest of the buffer is cleared.
  EXPECT_EQ(out.data[10], 0x80);
  for (uint32_t i = out.count; i < kHeaderBufferSize; i++) ASSERT_EQ(out.data[i], 0) << i;

  std::memset(&out, 0xEE, sizeof out);
  ASSERT_EQ(vc1_write_headers(1, &t, &out), 1);
  EXPECT_EQ(out.count, 7u);
  EXPECT_EQ(bytes_of(out), kPlainEntryPoint);
  for (uint32_t i = out.count; i < kHeaderBufferSize; i++) ASSERT_EQ(out.data[i], 0) << i;
}

TEST(Vc1Write, InsertedFramePeriodAndCustomAspectRatioAreWritten) {
  Vc1HeaderTable t = plain_table();
  vc1_insert_frame_period(41708, &t);
  vc1_insert_par(4, 3, &t);
  HeaderBuffer out;
  vc1_write_headers(0, &t, &out);
  std::vector<uint8_t> expected = {0x00, 0x00, 0x01, 0x0F, 0xDB, 0xFF, 0x3B, 0xF2, 0x1B, 0x0A,
                                   0x3B, 0xF8, 0x86, 0xFF, 0x03, 0x02, 0x80, 0x48, 0x80};
  expected.insert(expected.end(), kPlainEntryPoint.begin(), kPlainEntryPoint.end());
  EXPECT_EQ(bytes_of(out), expected);
}

TEST(Vc1Write, ValuesAreCutToTheirWidthAndPresenceIsIgnored) {
  Vc1HeaderTable t = plain_table();
  vc1_set_field(&t, VC1_DQUANT, 5);
  // A value never marked present is written all the same.
  t.rows[vc1_find_field(&t, VC1_BROKEN_LINK)].present = 0;
  t.rows[vc1_find_field(&t, VC1_BROKEN_LINK)].value = 1;
  HeaderBuffer out;
  vc1_write_headers(1, &t, &out);
  // BROKEN_LINK 1, CLOSED_ENTRY 1, 0, 1, 1, 0, 0, DQUANT 01, VSTRANSFORM 1, OVERLAP 1,
  // QUANTIZER 01, CODED_SIZE_FLAG 0, RANGE_MAPY_FLAG 0, RANGE_MAPUV_FLAG 0, stop bit.
  const std::vector<uint8_t> expected = {0x00, 0x00, 0x01, 0x0E, 0xD8, 0xE8, 0x80};
  EXPECT_EQ(bytes_of(out), expected);
}

// A table that visits every optional part of both headers.
Vc1HeaderTable rich_table() {
  Vc1HeaderTable t = plain_table();
  const Field fields[] = {
      {VC1_INTERLACE, 1},          {VC1_DISPLAY_EXT, 1},       {VC1_DISP_HORIZ_SIZE, 1279},
      {VC1_DISP_VERT_SIZE, 719},   {VC1_ASPECT_RATIO_FLAG, 1}, {VC1_ASPECT_RATIO, 15},
      {VC1_ASPECT_HORIZ_SIZE, 39}, {VC1_ASPECT_VERT_SIZE, 32}, {VC1_FRAMERATE_FLAG, 1},
      {VC1_FRAMERATEIND, 1},       {VC1_FRAMERATEEXP, 767},    {VC1_COLOR_FORMAT_FLAG, 1},
      {VC1_COLOR_PRIM, 1},         {VC1_TRANSFER_CHAR, 4},     {VC1_MATRIX_COEF, 6},
      {VC1_HRD_PARAM_FLAG, 1},     {VC1_HRD_NUM_LEAKY_BUCKETS, 3}, {VC1_BIT_RATE_EXPONENT, 11},
      {VC1_BUFFER_SIZE_EXPONENT, 7}, {VC1_EXTENDED_MV, 1},     {VC1_DQUANT, 2},
      {VC1_CODED_SIZE_FLAG, 1},    {VC1_CODED_WIDTH, 639},     {VC1_CODED_HEIGHT, 359},
      {VC1_EXTENDED_DMV, 1},       {VC1_RANGE_MAPY_FLAG, 1},   {VC1_RANGE_MAPY, 7},
      {VC1_RANGE_MAPUV_FLAG, 1},   {VC1_RANGE_MAPUV, 3},
  };
  for (const Field& f : fields) vc1_set_field(&t, f.id, f.value);
  for (int j = 0; j < 3; j++) {
    t.hrd_rate_buffer[j] = {static_cast<uint16_t>(0xA000 + j), static_cast<uint16_t>(0x0B00 + j)};
    t.hrd_full[j] = static_cast<uint8_t>(0xC1 + j);
  }
  return t;
}

TEST(Vc1Write, ParsingWrittenHeadersGivesBackEveryWrittenValue) {
  const Vc1HeaderTable tables[] = {plain_table(), rich_table()};
  for (const Vc1HeaderTable& t : tables) {
    HeaderBuffer out;
    vc1_write_headers(0, &t, &out);
    Vc1HeaderTable back;
    vc1_table_init(&back);
    ASSERT_EQ(vc1_parse_headers(&out, &back), 1);
    for (int row = 0; row < kVc1RowCount; row++) {
      const Vc1FieldDescriptor& d = t.rows[row];
      if (d.width == 0) continue;
      // Every present field of these tables lies on the walk's path.
      EXPECT_EQ(back.rows[row].present, d.present) << d.name;
      EXPECT_EQ(back.rows[row].value, d.value) << d.name;
    }
    EXPECT_EQ(std::memcmp(back.hrd_rate_buffer, t.hrd_rate_buffer, sizeof t.hrd_rate_buffer), 0);
    EXPECT_EQ(std::memcmp(back.hrd_full, t.hrd_full, sizeof t.hrd_full), 0);
  }
}

TEST(Vc1Write, HeadersEndingInStopBitsComeOutAsTheyWentIn) {
  const Vc1HeaderTable rich_source = rich_table();
  HeaderBuffer rich;
  vc1_write_headers(0, &rich_source, &rich);
  // A leading byte before the first start code is not reproduced.
  const std::vector<std::vector<uint8_t>> inputs = {
      {0x00, 0x00, 0x01, 0x0F, 0xDB, 0xFF, 0x3B, 0xF2, 0x1B, 0x08, 0x80, 0x00, 0x00, 0x01,
       0x0E, 0x58, 0x68, 0x80},
      bytes_of(rich),
  };
  for (const std::vector<uint8_t>& in : inputs) {
    std::vector<uint8_t> with_lead = {0x25};
    with_lead.insert(with_lead.end(), in.begin(), in.end());
    HeaderBuffer b = make_buffer(with_lead);
    Vc1HeaderTable t;
    vc1_table_init(&t);
    ASSERT_EQ(vc1_parse_headers(&b, &t), 1);
    HeaderBuffer out;
    vc1_write_headers(0, &t, &out);
    EXPECT_EQ(bytes_of(out), in);
  }
}

TEST(Vc1Write, OversizedBucketCountWritesWhatTheFiveBitFieldAnnounces) {
  Vc1HeaderTable t = rich_table();
  // 35 does not fit the 5-bit field; the loops must not run past the 32 entries, and the
  // header must stay readable: it announces 35 & 31 = 3 buckets and carries 3.
  vc1_set_field(&t, VC1_HRD_NUM_LEAKY_BUCKETS, 35);
  HeaderBuffer out;
  vc1_write_headers(0, &t, &out);
  const Vc1HeaderTable three = rich_table();
  HeaderBuffer expected;
  vc1_write_headers(0, &three, &expected);
  EXPECT_EQ(bytes_of(out), bytes_of(expected));
}

TEST(Vc1Write, WriteBitsStaysInsideTheBuffer) {
  uint8_t bytes[4] = {0, 0, 0, 0xFF};
  Vc1BitCursor cursor{bytes, 3, 0};
  write_bits(&cursor, 4, 0xABC, 12);
  EXPECT_EQ(bytes[0], 0x0A);
  EXPECT_EQ(bytes[1], 0xBC);
  write_bits(&cursor, 16, 0xFF, 8);  // the bit after it would be outside: dropped
  EXPECT_EQ(bytes[2], 0);
  write_bits(&cursor, 16, 0x7F, 7);
  EXPECT_EQ(bytes[2], 0xFE);
  write_bits(&cursor, 0, 0xFFFFFFFF, 33);  // wider than a value: dropped
  EXPECT_EQ(bytes[0], 0x0A);
  write_bits(&cursor, 0xFFFFFFF8u, 0xFF, 16);  // wraps past 32 bits: dropped
  EXPECT_EQ(bytes[0], 0x0A);
  EXPECT_EQ(bytes[3], 0xFF);
}

}  // namespace
