// The bitrate picture: its columns against frames binned directly at the final width, and
// the SVG read back as XML and drawn by a real renderer (librsvg's rsvg-convert; skipped,
// with a message, where it is not installed).
#include "report/plot.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/run_binary.h"
#include "tests/support/wmv_writer.h"

namespace {

struct Frame {
  uint32_t bytes;
  int64_t time_ms;
  int type;
  bool key;
};

// Frames of all six classes over `seconds`, a key frame every 48.
std::vector<Frame> frames_over(uint32_t seconds, int64_t first_ms) {
  std::vector<Frame> frames;
  for (uint32_t i = 0; i < seconds * 24; i++) {
    frames.push_back({1000 + (i * 7919) % 30000, first_ms + int64_t{i} * 1000 / 24, static_cast<int>(i % 14),
                      i % 48 == 0});
  }
  return frames;
}

std::string column_text(const PlotColumn& c, const PlotLevel& l) {
  std::string text;
  for (uint32_t v : c.largest) text += std::to_string(v) + " ";
  return text + std::to_string(c.classes) + " " + std::to_string(c.key) + " " + std::to_string(l.high) + " " +
         std::to_string(l.low);
}

TEST(PlotColumns, EachColumnKeepsItsClassesLargestFramesAndKeysWhateverTheMerging) {
  std::vector<Frame> back = frames_over(20, 0);
  back.push_back({99999, -7777, 1, true});  // before the origin: the columns move on
  const struct {
    const char* name;
    std::vector<Frame> frames;
    bool merged;
  } cases[] = {
      {"one second: 1-ms columns", frames_over(1, 500), false},
      {"two hours", frames_over(7200, -3000), true},
      {"a frame before the origin", back, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PlotColumns* p = plot_columns_create(1);
    plot_columns_start(p, c.frames[0].time_ms);
    for (const Frame& f : c.frames) {
      plot_columns_add_frame(p, f.time_ms, f.bytes, f.type, f.key);
      plot_columns_add_level(p, 0, f.time_ms, f.bytes, -int64_t{f.bytes});
    }
    EXPECT_EQ(p->width_ms > 1, c.merged);
    EXPECT_LE(p->count, kPlotMaxColumns);
    EXPECT_GT(p->count * 2, c.merged ? kPlotMaxColumns : 0);  // merged no more than needed
    std::vector<PlotColumn> expected(p->count, PlotColumn{});
    std::vector<PlotLevel> levels(p->count, PlotLevel{INT64_MIN, INT64_MAX});
    for (const Frame& f : c.frames) {
      int64_t at = (f.time_ms - p->origin_ms) / static_cast<int64_t>(p->width_ms);
      ASSERT_TRUE(f.time_ms >= p->origin_ms && at < p->count) << f.time_ms;
      PlotClass k = plot_class_of(f.type);
      expected[at].largest[k] = std::max(expected[at].largest[k], f.bytes);
      expected[at].classes |= static_cast<uint8_t>(1u << k);
      expected[at].key |= f.key;
      levels[at] = {std::max<int64_t>(levels[at].high, f.bytes), std::min(levels[at].low, -int64_t{f.bytes})};
    }
    for (uint32_t i = 0; i < p->count; i++) {
      EXPECT_EQ(column_text(expected[i], levels[i]), column_text(p->columns[i], p->levels[0][i]))
          << "column " << i;
    }
    plot_columns_release(p);
  }
}

bool append(void* context, const char* bytes, size_t length) {
  static_cast<std::string*>(context)->append(bytes, length);
  return true;
}

// The picture of `frames` as `title`, written to a file; its size in *bytes.
std::string picture(const std::vector<Frame>& frames, const std::string& title, uint32_t buckets,
                    size_t* bytes) {
  BitrateSettings s = {};
  s.period = bitrate_period_from_100ns(416667);
  s.hrd = {buckets, 1, 2, {2000, 2600}, {3000, 2000}, {200, 255}};
  s.plot = plot_columns_create(buckets);
  BitrateCheck* check = bitrate_check_create(&s);
  for (const Frame& f : frames) bitrate_check_frame(check, f.bytes, f.time_ms, f.type, f.key);
  BitrateResults r;
  bitrate_check_finish(check, &r);
  std::string svg;
  PlotLabels labels = {title.data(), title.size(), 300000};
  EXPECT_TRUE(plot_write_svg(s.plot, &r, &labels, {append, &svg}));
  bitrate_check_release(check);
  plot_columns_release(s.plot);
  *bytes = svg.size();
  std::string path = temp_path("plot.svg");
  save_file(path, svg);
  return path;
}

// What svg_check.py says of the SVG (and of its PNG, for the colours given).
std::string checked(const std::string& svg, const std::string& png = "", const std::string& colours = "") {
  return shell_output(python() + " " TARVEL_SOURCE_DIR "/tests/report/svg_check.py '" + svg + "' " + png +
                      " " + colours + " 2>&1");
}

std::string hex(const std::string& text) {
  std::string out;
  for (unsigned char c : text) out += "0123456789abcdef"[c >> 4], out += "0123456789abcdef"[c & 15];
  return out;
}

TEST(PlotSvg, TheTitleIsEscapedAndStaysWellFormedUtf8) {
  const std::string long_name(150, 'x');
  const struct {
    std::string given, shown;
  } cases[] = {
      {"a & b <c> \"d\" 'e'.wmv", "a & b <c> \"d\" 'e'.wmv"},
      {"M\xC3\xBCller \xE6\x9D\xB1\xE4\xBA\xAC \xF0\x9F\x8E\xAC.wmv",
       "M\xC3\xBCller \xE6\x9D\xB1\xE4\xBA\xAC \xF0\x9F\x8E\xAC.wmv"},
      {"bad\xFF"
       "byte \xC0\xAF over \xED\xA0\x80 half\xE2\x82",
       "bad\xEF\xBF\xBD"
       "byte \xEF\xBF\xBD\xEF\xBF\xBD over "
       "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD half\xEF\xBF\xBD\xEF\xBF\xBD"},
      {std::string("ctl\x01\x1b\t\n") + "\xEF\xBF\xBE" + std::string(1, '\0') + "end",
       "ctl\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"
       "end"},
      {long_name, std::string(100, 'x') + "\xE2\x80\xA6"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.shown);
    size_t bytes = 0;
    EXPECT_EQ(checked(picture(frames_over(2, 0), c.given, 0, &bytes)), "title: " + hex(c.shown) + "\n");
  }
}

TEST(PlotSvg, ThePictureIsSelfContainedAndRendersWithEveryPictureType) {
  std::vector<Frame> sample;
  for (const WmvFrame& f : sample_wmv().frames) {
    sample.push_back({static_cast<uint32_t>(f.data.size() + 30), f.time_ms - 3100, f.key ? 1 : 2, f.key});
  }
  const struct {
    const char* name;
    std::vector<Frame> frames;
    uint32_t buckets;
  } cases[] = {
      {"the sample, no buckets", sample, 0},
      {"every class, two buckets", frames_over(30, 0), 2},
      {"two hours, two buckets", frames_over(7200, 0), 2},
  };
  bool renders = !shell_output("command -v rsvg-convert").empty();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    size_t bytes = 0;
    std::string svg = picture(c.frames, "plot.wmv", c.buckets, &bytes);
    EXPECT_LT(bytes, 1000000u);
    if (!renders) {
      EXPECT_EQ(checked(svg), "title: " + hex("plot.wmv") + "\n");
      continue;
    }
    std::string png = svg + ".png";
    ASSERT_EQ(shell_output("rsvg-convert '" + svg + "' -o '" + png + "' 2>&1 && echo drawn"), "drawn\n");
    // Bars of I, P and B (BI, skipped too where the frames hold them) in their colours.
    std::string found = checked(svg, png, "I=#d62728 P=#1f77b4 B=#2ca02c BI=#ff7f0e skipped=#8c8c8c");
    EXPECT_EQ(found.find("problem"), std::string::npos) << found;
    EXPECT_NE(found.find("png: 1200 "), std::string::npos) << found;
    EXPECT_NE(found.find(c.buckets > 0 ? "drawn: I P B BI skipped\n" : "drawn: I P\n"), std::string::npos)
        << found;
  }
  if (!renders) GTEST_SKIP() << "rsvg-convert is not installed: the pictures were parsed, not drawn";
}

TEST(PlotSvg, AFailingSinkStopsTheWriter) {
  int calls = 0;
  PlotColumns* p = plot_columns_create(0);
  plot_columns_add_frame(p, 0, 1000, 1, true);
  BitrateResults r = {};
  PlotLabels labels = {"x", 1, 0};
  EXPECT_FALSE(plot_write_svg(
      p, &r, &labels, {[](void* n, const char*, size_t) { return ++*static_cast<int*>(n) < 0; }, &calls}));
  EXPECT_EQ(calls, 1);  // the first piece was refused: nothing was offered after it
  plot_columns_release(p);
}

}  // namespace
