#include "store/ValueText.h"

#include <QDate>
#include <QRegularExpression>
#include <QTime>

#include <cmath>

QString numberText(double value) {
    if (!std::isfinite(value))
        return QString::number(value);
    // 15 significant digits as the general format gives them, without the
    // exponent it would use for very small or very large magnitudes.
    QString out = QString::number(value, 'g', 15);
    if (out.contains(QLatin1Char('e'))) {
        out = QString::number(value, 'f', 15);
        if (out.contains(QLatin1Char('.'))) {
            while (out.endsWith(QLatin1Char('0'))) out.chop(1);
            if (out.endsWith(QLatin1Char('.')))
                out.chop(1);
        }
    }
    if (out == QLatin1String("-0"))
        out = QStringLiteral("0");
    return out;
}

QString cellText(const QVariant &value) {
    if (!value.isValid() || value.isNull())
        return {};
    switch (value.typeId()) {
        case QMetaType::Double:
        case QMetaType::Float:
            return numberText(value.toDouble());
        case QMetaType::LongLong:
        case QMetaType::Int:
        case QMetaType::ULongLong:
        case QMetaType::UInt:
            return QString::number(value.toLongLong());
        default:
            return value.toString();
    }
}

std::optional<qint64> parseWholeNumber(const QString &text, qint64 min, qint64 max) {
    static const QRegularExpression re(QStringLiteral("^[+-]?[0-9]{1,18}$"));
    const QString t = text.trimmed();
    if (!re.match(t).hasMatch())
        return std::nullopt;
    bool ok = false;
    const qint64 v = t.toLongLong(&ok);
    if (!ok || v < min || v > max)
        return std::nullopt;
    return v;
}

std::optional<double> parseDecimal(const QString &text) {
    static const QRegularExpression re(QStringLiteral("^[+-]?([0-9]+(\\.[0-9]*)?|\\.[0-9]+)$"));
    const QString t = text.trimmed();
    if (!re.match(t).hasMatch())
        return std::nullopt;
    bool ok = false;
    const double v = t.toDouble(&ok);
    if (!ok || !std::isfinite(v))
        return std::nullopt;
    return v;
}

std::optional<qint64> parseRounded(const QString &text, qint64 min, qint64 max) {
    const std::optional<double> v = parseDecimal(text);
    if (!v)
        return std::nullopt;
    // nearbyint rounds halves to even in the default rounding mode.
    const double rounded = std::nearbyint(*v);
    if (!(rounded >= double(min)) || rounded > double(max))
        return std::nullopt;
    return qint64(rounded);
}

bool isRecordTime(const QString &text) {
    static const QRegularExpression re(
        QStringLiteral("^([0-9]{4})-([0-9]{2})-([0-9]{2}) ([0-9]{2}):([0-9]{2}):([0-9]{2})$"));
    const auto m = re.match(text);
    if (!m.hasMatch())
        return false;
    const QDate d(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
    const QTime t(m.captured(4).toInt(), m.captured(5).toInt(), m.captured(6).toInt());
    return d.isValid() && t.isValid();
}

QString recordTimeText(const QDateTime &instant) {
    return instant.toUTC().addSecs(8 * 3600).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}
