// The header field table: initialisation, lookups by id and the walk's conditions.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "vc1/vc1.h"
#include "vc1/vc1_walk.h"

namespace {

// Records the ids of the rows the walk visits, in order; the control rows by the member
// the walk calls for them.
struct IdRecorder {
  const Vc1HeaderTable* t;
  std::vector<int> ids;
  void start_code(int row) { ids.push_back(t->rows[row].id); }
  void field(int row) { ids.push_back(t->rows[row].id); }
  void rate_buffer_loop() { ids.push_back(VC1_HRD_RATE_BUFFER_LOOP); }
  void full_loop() { ids.push_back(VC1_HRD_FULL_LOOP); }
  void entry_point_start() { ids.push_back(VC1_ENTRY_POINT_START); }
};

// Ids of the rows a walk from the sequence header visits, in order, up to TABLE_END.
std::vector<int> walk_ids(const Vc1HeaderTable& t) {
  IdRecorder recorder{&t, {}};
  vc1_walk_rows(&t, VC1_SEQUENCE_HEADER, Vc1WalkOrder::kBitstream, recorder);
  return recorder.ids;
}

bool visits(const std::vector<int>& ids, int id) {
  for (int i : ids) {
    if (i == id) return true;
  }
  return false;
}

TEST(Vc1Table, FreshTableHoldsOnlyTheStartCodes) {
  Vc1HeaderTable t;
  std::memset(&t, 0xA5, sizeof t);
  ASSERT_EQ(vc1_table_init(&t), &t);
  EXPECT_EQ(vc1_get_field(&t, VC1_INTERLACE), 0u);
  EXPECT_EQ(vc1_get_field(&t, VC1_SEQUENCE_HEADER), 271u);
  EXPECT_EQ(vc1_get_field(&t, VC1_ENTRY_POINT_HEADER), 270u);
  int present = 0;
  for (const Vc1FieldDescriptor& row : t.rows) present += row.present ? 1 : 0;
  EXPECT_EQ(present, 2);
  for (int j = 0; j < kVc1MaxLeakyBuckets; j++) {
    EXPECT_EQ(t.hrd_rate_buffer[j].rate, 0);
    EXPECT_EQ(t.hrd_rate_buffer[j].buffer, 0);
    EXPECT_EQ(t.hrd_full[j], 0);
  }
  EXPECT_EQ(t.rows[kVc1RowCount - 1].id, VC1_TABLE_END);
}

TEST(Vc1Table, EveryIdFindsItsOwnRowAndRowsOutOfIdOrderAreKept) {
  Vc1HeaderTable t;
  vc1_table_init(&t);
  for (int id = 2; id <= 63; id++) {
    int row = vc1_find_field(&t, id);
    ASSERT_GE(row, 0);
    ASSERT_LT(row, kVc1RowCount);
    EXPECT_EQ(t.rows[row].id, id) << "id " << id;
  }
  // BROKEN_LINK (37) stands after the entry-point header row (38).
  EXPECT_EQ(vc1_find_field(&t, VC1_BROKEN_LINK), vc1_find_field(&t, VC1_ENTRY_POINT_HEADER) + 1);
  EXPECT_EQ(vc1_find_field(&t, VC1_ENTRY_POINT_HEADER), 38);
  EXPECT_EQ(vc1_find_field(&t, VC1_DISPLAY_EXT_TEST), 16);
}

TEST(Vc1Table, UnknownIdFallsOnTableEndRow) {
  Vc1HeaderTable t;
  vc1_table_init(&t);
  int end = vc1_find_field(&t, VC1_TABLE_END);
  EXPECT_EQ(vc1_find_field(&t, 0), end);
  EXPECT_EQ(vc1_find_field(&t, 1), end);
  EXPECT_EQ(vc1_find_field(&t, 1000), end);
  EXPECT_EQ(vc1_get_field(&t, 1000), 0u);  // TABLE_END not present yet
  vc1_set_field(&t, 1000, 77);
  EXPECT_EQ(t.rows[end].value, 77u);
  EXPECT_EQ(t.rows[end].present, 1u);
  EXPECT_EQ(vc1_get_field(&t, 999), 77u);  // now present: any unknown id reads it
}

TEST(Vc1Table, GetFieldIgnoresValuesThatAreNotPresent) {
  Vc1HeaderTable t;
  vc1_table_init(&t);
  t.rows[vc1_find_field(&t, VC1_LEVEL)].value = 4;
  EXPECT_EQ(vc1_get_field(&t, VC1_LEVEL), 0u);
  vc1_set_field(&t, VC1_LEVEL, 3);
  EXPECT_EQ(vc1_get_field(&t, VC1_LEVEL), 3u);
}

TEST(Vc1Table, WalkWithoutDisplayExtOrHrdSkipsTheirRows) {
  Vc1HeaderTable t;
  vc1_table_init(&t);
  // DISPLAY_EXT = 0 leads from DISPLAY_EXT_TEST (61) straight to HRD_PARAM_FLAG (33),
  // HRD_PARAM_FLAG = 0 to ENTRY_POINT_START (60); EXTENDED_MV = 0 skips EXTENDED_DMV and
  // the zero flags skip the coded size and the range maps.
  const std::vector<int> expected = {2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14,
                                     15, 16, 17, 61, 33, 60, 38, 37, 39, 40, 41, 42, 43,
                                     44, 45, 46, 47, 48, 59, 49, 57, 53, 55, 62};
  EXPECT_EQ(walk_ids(t), expected);
}

TEST(Vc1Table, WalkFollowsDisplayAndFrameRateFlags) {
  Vc1HeaderTable t;
  vc1_table_init(&t);
  t.rows[vc1_find_field(&t, VC1_DISPLAY_EXT)].value = 1;
  t.rows[vc1_find_field(&t, VC1_FRAMERATE_FLAG)].value = 1;
  std::vector<int> ids = walk_ids(t);
  EXPECT_TRUE(visits(ids, VC1_DISP_HORIZ_SIZE));
  EXPECT_TRUE(visits(ids, VC1_ASPECT_RATIO_FLAG));
  EXPECT_FALSE(visits(ids, VC1_ASPECT_RATIO));
  EXPECT_TRUE(visits(ids, VC1_FRAMERATENR));
  EXPECT_TRUE(visits(ids, VC1_FRAMERATEDR));
  EXPECT_FALSE(visits(ids, VC1_FRAMERATEEXP));  // FRAMERATEIND = 0
  EXPECT_TRUE(visits(ids, VC1_COLOR_FORMAT_FLAG));
  EXPECT_FALSE(visits(ids, VC1_COLOR_PRIM));

  t.rows[vc1_find_field(&t, VC1_FRAMERATEIND)].value = 1;
  t.rows[vc1_find_field(&t, VC1_ASPECT_RATIO_FLAG)].value = 1;
  t.rows[vc1_find_field(&t, VC1_ASPECT_RATIO)].value = 3;
  ids = walk_ids(t);
  EXPECT_FALSE(visits(ids, VC1_FRAMERATENR));
  EXPECT_FALSE(visits(ids, VC1_FRAMERATEDR));
  EXPECT_TRUE(visits(ids, VC1_FRAMERATEEXP));
  EXPECT_TRUE(visits(ids, VC1_ASPECT_RATIO));
  EXPECT_FALSE(visits(ids, VC1_ASPECT_HORIZ_SIZE));  // only ASPECT_RATIO = 15 has sizes

  t.rows[vc1_find_field(&t, VC1_ASPECT_RATIO)].value = 15;
  ids = walk_ids(t);
  EXPECT_TRUE(visits(ids, VC1_ASPECT_HORIZ_SIZE));
  EXPECT_TRUE(visits(ids, VC1_ASPECT_VERT_SIZE));
}

TEST(Vc1Table, ExtendedDmvFollowsExtendedMvWhateverTheCodedSize) {
  Vc1HeaderTable t;
  vc1_table_init(&t);
  t.rows[vc1_find_field(&t, VC1_CODED_SIZE_FLAG)].value = 1;
  std::vector<int> ids = walk_ids(t);
  EXPECT_TRUE(visits(ids, VC1_CODED_WIDTH));
  EXPECT_FALSE(visits(ids, VC1_EXTENDED_DMV));
  t.rows[vc1_find_field(&t, VC1_EXTENDED_MV)].value = 1;
  EXPECT_TRUE(visits(walk_ids(t), VC1_EXTENDED_DMV));
  t.rows[vc1_find_field(&t, VC1_CODED_SIZE_FLAG)].value = 0;
  EXPECT_TRUE(visits(walk_ids(t), VC1_EXTENDED_DMV));
}

TEST(Vc1Table, LeakyBucketCountIsCutToItsFiveBits) {
  Vc1HeaderTable t;
  vc1_table_init(&t);
  vc1_set_field(&t, VC1_HRD_NUM_LEAKY_BUCKETS, 31);
  EXPECT_EQ(vc1_leaky_bucket_count(&t), 31u);
  vc1_set_field(&t, VC1_HRD_NUM_LEAKY_BUCKETS, 34);  // beyond the 32 entries
  EXPECT_EQ(vc1_leaky_bucket_count(&t), 2u);
}

}  // namespace
