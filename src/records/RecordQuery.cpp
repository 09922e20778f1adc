#include "records/RecordQuery.h"

#include "records/FilterText.h"
#include "store/LiteConnection.h"
#include "store/Statements.h"
#include "store/ValueText.h"

#include <QTimeZone>

#include <climits>
#include <cmath>

namespace {

using sql::Compare;

// What each condition writes: its fragment, and for the bounds the
// comparison it brings; in the order of RecordCondition.
struct BoxRule {
    RecordQuery::Fragment fragment;
    Compare compare;
};

const BoxRule kRules[kRecordConditions] = {
    {RecordQuery::Adr, Compare::Less},
    {RecordQuery::Time, Compare::Less},
    {RecordQuery::TempHigh, Compare::Less},
    {RecordQuery::TempLow, Compare::GreaterOrEqual},
    {RecordQuery::TempHigh, Compare::LessOrEqual},
    {RecordQuery::TempLow, Compare::Greater},
    {RecordQuery::HumHigh, Compare::LessOrEqual},
    {RecordQuery::HumHigh, Compare::Less},
    {RecordQuery::HumLow, Compare::Greater},
    {RecordQuery::HumLow, Compare::GreaterOrEqual},
};

}  // namespace

RecordQuery::Fragment RecordQuery::fragmentOf(RecordCondition condition) {
    return kRules[int(condition)].fragment;
}

QString RecordQuery::click(RecordCondition condition, bool ticked, const Texts &texts) {
    const Fragment f = fragmentOf(condition);
    if (!ticked) {
        fragments_[f].clear();
        return {};
    }
    const BoxRule &rule = kRules[int(condition)];
    QString error;
    QString text;
    switch (rule.fragment) {
        case Adr:
            error = filtertext::checkAddress(texts.address, QStringLiteral("只看模块"));
            text = sql::recordAddressCondition(texts.address.trimmed());
            break;
        case Time:
            error = filtertext::checkTimeText(texts.from, QStringLiteral("限制时间段，从"));
            if (error.isEmpty())
                error = filtertext::checkTimeText(texts.to, QStringLiteral("到"));
            text = sql::recordTimeCondition(texts.from.trimmed(), texts.to.trimmed());
            break;
        case TempHigh:
            error = filtertext::checkBound(texts.tempHigh, QStringLiteral("上限"),
                                           QStringLiteral("温度"));
            text = sql::recordTemperatureCondition(rule.compare, texts.tempHigh.trimmed());
            break;
        case TempLow:
            error = filtertext::checkBound(texts.tempLow, QStringLiteral("下限"),
                                           QStringLiteral("温度"));
            text = sql::recordTemperatureCondition(rule.compare, texts.tempLow.trimmed());
            break;
        case HumHigh:
            error = filtertext::checkBound(texts.humHigh, QStringLiteral("上限"),
                                           QStringLiteral("湿度"));
            text = sql::recordHumidityCondition(rule.compare, texts.humHigh.trimmed());
            break;
        case HumLow:
            error = filtertext::checkBound(texts.humLow, QStringLiteral("下限"),
                                           QStringLiteral("湿度"));
            text = sql::recordHumidityCondition(rule.compare, texts.humLow.trimmed());
            break;
        case FragmentCount:
            break;
    }
    if (!error.isEmpty())
        return error;
    fragments_[f] = text;
    return {};
}

void RecordQuery::setPeriod(const QString &from, const QString &to) {
    fragments_[Time] = sql::recordTimeCondition(from, to);
}

void RecordQuery::clear() {
    for (QString &f : fragments_) f.clear();
}

QString RecordQuery::statement() const {
    QString s = sql::selectRecordsBase();
    for (const QString &f : fragments_) s += f;
    return s;
}

QString recordQueryProblem(LiteConnection &db, const QString &statement) {
    LiteStatement probe = db.prepare(statement);
    if (!probe.isValid())
        return probe.error();
    return probe.columnCount() < 5 ? QStringLiteral("查询结果少于5列") : QString();
}

QDateTime recordClockTime(const QDateTime &now) {
    // The database stamps records with datetime('now','+8 hour'): UTC plus
    // eight hours, as a plain date and time.
    const QDateTime shifted = now.toUTC().addSecs(8 * 3600);
    return QDateTime(shifted.date(), shifted.time(), Qt::UTC);
}

PeriodTexts quickPeriod(QuickPeriod period, const QDateTime &now) {
    const QDate today = recordClockTime(now).date();
    QDate first = today;
    QDate last = today;
    switch (period) {
        case QuickPeriod::Today:
            break;
        case QuickPeriod::ThisWeek:
            first = today.addDays(1 - today.dayOfWeek());  // Monday is day 1
            last = first.addDays(6);
            break;
        case QuickPeriod::ThisMonth:
            first = QDate(today.year(), today.month(), 1);
            last = QDate(today.year(), today.month(), today.daysInMonth());
            break;
    }
    return {first.toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(" 00:00:00"),
            last.toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(" 23:59:59")};
}

std::optional<int> periodMilliseconds(const QString &seconds) {
    const std::optional<double> s = parseDecimal(seconds);
    if (!s)
        return std::nullopt;
    // nearbyint rounds halves to even in the default rounding mode.
    const double ms = std::nearbyint(*s * 1000.0);
    if (!(ms >= 1.0) || ms > double(INT_MAX))
        return std::nullopt;
    return int(ms);
}
