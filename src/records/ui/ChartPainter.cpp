#include "records/ui/ChartPainter.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QPolygonF>

#include <algorithm>

namespace chartpaint {

namespace {
// Far enough outside the image to be cut off, near enough for the raster engine.
constexpr double kFar = 1.0e6;

QFont noteFont() {
    QFont f;
    f.setPixelSize(14);
    return f;
}

// Text with its upper-left corner at plot point (x, y).
void textAt(QPainter &p, const QSize &size, double x, double y, const QColor &colour,
            const QString &text) {
    p.setPen(colour);
    const QPointF at = toPixels(x, y, size);
    p.drawText(QRectF(at, QSizeF(size.width() * 2, size.height())), Qt::AlignLeft | Qt::AlignTop,
               text);
}
}  // namespace

QFont labelFont(const QSize &size) {
    // A label is written from half a band (50 units) above its grid line:
    // as tall as that half band, its last line of pixels sits on the line,
    // and the label reads as the line's own.
    const int halfBand = std::max(1, size.height() / 20);
    QFont f;
    int px = std::clamp(halfBand, 7, 40);
    f.setPixelSize(px);
    while (px > 7 && QFontMetrics(f).height() > halfBand) f.setPixelSize(--px);
    return f;
}

QPointF toPixels(double x, double y, const QSize &size) {
    return {x * size.width() / chart::kWidth,
            (chart::kHeight - y) * size.height() / chart::kHeight};
}

void paintGrid(QPainter &p, const QSize &size, const chart::Scale &scale,
               const QString &tempLowText, const QString &humLowText) {
    p.fillRect(QRect(QPoint(0, 0), size), kBackground);
    p.setFont(labelFont(size));
    textAt(p, size, 0, 50, kTempLabel, chart::temperatureCornerText(tempLowText));
    textAt(p, size, 1840, 50, kHumLabel, chart::humidityCornerText(humLowText));

    const QStringList tempLabels =
        scale.temp ? chart::gridLabels(scale.temp->low, scale.temp->high) : QStringList();
    const QStringList humLabels =
        scale.hum ? chart::gridLabels(scale.hum->low, scale.hum->high) : QStringList();
    for (int i = 0; i < 9; ++i) {
        const double y = 100.0 * (i + 1);
        p.setPen(kGrid);
        p.drawLine(toPixels(0, y, size), toPixels(chart::kWidth, y, size));
        if (!tempLabels.isEmpty())
            textAt(p, size, 0, y + 50, kTempLabel, tempLabels.at(i));
        if (!humLabels.isEmpty())
            textAt(p, size, 1940, y + 50, kHumLabel, humLabels.at(i));
    }
}

void paintCurve(QPainter &p, const QSize &size, const std::vector<std::vector<QPointF>> &lines,
                const chart::Range &range, const QColor &colour) {
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(QPen(colour, 0));
    QPolygonF polygon;
    for (const auto &line : lines) {
        if (line.size() < 2)
            continue;  // one record alone has no segment
        polygon.resize(qsizetype(line.size()));
        for (size_t i = 0; i < line.size(); ++i) {
            const double py =
                (chart::kHeight - chart::yOf(line[i].y(), range)) * size.height() / chart::kHeight;
            polygon[qsizetype(i)] = QPointF(line[i].x(), std::clamp(py, -kFar, kFar));
        }
        p.drawPolyline(polygon);
    }
}

void paintNotes(QPainter &p, const QSize &size, const QStringList &notes) {
    if (notes.isEmpty())
        return;
    p.setFont(noteFont());
    p.setPen(kNote);
    p.drawText(QRect(0, 8, size.width(), size.height() / 2), Qt::AlignHCenter | Qt::AlignTop,
               notes.join(QLatin1Char('\n')));
}

}  // namespace chartpaint
