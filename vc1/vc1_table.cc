// The header field table: one constant template that lays out the Advanced Profile
// sequence header and entry-point header in bitstream order, and the lookups on it.
#include <cstring>

#include "vc1/vc1.h"

namespace {

constexpr uint32_t N = NO_CONDITION;
constexpr uint32_t C = CONTINUE_IF_EQUAL;
constexpr uint32_t J = ALWAYS_JUMP;

// id, name, width, present, value, condition field, condition kind, condition value,
// jump target. Read top to bottom, skipping what the conditions skip, the rows give the
// fields in the order they stand in the bitstream.
constexpr Vc1FieldDescriptor kTemplate[kVc1RowCount] = {
    {VC1_SEQUENCE_HEADER, "\n---- Sequence Header ----\n", 32, 1, VC1_SEQUENCE_START_CODE, SELF, N, 0, 0},
    {VC1_PROFILE, "PROFILE", 2, 0, 0, SELF, N, 0, 0},
    {VC1_LEVEL, "LEVEL", 3, 0, 0, SELF, N, 0, 0},
    {VC1_COLORDIFF_FORMAT, "COLORDIFF_FORMAT", 2, 0, 0, SELF, N, 0, 0},
    {VC1_FRMRTQ_POSTPROC, "FRMRTQ_POSTPROC", 3, 0, 0, SELF, N, 0, 0},
    {VC1_BITRTQ_POSTPROC, "BITRTQ_POSTPROC", 5, 0, 0, SELF, N, 0, 0},
    {VC1_POSTPROCFLAG, "POSTPROCFLAG", 1, 0, 0, SELF, N, 0, 0},
    {VC1_MAX_CODED_WIDTH, "MAX_CODED_WIDTH", 12, 0, 0, SELF, N, 0, 0},
    {VC1_MAX_CODED_HEIGHT, "MAX_CODED_HEIGHT", 12, 0, 0, SELF, N, 0, 0},
    {VC1_PULLDOWN, "PULLDOWN", 1, 0, 0, SELF, N, 0, 0},
    {VC1_INTERLACE, "INTERLACE", 1, 0, 0, SELF, N, 0, 0},
    {VC1_TFCNTRFLAG, "TFCNTRFLAG", 1, 0, 0, SELF, N, 0, 0},
    {VC1_FINTERPFLAG, "FINTERPFLAG", 1, 0, 0, SELF, N, 0, 0},
    {VC1_RESERVED, "RESERVED", 1, 0, 0, SELF, N, 0, 0},
    {VC1_PSF, "PSF", 1, 0, 0, SELF, N, 0, 0},
    {VC1_DISPLAY_EXT, "DISPLAY_EXT", 1, 0, 0, SELF, N, 0, 0},
    {VC1_DISPLAY_EXT_TEST, "", 0, 0, 0, VC1_DISPLAY_EXT, C, 1, VC1_HRD_PARAM_FLAG},
    {VC1_DISP_HORIZ_SIZE, "-DISP_HORIZ_SIZE", 14, 0, 0, SELF, N, 0, 0},
    {VC1_DISP_VERT_SIZE, "-DISP_VERT_SIZE", 14, 0, 0, SELF, N, 0, 0},
    {VC1_ASPECT_RATIO_FLAG, "-ASPECT_RATIO_FLAG", 1, 0, 0, SELF, C, 1, VC1_FRAMERATE_FLAG},
    {VC1_ASPECT_RATIO, "--ASPECT_RATIO", 4, 0, 0, SELF, C, 15, VC1_FRAMERATE_FLAG},
    {VC1_ASPECT_HORIZ_SIZE, "---ASPECT_HORIZ_SIZE", 8, 0, 0, SELF, N, 0, 0},
    {VC1_ASPECT_VERT_SIZE, "---ASPECT_VERT_SIZE", 8, 0, 0, SELF, N, 0, 0},
    {VC1_FRAMERATE_FLAG, "-FRAMERATE_FLAG", 1, 0, 0, SELF, C, 1, VC1_COLOR_FORMAT_FLAG},
    {VC1_FRAMERATEIND, "--FRAMERATEIND", 1, 0, 0, SELF, C, 0, VC1_FRAMERATEEXP},
    {VC1_FRAMERATENR, "--FRAMERATENR", 8, 0, 0, SELF, N, 0, 0},
    {VC1_FRAMERATEDR, "--FRAMERATEDR", 4, 0, 0, SELF, J, 0, VC1_COLOR_FORMAT_FLAG},
    {VC1_FRAMERATEEXP, "--FRAMERATEEXP", 16, 0, 0, SELF, N, 0, 0},
    {VC1_COLOR_FORMAT_FLAG, "-COLOR_FORMAT_FLAG", 1, 0, 0, SELF, C, 1, VC1_HRD_PARAM_FLAG},
    {VC1_COLOR_PRIM, "--COLOR_PRIM", 8, 0, 0, SELF, N, 0, 0},
    {VC1_TRANSFER_CHAR, "--TRANSFER_CHAR", 8, 0, 0, SELF, N, 0, 0},
    {VC1_MATRIX_COEF, "--MATRIX_COEF", 8, 0, 0, SELF, N, 0, 0},
    {VC1_HRD_PARAM_FLAG, "HRD_PARAM_FLAG", 1, 0, 0, SELF, C, 1, VC1_ENTRY_POINT_START},
    {VC1_HRD_NUM_LEAKY_BUCKETS, "-HRD_NUM_LEAKY_BUCKETS", 5, 0, 0, SELF, N, 0, 0},
    {VC1_BIT_RATE_EXPONENT, "-BIT_RATE_EXPONENT", 4, 0, 0, SELF, N, 0, 0},
    {VC1_BUFFER_SIZE_EXPONENT, "-BUFFER_SIZE_EXPONENT", 4, 0, 0, SELF, N, 0, 0},
    {VC1_HRD_RATE_BUFFER_LOOP, "", 0, 0, 0, SELF, N, 0, 0},
    {VC1_ENTRY_POINT_START, "", 0, 0, 0, SELF, N, 0, 0},
    {VC1_ENTRY_POINT_HEADER, "\n---- Entry Point Header  ----\n", 32, 1, VC1_ENTRY_POINT_START_CODE, SELF, N,
     0, 0},
    {VC1_BROKEN_LINK, "BROKEN_LINK", 1, 0, 0, SELF, N, 0, 0},
    {VC1_CLOSED_ENTRY, "CLOSED_ENTRY", 1, 0, 0, SELF, N, 0, 0},
    {VC1_PANSCAN_FLAG, "PANSCAN_FLAG", 1, 0, 0, SELF, N, 0, 0},
    {VC1_REFDIST_FLAG, "REFDIST_FLAG", 1, 0, 0, SELF, N, 0, 0},
    {VC1_LOOPFILTER, "LOOPFILTER", 1, 0, 0, SELF, N, 0, 0},
    {VC1_FASTUVMC, "FASTUVMC", 1, 0, 0, SELF, N, 0, 0},
    {VC1_EXTENDED_MV, "EXTENDED_MV", 1, 0, 0, SELF, N, 0, 0},
    {VC1_DQUANT, "DQUANT", 2, 0, 0, SELF, N, 0, 0},
    {VC1_VSTRANSFORM, "VSTRANSFORM", 1, 0, 0, SELF, N, 0, 0},
    {VC1_OVERLAP, "OVERLAP", 1, 0, 0, SELF, N, 0, 0},
    {VC1_QUANTIZER, "QUANTIZER", 2, 0, 0, SELF, N, 0, 0},
    {VC1_HRD_FULL_LOOP, "", 0, 0, 0, SELF, N, 0, 0},
    {VC1_CODED_SIZE_FLAG, "CODED_SIZE_FLAG", 1, 0, 0, SELF, C, 1, VC1_EXTENDED_MV_TEST},
    {VC1_CODED_WIDTH, "-CODED_WIDTH", 12, 0, 0, SELF, N, 0, 0},
    {VC1_CODED_HEIGHT, "-CODED_HEIGHT", 12, 0, 0, SELF, N, 0, 0},
    {VC1_EXTENDED_MV_TEST, "", 0, 0, 0, VC1_EXTENDED_MV, C, 1, VC1_RANGE_MAPY_FLAG},
    {VC1_EXTENDED_DMV, "EXTENDED_DMV", 1, 0, 0, SELF, N, 0, 0},
    {VC1_RANGE_MAPY_FLAG, "RANGE_MAPY_FLAG", 1, 0, 0, SELF, C, 1, VC1_RANGE_MAPUV_FLAG},
    {VC1_RANGE_MAPY, "-RANGE_MAPY", 3, 0, 0, SELF, N, 0, 0},
    {VC1_RANGE_MAPUV_FLAG, "RANGE_MAPUV_FLAG", 1, 0, 0, SELF, C, 1, VC1_ENTRY_POINT_END},
    {VC1_RANGE_MAPUV, "-RANGE_MAPUV", 3, 0, 0, SELF, N, 0, 0},
    {VC1_ENTRY_POINT_END, "", 0, 0, 0, SELF, N, 0, 0},
    {VC1_TABLE_END, "", 0, 0, 0, SELF, N, 0, 0},
};

}  // namespace

