#include "records/ChartGeometry.h"

#include "store/ValueText.h"

#include <algorithm>
#include <cmath>

namespace chart {

namespace {
std::optional<Range> readRange(const QString &low, const QString &high, const QString &what,
                               QString *note) {
    const auto l = parseDecimal(low);
    const auto h = parseDecimal(high);
    // Ends too far apart for a double are no scale either.
    if (!l || !h || !std::isfinite(*h - *l)) {
        *note = QStringLiteral("%1范围“%2”到“%3”不是数字").arg(what, low.trimmed(), high.trimmed());
        return std::nullopt;
    }
    if (*l == *h) {
        *note = QStringLiteral("%1范围的两端相同").arg(what);
        return std::nullopt;
    }
    return Range{*l, *h};
}
}  // namespace

Scale readScale(const QString &tempLow, const QString &tempHigh, const QString &humLow,
                const QString &humHigh) {
    Scale s;
    s.temp = readRange(tempLow, tempHigh, QStringLiteral("温度"), &s.tempNote);
    s.hum = readRange(humLow, humHigh, QStringLiteral("湿度"), &s.humNote);
    return s;
}

double yOf(double value, const Range &range) {
    return (value - range.low) * kHeight / (range.high - range.low);
}

double xOf(qsizetype k, qsizetype count) {
    return count > 0 ? double(k) * kWidth / double(count) : 0.0;
}

qsizetype readoutIndex(qsizetype count, double x) {
    if (count <= 0 || !(x >= 0))
        return -1;
    const double k = std::floor(double(count) * x / kWidth);
    if (k >= double(count))
        return -1;
    return qsizetype(k);
}

QString generalNumber(double value) {
    const QString text = numberText(value);
    return text.startsWith(QLatin1Char('-')) ? text : QLatin1Char(' ') + text;
}

QStringList gridLabels(double low, double high) {
    const double step = (high - low) / 10.0;
    double label = low + step;
    QStringList out;
    for (int i = 0; i < 9; ++i) {
        out << generalNumber(label);
        label += step;
    }
    return out;
}

QString temperatureCornerText(const QString &lowText) {
    return lowText.trimmed() + QStringLiteral(" 温度(C)");
}

QString humidityCornerText(const QString &lowText) {
    return QStringLiteral("湿度(%) ") + lowText.trimmed();
}

void Decimator::add(double px, double value) {
    if (!std::isfinite(value) || !std::isfinite(px)) {
        flushColumn();
        endPiece();
        ++seen_;
        return;
    }
    const auto column = qint64(std::floor(px));
    if (n_ > 0 && column != column_)
        flushColumn();
    if (!stretches_.empty() && column != stretchColumn_)
        flushStretches();
    const Point p{px, value, seen_++};
    if (n_ == 0) {
        column_ = column;
        first_ = min_ = max_ = p;
    } else {
        if (value < min_.v)
            min_ = p;
        if (value > max_.v)
            max_ = p;
    }
    last_ = p;
    ++n_;
}

void Decimator::flushColumn() {
    if (n_ == 0)
        return;
    if (line_.empty())
        lineColumn_ = column_;
    // The extremes between the first and the last point, in their order.
    Point middle[2] = {min_, max_};
    if (middle[0].i > middle[1].i)
        std::swap(middle[0], middle[1]);
    line_.emplace_back(first_.x, first_.v);
    for (int m = 0; m < 2; ++m) {
        const Point &p = middle[m];
        if (p.i != first_.i && p.i != last_.i && (m == 0 || p.i != middle[0].i))
            line_.emplace_back(p.x, p.v);
    }
    if (last_.i != first_.i)
        line_.emplace_back(last_.x, last_.v);
    n_ = 0;
}

void Decimator::endPiece() {
    if (line_.size() >= 2 && lineColumn_ == column_) {
        // Within one column: the stretch it covers there.
        if (!stretches_.empty() && stretchColumn_ != column_)
            flushStretches();
        stretchColumn_ = column_;
        const auto [low, high] =
            std::minmax_element(line_.begin(), line_.end(),
                                [](const QPointF &a, const QPointF &b) { return a.y() < b.y(); });
        stretches_.push_back({line_.front().x(), low->y(), high->y()});
    } else if (line_.size() >= 2) {
        lines_.push_back(std::move(line_));
    }
    line_.clear();
}

void Decimator::flushStretches() {
    // Overlapping stretches become one, drawn at the x of the column's first.
    const double x = stretches_.front().x;
    std::sort(stretches_.begin(), stretches_.end(),
              [](const Stretch &a, const Stretch &b) { return a.low < b.low; });
    Stretch joined = stretches_.front();
    auto put = [this, x](const Stretch &s) { lines_.push_back({{x, s.low}, {x, s.high}}); };
    for (const Stretch &s : stretches_) {
        if (s.low <= joined.high) {
            joined.high = std::max(joined.high, s.high);
        } else {
            put(joined);
            joined = s;
        }
    }
    put(joined);
    stretches_.clear();
}

void Decimator::finish() {
    flushColumn();
    endPiece();
    if (!stretches_.empty())
        flushStretches();
}

qsizetype Decimator::segmentCount() const {
    qsizetype n = 0;
    for (const auto &line : lines_) n += qsizetype(line.size()) - 1;
    return n;
}

}  // namespace chart
