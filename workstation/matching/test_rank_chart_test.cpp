// The test-rank chart: bar values from result rows, the value format, and
// the drawn picture read back pixel by pixel against the chart's geometry
// (bar edges and fill, frame, ticks, where each text begins).
#include "workstation/matching/test_rank_chart.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>

#include <cstdlib>

#include "testing/temp_dir.h"
#include "workstation/matching/test_rank_chart_painter.h"

namespace velmora::matching {
namespace {

// Text needs the fonts of a GUI application; the tests run offscreen.
QGuiApplication& gui() {
  static int argc = 1;
  static char name[] = "test_rank_chart_test";
  static char* argv[] = {name, nullptr};
  static QGuiApplication* app = [] {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    return new QGuiApplication(argc, argv);
  }();
  return *app;
}

using Bars = std::array<double, kChartPositions>;

TEST(TestRankChart, BarsAreRunningSumsOfTheRowsUpToPositionTen) {
  struct Case {
    const char* what;
    std::vector<RankRow> rows;
    Bars expected;
  };
  const Case cases[] = {
      {"ranks 1, 2 and 4", {{1, 50}, {2, 20}, {4, 10}}, {50, 70, 70, 80, 80, 80, 80, 80, 80, 80}},
      {"first row at rank 3", {{3, 40}, {5, 60}}, {0, 0, 40, 40, 100, 100, 100, 100, 100, 100}},
      {"ranks above 10 ignored",
       {{1, 30}, {10, 20}, {11, 25}, {40, 25}},
       {30, 30, 30, 30, 30, 30, 30, 30, 30, 50}},
      {"everything at rank 1", {{1, 100}}, {100, 100, 100, 100, 100, 100, 100, 100, 100, 100}},
  };
  for (const Case& c : cases) {
    const ChartBars bars = chart_bars(c.rows);
    EXPECT_FALSE(bars.empty) << c.what;
    for (int k = 0; k < kChartPositions; ++k) {
      EXPECT_DOUBLE_EQ(bars.cumulative[k], c.expected[k]) << c.what << ", position " << k + 1;
    }
  }
  EXPECT_TRUE(chart_bars({}).empty);
}

TEST(TestRankChart, ValuesHaveTwoDigitsBeforeThePointAndOneAfter) {
  const std::pair<double, const char*> cases[] = {
      {5, "05.0"},      {100, "100.0"},  {0, "00.0"},    {70, "70.0"},
      {33.333, "33.3"}, {12.25, "12.3"}, {9.96, "10.0"}, {0.04, "00.0"},
  };
  for (const auto& [value, text] : cases) EXPECT_EQ(chart_value_text(value), text) << value;
}

bool is_bar(QRgb c) {
  return qRed(c) == kBarRed && qGreen(c) == kBarGreen && qBlue(c) == kBarBlue;
}
bool is_black(QRgb c) {
  return qRed(c) == 0 && qGreen(c) == 0 && qBlue(c) == 0;
}
bool is_background(QRgb c) {
  return qRed(c) == kChartBackground && qGreen(c) == kChartBackground &&
         qBlue(c) == kChartBackground;
}
// Pixels of text: clearly darker than both the background and the bars.
int ink(const QImage& im, int x0, int y0, int x1, int y1) {
  int n = 0;
  for (int y = y0; y <= y1; ++y) {
    for (int x = x0; x <= x1; ++x) n += qGray(im.pixel(x, y)) < 110;
  }
  return n;
}

// Text begins at its place: ink in the box to its lower right, none in the
// strips just left of and above it.
void expect_text_at(const QImage& im, const ChartText& t, const std::string& what) {
  EXPECT_GT(ink(im, t.x, t.y, t.x + 6 * static_cast<int>(t.text.size()) + 6, t.y + 14), 5)
      << what << " '" << t.text << "'";
  EXPECT_EQ(ink(im, t.x - 5, t.y, t.x - 1, t.y + 13), 0) << what << " left of '" << t.text << "'";
  EXPECT_EQ(ink(im, t.x, t.y - 4, t.x + 12, t.y - 1), 0) << what << " above '" << t.text << "'";
}

TEST(TestRankChart, DrawsBarsFrameTicksAndLabelsWhereTheGeometryPutsThem) {
  gui();
  const ChartBars bars = chart_bars({{1, 5}, {2, 45}, {4, 50}});  // 5, 50, 50, 100, ...
  const QImage im = test_rank_chart_image(bars);
  ASSERT_EQ(im.width(), kChartWidth);
  ASSERT_EQ(im.height(), kChartHeight);

  for (int k = 1; k <= kChartPositions; ++k) {
    const double p = bars.cumulative[k - 1];
    const int top = bar_top(p);
    const std::string at = "bar " + std::to_string(k);
    // Fill from the top edge down to the frame's bottom, left of the value.
    for (int y : {top, (top + kFrameBottom) / 2, kFrameBottom - 1}) {
      if (y >= kFrameBottom || y == kFrameTop) continue;  // the frame's lines
      EXPECT_TRUE(is_bar(im.pixel(bar_left(k) + 3, y))) << at << " y " << y;
      EXPECT_TRUE(is_bar(im.pixel(bar_right(k) - 2, y))) << at << " y " << y;
    }
    if (top > kFrameTop) {
      EXPECT_TRUE(is_background(im.pixel(bar_left(k) + 3, top - 1))) << at << " above its top";
    }
    // Adjacent bars share their edge column; the outer edges are the frame.
    if (k > 1 && k < kChartPositions) {
      EXPECT_TRUE(is_bar(im.pixel(bar_right(k), kFrameBottom - 1))) << at << " right edge";
    }
    expect_text_at(im, bar_value_label(k, p), at + " value");
    expect_text_at(im, rank_label(k), "rank number");
    expect_text_at(im, percent_label(k), "percentage");
  }
  EXPECT_EQ(bar_top(100), kFrameTop);
  EXPECT_EQ(bar_top(5), 580);

  // Frame, both axes' end ticks and the inner ticks, all black.
  for (int x : {kFrameLeft, 500, kFrameRight}) {
    EXPECT_TRUE(is_black(im.pixel(x, kFrameTop))) << "top " << x;
    EXPECT_TRUE(is_black(im.pixel(x, kFrameBottom))) << "bottom " << x;
  }
  for (int y : {kFrameTop, 400, kFrameBottom}) {
    EXPECT_TRUE(is_black(im.pixel(kFrameLeft, y))) << "left " << y;
    EXPECT_TRUE(is_black(im.pixel(kFrameRight, y))) << "right " << y;
  }
  for (int k = 1; k <= kChartPositions + 1; ++k) {
    const int x = kFrameLeft + kBarWidth * (k - 1);
    const int y = kFrameBottom - kPercentStep * (k - 1);
    EXPECT_TRUE(is_black(im.pixel(x, kFrameBottom + kTickLength))) << "rank tick " << k;
    EXPECT_TRUE(is_black(im.pixel(kFrameLeft - kTickLength, y))) << "percent tick " << k;
    EXPECT_TRUE(is_background(im.pixel(x, kFrameBottom + kTickLength + 1))) << "rank tick " << k;
    EXPECT_TRUE(is_background(im.pixel(kFrameLeft - kTickLength - 1, y))) << "percent tick " << k;
  }
  // Between the ticks the axes carry nothing.
  EXPECT_TRUE(is_background(im.pixel(kFrameLeft - 5, kFrameBottom - 20)));
  EXPECT_TRUE(is_background(im.pixel(kFrameLeft + 30, kFrameBottom + 5)));
  expect_text_at(im, chart_caption(), "caption");
}

TEST(TestRankChart, AnEmptyResultDrawsTheFrameAndAMessageButNoBars) {
  gui();
  const QImage im = test_rank_chart_image(chart_bars({}));
  int bar_pixels = 0;
  for (int y = 0; y < im.height(); ++y) {
    for (int x = 0; x < im.width(); ++x) bar_pixels += is_bar(im.pixel(x, y));
  }
  EXPECT_EQ(bar_pixels, 0);
  EXPECT_TRUE(is_black(im.pixel(500, kFrameTop)));
  EXPECT_TRUE(is_black(im.pixel(kFrameLeft, 400)));
  expect_text_at(im, empty_chart_message(), "message");
  expect_text_at(im, chart_caption(), "caption");
  // No bar values where the bars' values go.
  EXPECT_EQ(ink(im, 210, 575, 790, 590), 0);
}

TEST(TestRankChart, SavesThePictureAsPng) {
  gui();
  velmora::testing::TempDir dir("velmora_chart");
  const QImage im = test_rank_chart_image(chart_bars({{1, 60}, {2, 40}}));
  ASSERT_TRUE(save_test_rank_chart(im, dir.path("chart.png")).ok());
  QImage back;
  ASSERT_TRUE(back.load(QString::fromStdString(dir.path("chart.png")), "PNG"));
  EXPECT_EQ(back.convertToFormat(QImage::Format_RGB32), im);
  EXPECT_FALSE(save_test_rank_chart(im, dir.path("no/such/folder/chart.png")).ok());
}

}  // namespace
}  // namespace velmora::matching
