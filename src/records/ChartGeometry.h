#pragma once

#include <QPointF>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

// The chart's plot area in its own units: x from 0 (left) to 2000 (right),
// y from 0 (bottom) to 1000 (top). Records are spaced evenly by their position
// in the result, not by their time.
namespace chart {

inline constexpr double kWidth = 2000.0;
inline constexpr double kHeight = 1000.0;

// The low and high ends of one quantity (y = 0 and y = 1000).
struct Range {
    double low = 0;
    double high = 0;
};

// What the four range boxes give: a range per quantity, or a short note that
// says why that curve is not drawn.
struct Scale {
    std::optional<Range> temp;  // Text3 .. Text4
    std::optional<Range> hum;   // Text1 .. Text2
    QString tempNote;
    QString humNote;
};
Scale readScale(const QString &tempLow, const QString &tempHigh, const QString &humLow,
                const QString &humHigh);

// y of a value: (v - low) * 1000 / (high - low).
double yOf(double value, const Range &range);
// x of record k of `count`: k * 2000 / count.
double xOf(qsizetype k, qsizetype count);
// The record under the pointer at plot x `x`: the largest k with
// xOf(k) <= x, or -1 when that is no record (no record at all, x left of
// the plot, or at or beyond the right edge).
qsizetype readoutIndex(qsizetype count, double x);

// A number as the scale prints it: shortest text, a blank in place of the
// sign of a number that is not negative (" 10", "-10").
QString generalNumber(double value);
// The nine labels at y = 100, 200, ... 900: low + step, low + 2 step, ...
// with step = (high - low) / 10, each added to the one before.
QStringList gridLabels(double low, double high);
// The texts at the bottom corners: "-20 温度(C)" and "湿度(%) 0".
QString temperatureCornerText(const QString &lowText);
QString humidityCornerText(const QString &lowText);

// Thins a curve to at most four points per pixel column (the first, the
// lowest, the highest and the last, in their order), which draws the same
// pixels as joining every pair of records. Points are fed in order as
// (pixel x, value); a value that is not a finite number breaks the curve.
// Pieces of a broken curve that begin and end within one pixel column (data
// with frequent gaps) are kept as the vertical stretches they cover there,
// overlapping ones joined, and a piece of one point alone, which has no
// segment, is dropped: the column shows the same, with a few lines instead
// of one per piece.
class Decimator {
public:
    void add(double px, double value);
    // Ends the curve; after it polylines() holds every piece.
    void finish();
    // Pieces of the curve, each a polyline of (pixel x, value).
    const std::vector<std::vector<QPointF>> &polylines() const { return lines_; }
    // Line segments drawn: points - 1 over all pieces.
    qsizetype segmentCount() const;

private:
    struct Point {
        double x, v;
        qsizetype i;
    };
    struct Stretch {
        double x, low, high;
    };
    void flushColumn();
    void endPiece();
    void flushStretches();

    std::vector<std::vector<QPointF>> lines_;
    std::vector<QPointF> line_;
    qint64 lineColumn_ = 0;  // where line_ began
    qint64 column_ = 0;
    qsizetype n_ = 0;     // points in the current column
    qsizetype seen_ = 0;  // points fed so far
    Point first_{}, last_{}, min_{}, max_{};
    std::vector<Stretch> stretches_;  // pieces that stayed within stretchColumn_
    qint64 stretchColumn_ = 0;
};

}  // namespace chart
