// Putting a frame period and a pixel aspect ratio into a parsed header.
#include <gtest/gtest.h>

#include "vc1/vc1.h"

namespace {

// A parsed 1920x1080 header without display extension.
Vc1HeaderTable plain_table() {
  Vc1HeaderTable t;
  vc1_table_init(&t);
  vc1_set_field(&t, VC1_MAX_CODED_WIDTH, 959);
  vc1_set_field(&t, VC1_MAX_CODED_HEIGHT, 539);
  vc1_set_field(&t, VC1_DISPLAY_EXT, 0);
  return t;
}

// A header that already has a display extension with aspect ratio and colour format.
Vc1HeaderTable display_table() {
  Vc1HeaderTable t = plain_table();
  vc1_set_field(&t, VC1_DISPLAY_EXT, 1);
  vc1_set_field(&t, VC1_DISP_HORIZ_SIZE, 1279);
  vc1_set_field(&t, VC1_DISP_VERT_SIZE, 719);
  vc1_set_field(&t, VC1_ASPECT_RATIO_FLAG, 1);
  vc1_set_field(&t, VC1_ASPECT_RATIO, 15);
  vc1_set_field(&t, VC1_ASPECT_HORIZ_SIZE, 39);
  vc1_set_field(&t, VC1_ASPECT_VERT_SIZE, 32);
  vc1_set_field(&t, VC1_FRAMERATE_FLAG, 0);
  vc1_set_field(&t, VC1_COLOR_FORMAT_FLAG, 1);
  vc1_set_field(&t, VC1_COLOR_PRIM, 1);
  return t;
}

bool present(const Vc1HeaderTable& t, int id) { return t.rows[vc1_find_field(&t, id)].present != 0; }

bool same_fields(const Vc1HeaderTable& a, const Vc1HeaderTable& b) {
  for (int i = 0; i < kVc1RowCount; i++) {
    if (a.rows[i].value != b.rows[i].value || a.rows[i].present != b.rows[i].present) return false;
  }
  return true;
}

TEST(Vc1Edit, KnownFramePeriodSwitchesDisplayExtOnWithMaxCodedSize) {
  Vc1HeaderTable t = plain_table();
  vc1_insert_frame_period(41708, &t);
  EXPECT_EQ(vc1_get_field(&t, VC1_DISPLAY_EXT), 1u);
  EXPECT_EQ(vc1_get_field(&t, VC1_DISP_HORIZ_SIZE), 1919u);
  EXPECT_EQ(vc1_get_field(&t, VC1_DISP_VERT_SIZE), 1079u);
  EXPECT_EQ(vc1_get_field(&t, VC1_ASPECT_RATIO_FLAG), 0u);
  EXPECT_EQ(vc1_get_field(&t, VC1_FRAMERATE_FLAG), 1u);
  EXPECT_EQ(vc1_get_field(&t, VC1_FRAMERATEIND), 0u);
  EXPECT_EQ(vc1_get_field(&t, VC1_FRAMERATENR), 1u);
  EXPECT_EQ(vc1_get_field(&t, VC1_FRAMERATEDR), 2u);
  EXPECT_EQ(vc1_get_field(&t, VC1_COLOR_FORMAT_FLAG), 0u);
  for (int id : {VC1_DISPLAY_EXT, VC1_DISP_HORIZ_SIZE, VC1_ASPECT_RATIO_FLAG, VC1_COLOR_FORMAT_FLAG,
                 VC1_FRAMERATEIND, VC1_FRAMERATENR}) {
    EXPECT_TRUE(present(t, id)) << id;
  }
  EXPECT_FALSE(present(t, VC1_FRAMERATEEXP));
}

TEST(Vc1Edit, ExistingDisplayExtKeepsAllButTheFrameRate) {
  Vc1HeaderTable t = display_table();
  Vc1HeaderTable before = t;
  vc1_insert_frame_period(40000, &t);
  for (int id : {VC1_DISP_HORIZ_SIZE, VC1_DISP_VERT_SIZE, VC1_ASPECT_RATIO_FLAG, VC1_ASPECT_RATIO,
                 VC1_ASPECT_HORIZ_SIZE, VC1_ASPECT_VERT_SIZE, VC1_COLOR_FORMAT_FLAG, VC1_COLOR_PRIM}) {
    EXPECT_EQ(vc1_get_field(&t, id), vc1_get_field(&before, id)) << id;
  }
  EXPECT_EQ(vc1_get_field(&t, VC1_FRAMERATE_FLAG), 1u);
  EXPECT_EQ(vc1_get_field(&t, VC1_FRAMERATENR), 2u);
  EXPECT_EQ(vc1_get_field(&t, VC1_FRAMERATEDR), 1u);
}

TEST(Vc1Edit, UnlistedFramePeriodsTakeTheExponentCode) {
  struct Case {
    uint32_t period;
    uint32_t exp;
  };
  // 41666 is not 41667; 489 is the shortest period whose code fits 16 bits; shorter ones
  // (and a zero period) get the largest code rather than a wrapped one.
  const Case cases[] = {{33000, 969}, {10000, 3199}, {41666, 767}, {489, 65439},
                        {488, 65535}, {1, 65535},    {0, 65535},   {4000000000u, 0}};
  for (const Case& c : cases) {
    Vc1HeaderTable t = plain_table();
    vc1_insert_frame_period(c.period, &t);
    EXPECT_EQ(vc1_get_field(&t, VC1_FRAMERATEIND), 1u) << c.period;
    EXPECT_EQ(vc1_get_field(&t, VC1_FRAMERATEEXP), c.exp) << c.period;
    EXPECT_FALSE(present(t, VC1_FRAMERATENR)) << c.period;
  }
}

TEST(Vc1Edit, MatchedFramePeriodLeavesAParsedExponentAlone) {
  Vc1HeaderTable t = display_table();
  vc1_set_field(&t, VC1_FRAMERATEIND, 1);
  vc1_set_field(&t, VC1_FRAMERATEEXP, 1234);
  vc1_insert_frame_period(41667, &t);
  EXPECT_EQ(vc1_get_field(&t, VC1_FRAMERATEIND), 0u);
  EXPECT_EQ(vc1_get_field(&t, VC1_FRAMERATEEXP), 1234u);
}

TEST(Vc1Edit, RatiosOfTheParTableTakeTheirIndex) {
  struct Case {
    uint32_t x, y, index;
  };
  const Case cases[] = {{16, 11, 4}, {32, 22, 4},   {1, 1, 1},   {7, 7, 1},
                        {40, 33, 5}, {160, 99, 13}, {12, 11, 2}, {1600000000u, 990000000u, 13}};
  for (const Case& c : cases) {
    Vc1HeaderTable t = plain_table();
    vc1_insert_par(c.x, c.y, &t);
    EXPECT_EQ(vc1_get_field(&t, VC1_DISPLAY_EXT), 1u);
    EXPECT_EQ(vc1_get_field(&t, VC1_ASPECT_RATIO_FLAG), 1u);
    EXPECT_EQ(vc1_get_field(&t, VC1_ASPECT_RATIO), c.index) << c.x << ":" << c.y;
    EXPECT_FALSE(present(t, VC1_ASPECT_HORIZ_SIZE));
  }
}

TEST(Vc1Edit, MatchedRatioLeavesParsedCustomSizesAlone) {
  Vc1HeaderTable t = display_table();
  vc1_insert_par(10, 11, &t);
  EXPECT_EQ(vc1_get_field(&t, VC1_ASPECT_RATIO), 3u);
  EXPECT_EQ(vc1_get_field(&t, VC1_ASPECT_HORIZ_SIZE), 39u);
  EXPECT_EQ(vc1_get_field(&t, VC1_ASPECT_VERT_SIZE), 32u);
}

TEST(Vc1Edit, OtherRatiosAreStoredAsCustomTermsOfEightBits) {
  struct Case {
    uint32_t x, y, horiz, vert;
  };
  const Case cases[] = {
      {4, 3, 3, 2},
      {1000, 500, 254, 126},
      {500, 1000, 126, 254},
      {255, 254, 254, 253},
      {256, 256 * 3 / 4, 254, 190},
      {4000000000u, 3000000000u, 254, 190},  // needs 64-bit products
      {1000, 1, 254, 0},                     // the scaled term would be 0: stored as 1
      {1, 4294967295u, 0, 254},
      {390451580u, 7, 254, 0},  // 11 * x wraps to 12 * y in 32 bits: not 12:11
  };
  for (const Case& c : cases) {
    Vc1HeaderTable t = plain_table();
    vc1_insert_par(c.x, c.y, &t);
    EXPECT_EQ(vc1_get_field(&t, VC1_ASPECT_RATIO), 15u) << c.x << ":" << c.y;
    EXPECT_EQ(vc1_get_field(&t, VC1_ASPECT_HORIZ_SIZE), c.horiz) << c.x << ":" << c.y;
    EXPECT_EQ(vc1_get_field(&t, VC1_ASPECT_VERT_SIZE), c.vert) << c.x << ":" << c.y;
  }
}

TEST(Vc1Edit, ZeroTermChangesNothing) {
  for (uint32_t x : {0u, 4u}) {
    Vc1HeaderTable t = plain_table();
    Vc1HeaderTable before = t;
    vc1_insert_par(x, x == 0 ? 3 : 0, &t);
    EXPECT_TRUE(same_fields(t, before));
    EXPECT_FALSE(present(t, VC1_ASPECT_RATIO_FLAG));
  }
}

TEST(Vc1Edit, EnableDisplayExtReadsCodedSizeBeforeSettingAnything) {
  Vc1HeaderTable t;
  vc1_table_init(&t);
  vc1_set_field(&t, VC1_MAX_CODED_WIDTH, 119);
  vc1_set_field(&t, VC1_MAX_CODED_HEIGHT, 51);
  vc1_enable_display_ext(&t);
  EXPECT_EQ(vc1_get_field(&t, VC1_DISP_HORIZ_SIZE), 239u);
  EXPECT_EQ(vc1_get_field(&t, VC1_DISP_VERT_SIZE), 103u);
  // A second call finds DISPLAY_EXT on and changes nothing.
  vc1_set_field(&t, VC1_DISP_HORIZ_SIZE, 5);
  vc1_enable_display_ext(&t);
  EXPECT_EQ(vc1_get_field(&t, VC1_DISP_HORIZ_SIZE), 5u);
}

}  // namespace
