// The choice of the one video stream to convert: the usable WVC1 stream with the highest
// data bitrate.
#include "asf/asf.h"
#include "report/report.h"

uint32_t asf_select_video_stream(AsfParserContext* context) {
  uint32_t best = 0;
  uint32_t best_rate = 0;
  // Greater-or-equal over increasing numbers: a tie goes to the higher stream number,
  // and a usable stream without a known bitrate (0) can still be chosen.
  for (uint32_t n = 1; n < static_cast<uint32_t>(kMaxStreams); n++) {
    const AsfStreamRecord* record = context->streams[n];
    if (record == nullptr || record->is_video == 0 || record->is_wvc1 == 0) continue;
    uint32_t rate = record->ext_stream_properties.data_bitrate;
    if (rate >= best_rate) {
      best_rate = rate;
      best = n;
    }
  }
  if (best == 0) {
    print_at_level(2, "No video streams found.\n");
    return 0;
  }
  print_at_level(2, "Video stream with highest bitrate is stream %d (bitrate = %d Kb/s)\n",
                 static_cast<int>(best), static_cast<int>((best_rate + 500u) / 1000u));
  return best;
}
