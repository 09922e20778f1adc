#include "records/RecordStats.h"

#include "records/RecordTable.h"
#include "store/RowScan.h"
#include "store/ValueText.h"

#include <QRegularExpression>

#include <cmath>

double FigureStats::mean() const {
    if (count_ == 0)
        return 0;
    return (double(sumTenths_) + sumOther_ * 10.0) / (10.0 * double(count_));
}

void FigureStats::add(const ScanValue &value) {
    // An infinite number (or one that is not a number) is no reading: it
    // would make the mean and an extreme say nothing.
    if (value.isNumber() && !std::isfinite(value.real))
        return;
    if (value.isNumber()) {
        qint16 tenths = 0;
        if (RecordTable::toTenths(value.real, &tenths))
            addTenths(tenths);
        else
            add(value.real);
    } else if (value.type == ScanValue::Type::Text) {
        if (const auto v = parseDecimal(QString::fromUtf8(value.bytes)))
            add(*v);
    }
}

QString formatPattern(double value, const QString &pattern) {
    const qsizetype point = pattern.indexOf(QLatin1Char('.'));
    const QString intPart = point < 0 ? pattern : pattern.left(point);
    const QString fracPart = point < 0 ? QString() : pattern.mid(point + 1);
    const int decimals = int(fracPart.size());
    const int minInt = int(intPart.count(QLatin1Char('0')));
    const int minFrac = int(fracPart.lastIndexOf(QLatin1Char('0')) + 1);

    if (!std::isfinite(value))
        return QString::number(value);

    // Digits of |value| with six more decimals than shown, which drops the
    // binary noise (23.45 is stored as 23.4499999...), then the last shown
    // digit rounded half away from zero on those decimal digits.
    QString digits = QString::number(std::abs(value), 'f', decimals + 6);
    digits.remove(QLatin1Char('.'));
    const qsizetype keep = digits.size() - 6;
    const bool up = digits.at(keep) >= QLatin1Char('5');
    digits.truncate(keep);
    if (up) {
        qsizetype i = digits.size() - 1;
        while (i >= 0 && digits.at(i) == QLatin1Char('9')) {
            digits[i] = QLatin1Char('0');
            --i;
        }
        if (i < 0)
            digits.prepend(QLatin1Char('1'));
        else
            digits[i] = QChar(digits.at(i).unicode() + 1);
    }
    QString whole = digits.left(digits.size() - decimals);
    QString frac = digits.right(decimals);

    const bool zero = !digits.contains(QRegularExpression(QStringLiteral("[1-9]")));
    while (whole.size() > minInt && whole.startsWith(QLatin1Char('0'))) whole.remove(0, 1);
    while (whole.size() < minInt) whole.prepend(QLatin1Char('0'));
    while (frac.size() > minFrac && frac.endsWith(QLatin1Char('0'))) frac.chop(1);

    QString out;
    if (value < 0 && !zero)
        out += QLatin1Char('-');
    out += whole;
    if (point >= 0)
        out += QLatin1Char('.') + frac;
    return out;
}

QStringList statisticsCaptions(const RecordStats &s) {
    auto figure = [](const FigureStats &f, double (FigureStats::*which)() const) {
        return f.count() > 0 ? numberText((f.*which)()) : QString();
    };
    auto mean = [](const FigureStats &f, const QString &pattern) {
        return f.count() > 0 ? formatPattern(f.mean(), pattern) : QString();
    };
    return {
        QStringLiteral("合计：") + QString::number(s.count) + QStringLiteral("个记录"),
        QStringLiteral("最高温度：") + figure(s.temp, &FigureStats::highest),
        QStringLiteral("最低温度：") + figure(s.temp, &FigureStats::lowest),
        QStringLiteral("平均温度：") + mean(s.temp, QStringLiteral("###.#")),
        QStringLiteral("最高湿度：") + figure(s.hum, &FigureStats::highest),
        QStringLiteral("最低湿度：") + figure(s.hum, &FigureStats::lowest),
        QStringLiteral("平均湿度：") + mean(s.hum, QStringLiteral("##.#")),
    };
}
