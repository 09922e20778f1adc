#pragma once

#include "records/ChartGeometry.h"

#include <QColor>
#include <QStringList>

class QFont;
class QPainter;
class QSize;

// Draws the chart into an image of any size; the plot's own units (2000 x
// 1000, y upwards) are mapped onto it.
namespace chartpaint {

inline const QColor kGrid(51, 51, 0);
inline const QColor kTempLabel(128, 128, 0);
inline const QColor kHumLabel(192, 192, 192);
inline const QColor kHumCurve(255, 255, 255);
inline const QColor kTempCurve(255, 255, 0);
inline const QColor kBackground(0, 0, 0);
inline const QColor kNote(255, 128, 64);

// The font of the scale labels on a plot of `size`: as tall as half a band
// of the grid, at least 7 pixels.
QFont labelFont(const QSize &size);

// Pixel position of a point of the plot.
QPointF toPixels(double x, double y, const QSize &size);

// Background, the corner texts (from the trimmed low-end texts), the nine grid
// lines and their labels for the ranges that are numbers.
void paintGrid(QPainter &p, const QSize &size, const chart::Scale &scale,
               const QString &tempLowText, const QString &humLowText);

// One curve: polylines of (pixel x, value), the value mapped through `range`.
void paintCurve(QPainter &p, const QSize &size, const std::vector<std::vector<QPointF>> &lines,
                const chart::Range &range, const QColor &colour);

// Short notes (no record, a range that cannot be drawn), one per line, at the
// top of the plot.
void paintNotes(QPainter &p, const QSize &size, const QStringList &notes);

}  // namespace chartpaint