const uint32_t kVc1FramerateNr[8] = {0, 24000, 25000, 30000, 50000, 60000, 48000, 72000};
const uint32_t kVc1FramerateDr[3] = {0, 1000, 1001};

const Vc1ParEntry kVc1ParTable[kVc1ParCount + 1] = {
    {"Unspecified", 0, 0},
    {"1:1(square)", 1, 1},
    {"12:11", 12, 11},
    {"10:11", 10, 11},
    {"16:11", 16, 11},
    {"40:33", 40, 33},
    {"24:11", 24, 11},
    {"20:11", 20, 11},
    {"32:11", 32, 11},
    {"80:33", 80, 33},
    {"18:11", 18, 11},
    {"15:11", 15, 11},
    {"64:33", 64, 33},
    {"160:99", 160, 99},
    {"*ILLEGAL*", 0, 0},
    {"custom:", 0, 0},
    {"", 0, 0},
};

Vc1HeaderTable* vc1_table_init(Vc1HeaderTable* table) {
  std::memcpy(table->rows, kTemplate, sizeof kTemplate);
  std::memset(table->hrd_rate_buffer, 0, sizeof table->hrd_rate_buffer);
  std::memset(table->hrd_full, 0, sizeof table->hrd_full);
  return table;
}

int vc1_find_field(const Vc1HeaderTable* table, int id) {
  for (int i = 0; i < kVc1RowCount; i++) {
    if (table->rows[i].id == id || table->rows[i].id == VC1_TABLE_END) return i;
  }
  return kVc1RowCount - 1;
}

