// Puts a frame rate and a pixel aspect ratio into the sequence header's display extension.
#include "vc1/vc1.h"

namespace {

struct FramePeriod {
  uint32_t period_us;  // exact frame period rounded to the microsecond
  uint32_t framerate_nr;
  uint32_t framerate_dr;
};

// The frame rates that FRAMERATENR/FRAMERATEDR can code, ended by a zero period.
constexpr FramePeriod kFramePeriods[] = {
    {41667, 1, 1}, {41708, 1, 2}, {40000, 2, 1}, {40040, 2, 2}, {33333, 3, 1},
    {33367, 3, 2}, {20000, 4, 1}, {20020, 4, 2}, {16667, 5, 1}, {16683, 5, 2},
    {20833, 6, 1}, {20854, 6, 2}, {13889, 7, 1}, {13903, 7, 2}, {0, 0, 0},
};

constexpr uint32_t kMaxFramerateExp = 0xFFFF;

// FRAMERATEEXP codes the rate as (FRAMERATEEXP + 1) / 32 frames per second. Periods so
// short that the code would not fit its 16 bits get the largest code.
uint32_t framerate_exp(uint32_t period_us) {
  double e = 1000000.0 / static_cast<double>(period_us) * 32.0 - 1.0 + 0.5;
  if (!(e < static_cast<double>(kMaxFramerateExp))) return kMaxFramerateExp;
  return static_cast<uint32_t>(e);
}

}  // namespace

void vc1_enable_display_ext(Vc1HeaderTable* table) {
  if (vc1_get_field(table, VC1_DISPLAY_EXT) == 1) return;
  uint32_t max_width = vc1_get_field(table, VC1_MAX_CODED_WIDTH);
  uint32_t max_height = vc1_get_field(table, VC1_MAX_CODED_HEIGHT);
  // MAX_CODED_WIDTH holds width / 2 - 1 and DISP_HORIZ_SIZE holds width - 1.
  vc1_set_field(table, VC1_DISPLAY_EXT, 1);
  vc1_set_field(table, VC1_DISP_HORIZ_SIZE, 2 * max_width + 1);
  vc1_set_field(table, VC1_DISP_VERT_SIZE, 2 * max_height + 1);
  vc1_set_field(table, VC1_FRAMERATE_FLAG, 0);
  vc1_set_field(table, VC1_ASPECT_RATIO_FLAG, 0);
  vc1_set_field(table, VC1_COLOR_FORMAT_FLAG, 0);
}

void vc1_insert_frame_period(uint32_t period_us, Vc1HeaderTable* table) {
  uint32_t exp = framerate_exp(period_us);
  vc1_enable_display_ext(table);
  vc1_set_field(table, VC1_FRAMERATE_FLAG, 1);
  for (const FramePeriod* p = kFramePeriods; p->period_us != 0; p++) {
    if (p->period_us == period_us) {
      vc1_set_field(table, VC1_FRAMERATENR, p->framerate_nr);
      vc1_set_field(table, VC1_FRAMERATEDR, p->framerate_dr);
      vc1_set_field(table, VC1_FRAMERATEIND, 0);
      return;
    }
  }
  vc1_set_field(table, VC1_FRAMERATEIND, 1);
  vc1_set_field(table, VC1_FRAMERATEEXP, exp);
}

bool vc1_frame_rate(const Vc1HeaderTable* table, uint32_t* num, uint32_t* den) {
  if (vc1_get_field(table, VC1_DISPLAY_EXT) != 1 || vc1_get_field(table, VC1_FRAMERATE_FLAG) != 1)
    return false;
  if (vc1_get_field(table, VC1_FRAMERATEIND) == 1) {
    *num = vc1_get_field(table, VC1_FRAMERATEEXP) + 1;
    *den = 32;
    return true;
  }
  uint32_t nr = vc1_get_field(table, VC1_FRAMERATENR);
  uint32_t dr = vc1_get_field(table, VC1_FRAMERATEDR);
  if (nr < 1 || nr > 7 || dr < 1 || dr > 2) return false;
  *num = kVc1FramerateNr[nr];
  *den = kVc1FramerateDr[dr];
  return true;
}

void vc1_insert_par(uint32_t x, uint32_t y, Vc1HeaderTable* table) {
  if (x == 0 || y == 0) return;
  vc1_enable_display_ext(table);
  vc1_set_field(table, VC1_ASPECT_RATIO_FLAG, 1);

  // 64-bit products: terms up to 2^32 - 1 times factors up to 160 do not overflow.
  for (uint32_t i = 0; kVc1ParTable[i].name[0] != '\0'; i++) {
    const Vc1ParEntry& e = kVc1ParTable[i];
    if (e.x == 0 || e.y == 0) continue;
    if (static_cast<uint64_t>(e.y) * x == static_cast<uint64_t>(e.x) * y) {
      vc1_set_field(table, VC1_ASPECT_RATIO, i);
      return;
    }
  }

  vc1_set_field(table, VC1_ASPECT_RATIO, 15);
  uint64_t h = x;
  uint64_t v = y;
  if (h > 255 || v > 255) {
    if (h > v) {
      v = v * 255 / h;
      h = 255;
    } else {
      h = h * 255 / v;
      v = 255;
    }
  }
  // A term scaled down to 0 has no coding as size - 1; the nearest codable term is 1.
  if (h == 0) h = 1;
  if (v == 0) v = 1;
  vc1_set_field(table, VC1_ASPECT_HORIZ_SIZE, static_cast<uint32_t>(h - 1));
  vc1_set_field(table, VC1_ASPECT_VERT_SIZE, static_cast<uint32_t>(v - 1));
}
