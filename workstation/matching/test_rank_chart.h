// The test-rank chart without pixels: what each bar shows, where it goes,
// and the texts around it.
//
// The chart shows, for rank positions 1 to 10, the cumulative percentage of
// evaluated units whose own animal was found at or above that position,
// read from the rows of SYSTEM_overall_ranks (rank, percent at exactly that
// rank, ascending rank). A rank without a row adds nothing; rows of ranks
// above 10 do not show.
//
// Geometry, in the main window's drawing units (x to the right, y down; one
// unit is one pixel of the chart picture): the frame is the rectangle
// (200, 200)-(800, 600); bar k (1..10) covers x 200 + 60(k-1) to
// 260 + 60(k-1) and y from 200 + 400(1 - p/100) down to 600, both ends
// included; a 100 percent bar reaches the frame's top. Texts are placed by
// their top-left corner. The painter (test_rank_chart_painter.h) draws
// exactly this; the tests read its pixels against these functions.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace velmora::matching {

// One row of SYSTEM_overall_ranks.
struct RankRow {
  int64_t rank = 0;    // 1 = best
  double percent = 0;  // of the evaluated units found at exactly this rank
};

inline constexpr int kChartPositions = 10;

struct ChartBars {
  bool empty = true;  // no row at all: nothing was evaluated, no bar to draw
  std::array<double, kChartPositions> cumulative{};  // position k at [k - 1]
};

// The bars from the rows, in the order they are read.
ChartBars chart_bars(const std::vector<RankRow>& rows);

// A bar's value as written on it: at least two digits before the point and
// one after, halves rounded away from zero ("05.0", "70.0", "100.0").
std::string chart_value_text(double percent);

// Geometry (drawing units).
inline constexpr int kFrameLeft = 200, kFrameRight = 800, kFrameTop = 200, kFrameBottom = 600;
inline constexpr int kBarWidth = 60;
inline constexpr int kTickLength = 10;
inline constexpr int kPercentStep = 40;  // frame height / 10
// The chart picture: every drawing unit of the chart with a margin.
inline constexpr int kChartWidth = 900, kChartHeight = 660;

inline constexpr int bar_left(int k) {
  return kFrameLeft + kBarWidth * (k - 1);
}
inline constexpr int bar_right(int k) {
  return bar_left(k) + kBarWidth;
}
// The bar's top edge, rounded to the nearest unit.
int bar_top(double percent);

struct ChartText {
  int x = 0, y = 0;  // top-left corner
  std::string text;
};
// Value of bar k at (220 + 60(k-1), 575).
ChartText bar_value_label(int k, double percent);
// Rank number i (1..10) at (170 + 60i, 615).
ChartText rank_label(int i);
// Percentage 10i (i = 1..10) at (162, 594 - 40i).
ChartText percent_label(int i);
// The caption above the frame, at (260, 180).
ChartText chart_caption();
// What an empty chart says instead of bars, inside the frame.
ChartText empty_chart_message();

// The bar colour: red 128, green 255, blue 255.
inline constexpr int kBarRed = 128, kBarGreen = 255, kBarBlue = 255;

}  // namespace velmora::matching