uint32_t vc1_get_field(const Vc1HeaderTable* table, int id) {
  const Vc1FieldDescriptor& row = table->rows[vc1_find_field(table, id)];
  return row.present ? row.value : 0;
}

void vc1_set_field(Vc1HeaderTable* table, int id, uint32_t value) {
  Vc1FieldDescriptor& row = table->rows[vc1_find_field(table, id)];
  row.value = value;
  row.present = 1;
}

int vc1_next_row(const Vc1HeaderTable* table, int row) {
  const Vc1FieldDescriptor& d = table->rows[row];
  switch (d.condition_kind) {
    case CONTINUE_IF_EQUAL: {
      // Conditions look at values only, never at present flags.
      uint32_t tested =
          d.condition_field == SELF ? d.value : table->rows[vc1_find_field(table, d.condition_field)].value;
      if (tested == d.condition_value) return row + 1;
      return vc1_find_field(table, d.jump_target);
    }
    case ALWAYS_JUMP:
      return vc1_find_field(table, d.jump_target);
    default:
      return row + 1;
  }
}

uint32_t vc1_leaky_bucket_count(const Vc1HeaderTable* table) {
  return table->rows[vc1_find_field(table, VC1_HRD_NUM_LEAKY_BUCKETS)].value & 0x1F;
}
