// The test-rank chart without pixels (see test_rank_chart.h).
#include "workstation/matching/test_rank_chart.h"

#include <cmath>
#include <cstdlib>

namespace velmora::matching {

ChartBars chart_bars(const std::vector<RankRow>& rows) {
  ChartBars bars;
  bars.empty = rows.empty();
  size_t next = 0;
  double p = 0;
  for (int k = 1; k <= kChartPositions; ++k) {
    // The rows come in ascending rank, one per rank; a rank below the
    // position (there is none below 1 in a real result) is passed over so
    // that it cannot hold back the rows after it.
    while (next < rows.size() && rows[next].rank < k) ++next;
    if (next < rows.size() && rows[next].rank == k) {
      p += rows[next].percent;
      ++next;
    }
    bars.cumulative[static_cast<size_t>(k - 1)] = p;
  }
  return bars;
}

std::string chart_value_text(double percent) {
  const long long tenths = std::llround(percent * 10.0);  // halves away from zero
  const long long magnitude = std::llabs(tenths);
  std::string whole = std::to_string(magnitude / 10);
  if (whole.size() < 2) whole.insert(0, 2 - whole.size(), '0');
  return (tenths < 0 ? "-" : "") + whole + "." + std::to_string(magnitude % 10);
}

int bar_top(double percent) {
  return static_cast<int>(std::lround(kFrameTop + 400.0 * (1.0 - percent / 100.0)));
}

ChartText bar_value_label(int k, double percent) {
  return {220 + kBarWidth * (k - 1), 575, chart_value_text(percent)};
}

ChartText rank_label(int i) {
  return {170 + 60 * i, 615, std::to_string(i)};
}

ChartText percent_label(int i) {
  return {162, 594 - kPercentStep * i, std::to_string(10 * i)};
}

ChartText chart_caption() {
  return {260, 180, "Percentage of matching extracts found at or above each rank position"};
}

ChartText empty_chart_message() {
  return {230, 390, "No test result to show: the last evaluation ranked no extract."};
}

}  // namespace velmora::matching
