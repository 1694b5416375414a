// The interpretation listing of the header field table.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "report/report.h"
#include "tests/support/captured_report.h"
#include "vc1/vc1.h"

namespace {

std::string field_line(const Vc1HeaderTable& t, int id) {
  CapturedReport c;
  vc1_print_field(&c.report, &t, vc1_find_field(&t, id));
  EXPECT_EQ(c.console, "");
  return c.out;
}

std::string listing(const Vc1HeaderTable& t) {
  CapturedReport c;
  vc1_print_headers(&c.report, &t);
  EXPECT_EQ(c.console, "");
  return c.out;
}

Vc1HeaderTable parsed_nineteen() {
  const uint8_t bytes[19] = {0x25, 0x00, 0x00, 0x01, 0x0F, 0xDB, 0xFF, 0x3B, 0xF2, 0x1B,
                             0x08, 0x80, 0x00, 0x00, 0x01, 0x0E, 0x58, 0x68, 0x80};
  HeaderBuffer b;
  std::memset(&b, 0, sizeof b);
  std::memcpy(b.data, bytes, sizeof bytes);
  b.count = sizeof bytes;
  Vc1HeaderTable t;
  vc1_table_init(&t);
  EXPECT_EQ(vc1_parse_headers(&b, &t), kVc1HeadersWhole);
  return t;
}

TEST(Vc1Print, ParsedHeadersListEveryFieldWithTitles) {
  const std::string expected =
      "\n---- Sequence Header ----\n"
      "PROFILE: 3\nLEVEL: 3 (AP3@L3)\nCOLORDIFF_FORMAT: 1 (=4:2:0)\nFRMRTQ_POSTPROC: 7\n"
      "BITRTQ_POSTPROC: 31\nPOSTPROCFLAG: 1\nMAX_CODED_WIDTH: 959 (=1920)\n"
      "MAX_CODED_HEIGHT: 539 (=1080)\nPULLDOWN: 0\nINTERLACE: 0\nTFCNTRFLAG: 0\n"
      "FINTERPFLAG: 0\nRESERVED: 1\nPSF: 0\nDISPLAY_EXT: 0\n"
      "-DISP_HORIZ_SIZE: --\n-DISP_VERT_SIZE: --\n-ASPECT_RATIO_FLAG: --\n--ASPECT_RATIO: --\n"
      "---ASPECT_HORIZ_SIZE: --\n---ASPECT_VERT_SIZE: --\n-FRAMERATE_FLAG: --\n"
      "--FRAMERATEIND: --\n--FRAMERATENR: --\n--FRAMERATEDR: --\n--FRAMERATEEXP: --\n"
      "-COLOR_FORMAT_FLAG: --\n--COLOR_PRIM: --\n--TRANSFER_CHAR: --\n--MATRIX_COEF: --\n"
      "HRD_PARAM_FLAG: 0\n-HRD_NUM_LEAKY_BUCKETS: --\n-BIT_RATE_EXPONENT: --\n"
      "-BUFFER_SIZE_EXPONENT: --\n"
      "\n---- Entry Point Header  ----\n"
      "BROKEN_LINK: 0\nCLOSED_ENTRY: 1\nPANSCAN_FLAG: 0\nREFDIST_FLAG: 1\nLOOPFILTER: 1\n"
      "FASTUVMC: 0\nEXTENDED_MV: 0\nDQUANT: 0\nVSTRANSFORM: 1\nOVERLAP: 1\nQUANTIZER: 1\n"
      "CODED_SIZE_FLAG: 0\n-CODED_WIDTH: --\n-CODED_HEIGHT: --\nEXTENDED_DMV: --\n"
      "RANGE_MAPY_FLAG: 0\n-RANGE_MAPY: --\nRANGE_MAPUV_FLAG: 0\n-RANGE_MAPUV: --\n";
  Vc1HeaderTable t = parsed_nineteen();
  // The parse marked the zero-width control rows present; they still print nothing.
  EXPECT_EQ(t.rows[vc1_find_field(&t, VC1_ENTRY_POINT_END)].present, 1u);
  EXPECT_EQ(listing(t), expected);
}

TEST(Vc1Print, ListingIsHiddenBelowVerbosityTwo) {
  Vc1HeaderTable t = parsed_nineteen();
  CapturedReport c(1);
  vc1_print_headers(&c.report, &t);
  EXPECT_EQ(c.out, "");
  EXPECT_EQ(c.console, "");
}

TEST(Vc1Print, CodedFieldsShowTheirMeaning) {
  // Each case sets up to two fields (id 0: none) and prints the row of `id`.
  struct Case {
    int id1;
    uint32_t v1;
    int id2;
    uint32_t v2;
    int id;
    const char* line;
  };
  const Case cases[] = {
      {VC1_MAX_CODED_WIDTH, 959, 0, 0, VC1_MAX_CODED_WIDTH, "MAX_CODED_WIDTH: 959 (=1920)\n"},
      {VC1_CODED_HEIGHT, 51, 0, 0, VC1_CODED_HEIGHT, "-CODED_HEIGHT: 51 (=104)\n"},
      {VC1_DISP_VERT_SIZE, 1079, 0, 0, VC1_DISP_VERT_SIZE, "-DISP_VERT_SIZE: 1079 (=1080)\n"},
      {VC1_LEVEL, 3, 0, 0, VC1_LEVEL, "LEVEL: 3 (AP3@L3)\n"},
      {VC1_LEVEL, 5, 0, 0, VC1_LEVEL, "LEVEL: 5 (* illegal *)\n"},
      {VC1_COLORDIFF_FORMAT, 2, 0, 0, VC1_COLORDIFF_FORMAT, "COLORDIFF_FORMAT: 2 (* illegal *)\n"},
      {VC1_FRAMERATENR, 1, VC1_FRAMERATEDR, 2, VC1_FRAMERATENR,
       "--FRAMERATENR: 1 (=24000/1001, =23.976 FPS)\n"},
      {VC1_FRAMERATENR, 1, VC1_FRAMERATEDR, 2, VC1_FRAMERATEDR,
       "--FRAMERATEDR: 2 (=24000/1001, =23.976 FPS)\n"},
      {VC1_FRAMERATENR, 7, VC1_FRAMERATEDR, 1, VC1_FRAMERATENR,
       "--FRAMERATENR: 7 (=72000/1000, =72.000 FPS)\n"},
      {VC1_FRAMERATENR, 0, VC1_FRAMERATEDR, 1, VC1_FRAMERATENR, "--FRAMERATENR: 0 (* illegal framerate *)\n"},
      {VC1_FRAMERATENR, 0, VC1_FRAMERATEDR, 1, VC1_FRAMERATEDR, "--FRAMERATEDR: 1 (* illegal framerate *)\n"},
      {VC1_FRAMERATENR, 8, VC1_FRAMERATEDR, 1, VC1_FRAMERATEDR, "--FRAMERATEDR: 1 (* illegal framerate *)\n"},
      {VC1_FRAMERATENR, 1, VC1_FRAMERATEDR, 3, VC1_FRAMERATENR, "--FRAMERATENR: 1 (* illegal framerate *)\n"},
      {VC1_FRAMERATEEXP, 767, 0, 0, VC1_FRAMERATEEXP, "--FRAMERATEEXP: 767 (= 24.000 FPS)\n"},
      {VC1_FRAMERATEEXP, 3199, 0, 0, VC1_FRAMERATEEXP, "--FRAMERATEEXP: 3199 (= 100.000 FPS)\n"},
      {VC1_ASPECT_RATIO, 15, 0, 0, VC1_ASPECT_RATIO, "--ASPECT_RATIO: 15 (PAR=custom:)\n"},
      {VC1_ASPECT_RATIO, 13, 0, 0, VC1_ASPECT_RATIO, "--ASPECT_RATIO: 13 (PAR=160:99)\n"},
      {VC1_ASPECT_RATIO, 0, 0, 0, VC1_ASPECT_RATIO, "--ASPECT_RATIO: 0 (PAR=Unspecified)\n"},
      // A value the 4-bit field cannot hold, set by hand, has no entry of its own.
      {VC1_ASPECT_RATIO, 200, 0, 0, VC1_ASPECT_RATIO, "--ASPECT_RATIO: 200 (PAR=*ILLEGAL*)\n"},
      {VC1_ASPECT_HORIZ_SIZE, 39, VC1_ASPECT_VERT_SIZE, 32, VC1_ASPECT_HORIZ_SIZE,
       "---ASPECT_HORIZ_SIZE: 39 (PAR= 40/33, =1.212)\n"},
      {VC1_ASPECT_HORIZ_SIZE, 39, VC1_ASPECT_VERT_SIZE, 32, VC1_ASPECT_VERT_SIZE,
       "---ASPECT_VERT_SIZE: 32 (PAR= 40/33, =1.212)\n"},
      {VC1_TRANSFER_CHAR, 12, 0, 0, VC1_TRANSFER_CHAR,
       "--TRANSFER_CHAR: 12 (= ITU-R BT.1361 [Conventional Color Space])\n"},
      {VC1_TRANSFER_CHAR, 5, 0, 0, VC1_TRANSFER_CHAR,
       "--TRANSFER_CHAR: 5 (= ITU-R BT. 1700 Part B and Part C [gamma = 2.8])\n"},
      {VC1_COLOR_PRIM, 12, 0, 0, VC1_COLOR_PRIM, "--COLOR_PRIM: 12\n"},
  };
  for (const Case& c : cases) {
    Vc1HeaderTable t;
    vc1_table_init(&t);
    vc1_set_field(&t, c.id1, c.v1);
    if (c.id2 != 0) vc1_set_field(&t, c.id2, c.v2);
    EXPECT_EQ(field_line(t, c.id), c.line);
  }
}

TEST(Vc1Print, InsertedFrameRateListsTheSkippedExponentAsUnset) {
  Vc1HeaderTable t = parsed_nineteen();
  vc1_insert_frame_period(41708, &t);
  const std::string text = listing(t);
  EXPECT_NE(text.find("DISPLAY_EXT: 1\n-DISP_HORIZ_SIZE: 1919 (=1920)\n-DISP_VERT_SIZE: 1079 (=1080)\n"
                      "-ASPECT_RATIO_FLAG: 0\n--ASPECT_RATIO: --\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("--FRAMERATEDR: 2 (=24000/1001, =23.976 FPS)\n--FRAMERATEEXP: --\n"
                      "-COLOR_FORMAT_FLAG: 0\n"),
            std::string::npos)
      << text;
}

TEST(Vc1Print, LeakyBucketLinesStandAfterTheExponentsAndAtTheEnd) {
  Vc1HeaderTable t = parsed_nineteen();
  vc1_set_field(&t, VC1_HRD_PARAM_FLAG, 1);
  vc1_set_field(&t, VC1_HRD_NUM_LEAKY_BUCKETS, 2);
  vc1_set_field(&t, VC1_BIT_RATE_EXPONENT, 3);
  vc1_set_field(&t, VC1_BUFFER_SIZE_EXPONENT, 4);
  t.hrd_rate_buffer[0] = {65535, 2};
  t.hrd_rate_buffer[1] = {3, 4};
  t.hrd_full[0] = 255;
  t.hrd_full[1] = 7;
  const std::string text = listing(t);
  EXPECT_NE(text.find("-BUFFER_SIZE_EXPONENT: 4\nHRD_RATE[1]: 65535\nHRD_BUFFER[1]: 2\n"
                      "HRD_RATE[2]: 3\nHRD_BUFFER[2]: 4\n\n---- Entry Point Header  ----\n"),
            std::string::npos)
      << text;
  const std::string tail = "-RANGE_MAPUV: --\nHRD_FULL[1]: 255\nHRD_FULL[2]: 7\n";
  ASSERT_GE(text.size(), tail.size());
  EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
  EXPECT_EQ(text.find("HRD_RATE[3]"), std::string::npos);

  vc1_set_field(&t, VC1_HRD_NUM_LEAKY_BUCKETS, 0);
  EXPECT_EQ(listing(t).find("HRD_RATE"), std::string::npos);
  EXPECT_EQ(listing(t).find("HRD_FULL"), std::string::npos);
}

TEST(Vc1Print, RowOutsideTheTablePrintsNothing) {
  Vc1HeaderTable t = parsed_nineteen();
  CapturedReport c;
  vc1_print_field(&c.report, &t, -1);
  vc1_print_field(&c.report, &t, kVc1RowCount);
  EXPECT_EQ(c.out, "");
}

}  // namespace
