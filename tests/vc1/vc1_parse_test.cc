// Reading header bytes into the header field table.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "vc1/vc1.h"

namespace {

HeaderBuffer make_buffer(const std::vector<uint8_t>& bytes) {
  HeaderBuffer b;
  std::memset(&b, 0, sizeof b);
  std::memcpy(b.data, bytes.data(), bytes.size());
  b.count = static_cast<uint32_t>(bytes.size());
  return b;
}

// Builds a bitstream field by field, most significant bit first.
struct BitBuilder {
  std::vector<uint8_t> bytes;
  uint32_t bits = 0;
  void put(uint32_t value, uint32_t width) {
    for (uint32_t i = 0; i < width; i++) {
      if (bits % 8 == 0) bytes.push_back(0);
      if ((value >> (width - 1 - i)) & 1) bytes.back() |= static_cast<uint8_t>(0x80 >> (bits % 8));
      bits++;
    }
  }
  void stop() {
    put(1, 1);
    while (bits % 8 != 0) put(0, 1);
  }
};

const std::vector<uint8_t> kNineteen = {0x25, 0x00, 0x00, 0x01, 0x0F, 0xDB, 0xFF, 0x3B, 0xF2, 0x1B,
                                        0x08, 0x80, 0x00, 0x00, 0x01, 0x0E, 0x58, 0x68, 0x80};

struct Expect {
  int id;
  uint32_t value;
};

const Expect kNineteenValues[] = {
    {VC1_PROFILE, 3},         {VC1_LEVEL, 3},          {VC1_COLORDIFF_FORMAT, 1},
    {VC1_FRMRTQ_POSTPROC, 7}, {VC1_BITRTQ_POSTPROC, 31}, {VC1_POSTPROCFLAG, 1},
    {VC1_MAX_CODED_WIDTH, 959}, {VC1_MAX_CODED_HEIGHT, 539}, {VC1_PULLDOWN, 0},
    {VC1_INTERLACE, 0},       {VC1_TFCNTRFLAG, 0},     {VC1_FINTERPFLAG, 0},
    {VC1_RESERVED, 1},        {VC1_PSF, 0},            {VC1_DISPLAY_EXT, 0},
    {VC1_HRD_PARAM_FLAG, 0},  {VC1_BROKEN_LINK, 0},    {VC1_CLOSED_ENTRY, 1},
    {VC1_PANSCAN_FLAG, 0},    {VC1_REFDIST_FLAG, 1},   {VC1_LOOPFILTER, 1},
    {VC1_FASTUVMC, 0},        {VC1_EXTENDED_MV, 0},    {VC1_DQUANT, 0},
    {VC1_VSTRANSFORM, 1},     {VC1_OVERLAP, 1},        {VC1_QUANTIZER, 1},
    {VC1_CODED_SIZE_FLAG, 0}, {VC1_RANGE_MAPY_FLAG, 0}, {VC1_RANGE_MAPUV_FLAG, 0},
};

bool present(const Vc1HeaderTable& t, int id) { return t.rows[vc1_find_field(&t, id)].present != 0; }

TEST(Vc1Parse, NineteenByteCodecDataFillsBothHeaders) {
  HeaderBuffer b = make_buffer(kNineteen);
  Vc1HeaderTable t;
  vc1_table_init(&t);
  EXPECT_EQ(vc1_parse_headers(&b, &t), 1);
  for (const Expect& e : kNineteenValues) {
    EXPECT_TRUE(present(t, e.id)) << "id " << e.id;
    EXPECT_EQ(vc1_get_field(&t, e.id), e.value) << "id " << e.id;
  }
  const int skipped[] = {VC1_DISP_HORIZ_SIZE, VC1_DISP_VERT_SIZE, VC1_ASPECT_RATIO_FLAG,
                         VC1_ASPECT_RATIO,    VC1_ASPECT_HORIZ_SIZE, VC1_ASPECT_VERT_SIZE,
                         VC1_FRAMERATE_FLAG,  VC1_FRAMERATEIND,   VC1_FRAMERATENR,
                         VC1_FRAMERATEDR,     VC1_FRAMERATEEXP,   VC1_COLOR_FORMAT_FLAG,
                         VC1_COLOR_PRIM,      VC1_TRANSFER_CHAR,  VC1_MATRIX_COEF,
                         VC1_HRD_NUM_LEAKY_BUCKETS, VC1_BIT_RATE_EXPONENT,
                         VC1_BUFFER_SIZE_EXPONENT, VC1_CODED_WIDTH, VC1_CODED_HEIGHT,
                         VC1_EXTENDED_DMV,    VC1_RANGE_MAPY,     VC1_RANGE_MAPUV};
  for (int id : skipped) EXPECT_FALSE(present(t, id)) << "id " << id;
  // The header rows keep their start codes.
  EXPECT_EQ(vc1_get_field(&t, VC1_SEQUENCE_HEADER), 0x10Fu);
  EXPECT_EQ(vc1_get_field(&t, VC1_ENTRY_POINT_HEADER), 0x10Eu);
}

TEST(Vc1Parse, MissingEntryPointReadsItsFieldsAfterTheSequenceHeader) {
  std::vector<uint8_t> twelve(kNineteen.begin(), kNineteen.begin() + 12);
  HeaderBuffer b = make_buffer(twelve);
  Vc1HeaderTable t;
  vc1_table_init(&t);
  EXPECT_EQ(vc1_parse_headers(&b, &t), 0);
  EXPECT_EQ(vc1_get_field(&t, VC1_MAX_CODED_HEIGHT), 539u);
  // BROKEN_LINK takes the sequence header's stop bit; the rest runs off the end.
  EXPECT_EQ(vc1_get_field(&t, VC1_BROKEN_LINK), 1u);
  const int after[] = {VC1_CLOSED_ENTRY, VC1_PANSCAN_FLAG, VC1_REFDIST_FLAG, VC1_LOOPFILTER,
                       VC1_FASTUVMC, VC1_EXTENDED_MV, VC1_DQUANT, VC1_VSTRANSFORM, VC1_OVERLAP,
                       VC1_QUANTIZER, VC1_CODED_SIZE_FLAG, VC1_RANGE_MAPY_FLAG, VC1_RANGE_MAPUV_FLAG};
  for (int id : after) {
    EXPECT_TRUE(present(t, id)) << "id " << id;
    EXPECT_EQ(vc1_get_field(&t, id), 0u) << "id " << id;
  }
}

TEST(Vc1Parse, MissingSequenceStartCodeReadsFieldsFromFirstBitAndFails) {
  std::vector<uint8_t> bytes(kNineteen.begin() + 5, kNineteen.end());  // DB FF ... 80
  HeaderBuffer b = make_buffer(bytes);
  Vc1HeaderTable t;
  vc1_table_init(&t);
  EXPECT_EQ(vc1_parse_headers(&b, &t), 0);
  for (const Expect& e : kNineteenValues) EXPECT_EQ(vc1_get_field(&t, e.id), e.value) << "id " << e.id;
}

TEST(Vc1Parse, TinyOrEmptyBufferNeverFindsAStartCode) {
  for (uint32_t n = 0; n <= 5; n++) {
    std::vector<uint8_t> bytes = {0x00, 0x00, 0x01, 0x0F, 0x00};
    bytes.resize(n);
    HeaderBuffer b = make_buffer(bytes);
    Vc1HeaderTable t;
    vc1_table_init(&t);
    EXPECT_EQ(vc1_parse_headers(&b, &t), 0) << n;
    EXPECT_EQ(vc1_get_field(&t, VC1_PROFILE), 0u);
    EXPECT_TRUE(present(t, VC1_PROFILE));
  }
}

TEST(Vc1Parse, StartCodeNeedsTwoBytesAfterIt) {
  std::vector<uint8_t> bytes = {0xAA, 0xAA, 0x00, 0x00, 0x01, 0x0E, 0x11, 0x22};
  HeaderBuffer b = make_buffer(bytes);
  Vc1BitCursor cursor{b.data, 8, 0};
  ASSERT_EQ(find_start_code(VC1_ENTRY_POINT_START_CODE, &cursor), 1);  // at length - 6
  EXPECT_EQ(cursor.position, 8u * 2 + 32);

  cursor = Vc1BitCursor{b.data, 7, 3};  // now the code starts at length - 5
  EXPECT_EQ(find_start_code(VC1_ENTRY_POINT_START_CODE, &cursor), 0);
  EXPECT_EQ(cursor.position, 3u);  // unchanged
}

TEST(Vc1Parse, StartCodeSearchBeginsAtTheByteHoldingThePosition) {
  std::vector<uint8_t> bytes = {0x00, 0x00, 0x01, 0x0E, 0x00, 0x00, 0x01, 0x0E, 0x55, 0x66};
  HeaderBuffer b = make_buffer(bytes);
  Vc1BitCursor cursor{b.data, 10, 7};  // inside byte 0
  ASSERT_EQ(find_start_code(VC1_ENTRY_POINT_START_CODE, &cursor), 1);
  EXPECT_EQ(cursor.position, 32u);
  cursor.position = 9;  // inside byte 1: the first code is passed
  ASSERT_EQ(find_start_code(VC1_ENTRY_POINT_START_CODE, &cursor), 1);
  EXPECT_EQ(cursor.position, 64u);
  EXPECT_EQ(find_start_code(VC1_SEQUENCE_START_CODE, &cursor), 0);
}

TEST(Vc1Parse, FieldEndingOnTheLastBitReadsZeroAndStillAdvances) {
  uint8_t bytes[2] = {0xFF, 0xFF};
  Vc1BitCursor cursor{bytes, 2, 0};
  EXPECT_EQ(read_bits(&cursor, 15), 0x7FFFu);
  EXPECT_EQ(cursor.position, 15u);
  cursor.position = 0;
  EXPECT_EQ(read_bits(&cursor, 16), 0u);  // the bit after it is outside
  EXPECT_EQ(cursor.position, 16u);
  cursor.position = 3;
  EXPECT_EQ(read_bits(&cursor, 33), 0u);  // wider than a value
  EXPECT_EQ(cursor.position, 36u);
  cursor.position = 0xFFFFFFF0u;  // would wrap past 32 bits
  EXPECT_EQ(read_bits(&cursor, 32), 0u);
  cursor.position = 4;
  EXPECT_EQ(read_bits(&cursor, 0), 0u);
  EXPECT_EQ(cursor.position, 4u);
}

// Sequence header with HRD parameters and no display extension, then an entry point.
std::vector<uint8_t> hrd_headers(uint32_t buckets) {
  BitBuilder s;
  s.put(0x10F, 32);
  s.put(3, 2); s.put(2, 3); s.put(1, 2); s.put(0, 3); s.put(0, 5); s.put(0, 1);
  s.put(100, 12); s.put(50, 12);
  s.put(0, 6);  // PULLDOWN .. PSF
  s.put(0, 1);  // DISPLAY_EXT
  s.put(1, 1);  // HRD_PARAM_FLAG
  s.put(buckets, 5); s.put(9, 4); s.put(6, 4);
  for (uint32_t j = 1; j <= buckets; j++) { s.put(0x1000 + j, 16); s.put(0x2000 + j, 16); }
  s.stop();
  s.put(0x10E, 32);
  s.put(0x7F, 7);  // BROKEN_LINK .. EXTENDED_MV
  s.put(0, 6);     // DQUANT, VSTRANSFORM, OVERLAP, QUANTIZER
  for (uint32_t j = 1; j <= buckets; j++) s.put(0x40 + j, 8);
  s.put(1, 1); s.put(300, 12); s.put(200, 12);  // CODED_SIZE_FLAG, width, height
  s.put(1, 1);                                   // EXTENDED_DMV
  s.put(1, 1); s.put(5, 3);                      // RANGE_MAPY
  s.put(1, 1); s.put(6, 3);                      // RANGE_MAPUV
  s.stop();
  return s.bytes;
}

TEST(Vc1Parse, TwoLeakyBucketsAreReadAfterTheExponentsAndAfterQuantizer) {
  HeaderBuffer b = make_buffer(hrd_headers(2));
  Vc1HeaderTable t;
  vc1_table_init(&t);
  ASSERT_EQ(vc1_parse_headers(&b, &t), 1);
  EXPECT_EQ(vc1_get_field(&t, VC1_HRD_NUM_LEAKY_BUCKETS), 2u);
  EXPECT_EQ(vc1_get_field(&t, VC1_BIT_RATE_EXPONENT), 9u);
  EXPECT_EQ(vc1_get_field(&t, VC1_BUFFER_SIZE_EXPONENT), 6u);
  EXPECT_EQ(t.hrd_rate_buffer[0].rate, 0x1001);
  EXPECT_EQ(t.hrd_rate_buffer[0].buffer, 0x2001);
  EXPECT_EQ(t.hrd_rate_buffer[1].rate, 0x1002);
  EXPECT_EQ(t.hrd_rate_buffer[1].buffer, 0x2002);
  EXPECT_EQ(t.hrd_rate_buffer[2].rate, 0);
  EXPECT_EQ(t.hrd_full[0], 0x41);
  EXPECT_EQ(t.hrd_full[1], 0x42);
  EXPECT_EQ(t.hrd_full[2], 0);
  EXPECT_EQ(vc1_get_field(&t, VC1_EXTENDED_MV), 1u);
  EXPECT_EQ(vc1_get_field(&t, VC1_QUANTIZER), 0u);
  EXPECT_EQ(vc1_get_field(&t, VC1_CODED_WIDTH), 300u);
  EXPECT_EQ(vc1_get_field(&t, VC1_CODED_HEIGHT), 200u);
  EXPECT_EQ(vc1_get_field(&t, VC1_EXTENDED_DMV), 1u);
  EXPECT_EQ(vc1_get_field(&t, VC1_RANGE_MAPY), 5u);
  EXPECT_EQ(vc1_get_field(&t, VC1_RANGE_MAPUV), 6u);
}

TEST(Vc1Parse, ZeroLeakyBucketsReadNoEntries) {
  HeaderBuffer b = make_buffer(hrd_headers(0));
  Vc1HeaderTable t;
  vc1_table_init(&t);
  ASSERT_EQ(vc1_parse_headers(&b, &t), 1);
  EXPECT_TRUE(present(t, VC1_HRD_NUM_LEAKY_BUCKETS));
  EXPECT_EQ(vc1_get_field(&t, VC1_BUFFER_SIZE_EXPONENT), 6u);
  EXPECT_EQ(t.hrd_rate_buffer[0].rate, 0);
  EXPECT_EQ(t.hrd_full[0], 0);
  EXPECT_EQ(vc1_get_field(&t, VC1_CODED_WIDTH), 300u);
  EXPECT_EQ(vc1_get_field(&t, VC1_RANGE_MAPUV), 6u);
}

TEST(Vc1Parse, CountBeyondTheDataIsHeldToTheBuffer) {
  // The count stands right after the data; an oversized count must not let the fields
  // be read from it.
  HeaderBuffer b;
  std::memset(b.data, 0, sizeof b.data);
  const uint8_t code[4] = {0x00, 0x00, 0x01, 0x0F};
  std::memcpy(b.data + 1016, code, 4);
  b.count = 0xFFFFFFFFu;
  Vc1HeaderTable t;
  vc1_table_init(&t);
  EXPECT_EQ(vc1_parse_headers(&b, &t), 0);
  EXPECT_EQ(vc1_get_field(&t, VC1_PROFILE), 0u);
  for (int id = VC1_MAX_CODED_HEIGHT; id <= VC1_DISPLAY_EXT; id++) {
    EXPECT_EQ(vc1_get_field(&t, id), 0u) << "id " << id;
  }
  EXPECT_EQ(vc1_get_field(&t, VC1_HRD_PARAM_FLAG), 0u);
}

}  // namespace
