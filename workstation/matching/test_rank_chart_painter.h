// Drawing the test-rank chart (test_rank_chart.h) with Qt's painter, for the
// main window and for velmora-batch alike: one function draws it, in the
// window's drawing units, onto whatever the painter paints (the window's
// chart view scales it; the PNG is drawn at one pixel per unit).
//
// Only Qt GUI (QImage, QPainter), no widgets. Text needs a QGuiApplication
// (the fonts); the headless program makes one on the offscreen platform.
// Drawn without antialiasing, so that every line and bar edge lies on
// whole pixels where the geometry puts it.
#pragma once

#include <QImage>
#include <QPainter>

#include <string>

#include "workstation/common/status.h"
#include "workstation/matching/test_rank_chart.h"

namespace velmora::matching {

// The window's background, on which the chart is drawn.
inline constexpr int kChartBackground = 192;

// Bars with their values, ticks, frame and axes, rank and percentage
// labels and the caption; an empty result draws the frame, axes, labels and
// caption with empty_chart_message() instead of bars.
void draw_test_rank_chart(QPainter& painter, const ChartBars& bars);

// A kChartWidth x kChartHeight picture, window grey, with the chart.
QImage test_rank_chart_image(const ChartBars& bars);

// The picture as a PNG file, written whole or not at all.
Status save_test_rank_chart(const QImage& chart, const std::string& path);

}  // namespace velmora::matching
