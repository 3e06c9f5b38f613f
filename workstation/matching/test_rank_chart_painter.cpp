// Drawing the test-rank chart (see test_rank_chart_painter.h).
#include "workstation/matching/test_rank_chart_painter.h"

#include <QBuffer>
#include <QByteArray>
#include <QFont>

#include "workstation/common/atomic_file.h"

namespace velmora::matching {
namespace {

void write(QPainter& p, const ChartText& t) {
  // Top-left placement: the text's box starts at (x, y).
  p.drawText(QRect(t.x, t.y, 1000, 40), Qt::AlignLeft | Qt::AlignTop,
             QString::fromStdString(t.text));
}

void line(QPainter& p, int x1, int y1, int x2, int y2) {
  p.drawLine(QPoint(x1, y1), QPoint(x2, y2));
}

// A box filled with the bar colour, both corners included.
void bar(QPainter& p, int k, double percent) {
  const int top = bar_top(percent);
  p.fillRect(QRect(QPoint(bar_left(k), top), QPoint(bar_right(k), kFrameBottom)),
             QColor(kBarRed, kBarGreen, kBarBlue));
}

}  // namespace

void draw_test_rank_chart(QPainter& p, const ChartBars& bars) {
  p.save();
  p.setRenderHint(QPainter::Antialiasing, false);
  p.setRenderHint(QPainter::TextAntialiasing, true);
  p.setPen(QPen(Qt::black, 0));  // cosmetic: one pixel at any scale
  QFont font = p.font();
  font.setPixelSize(12);
  p.setFont(font);

  for (int k = 1; k <= kChartPositions; ++k) {
    if (!bars.empty) {
      const double pk = bars.cumulative[static_cast<size_t>(k - 1)];
      bar(p, k, pk);
      write(p, bar_value_label(k, pk));
    }
    if (k >= 2) {
      line(p, bar_left(k), kFrameBottom, bar_left(k), kFrameBottom + kTickLength);
      const int y = kFrameBottom - kPercentStep * (k - 1);
      line(p, kFrameLeft - kTickLength, y, kFrameLeft, y);
    }
  }
  // Frame and axes over the bars' edges.
  line(p, kFrameLeft - kTickLength, kFrameBottom, kFrameLeft, kFrameBottom);
  line(p, kFrameLeft - kTickLength, kFrameTop, kFrameLeft, kFrameTop);
  line(p, kFrameLeft, kFrameBottom, kFrameLeft, kFrameBottom + kTickLength);
  line(p, kFrameRight, kFrameBottom, kFrameRight, kFrameBottom + kTickLength);
  p.drawRect(QRect(QPoint(kFrameLeft, kFrameTop), QPoint(kFrameRight - 1, kFrameBottom - 1)));

  for (int i = 1; i <= kChartPositions; ++i) write(p, rank_label(i));
  for (int i = 1; i <= kChartPositions; ++i) write(p, percent_label(i));
  write(p, chart_caption());
  if (bars.empty) write(p, empty_chart_message());
  p.restore();
}

QImage test_rank_chart_image(const ChartBars& bars) {
  QImage image(kChartWidth, kChartHeight, QImage::Format_RGB32);
  image.fill(QColor(kChartBackground, kChartBackground, kChartBackground));
  QPainter p(&image);
  draw_test_rank_chart(p, bars);
  p.end();
  return image;
}

Status save_test_rank_chart(const QImage& chart, const std::string& path) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  if (!buffer.open(QIODevice::WriteOnly) || !chart.save(&buffer, "PNG")) {
    return Status::IOError("The chart could not be made into a PNG picture for " + path + ".");
  }
  return write_file_atomically(path, std::string_view(bytes.constData(), bytes.size()));
}

}  // namespace velmora::matching
