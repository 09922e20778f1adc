#include "alarms/AlarmLimits.h"

#include "store/LiteConnection.h"
#include "store/Schema.h"
#include "store/Statements.h"
#include "store/ValueText.h"

namespace alarmlimits {

namespace {
const QString kTable = QStringLiteral("alarmlimit");

// One box: nothing for an empty box, the number, or a message.
bool parseBox(const QString &text, const QString &box, std::optional<double> *out,
              QString *message) {
    if (text.trimmed().isEmpty()) {
        out->reset();
        return true;
    }
    const auto v = parseDecimal(text);
    if (!v) {
        *message = box + QStringLiteral("“") + text +
                   QStringLiteral("”不是数字，请输入一个数，或留空表示不设限。");
        return false;
    }
    *out = *v;
    return true;
}

QString optionalText(const std::optional<double> &v) {
    return v ? numberText(*v) : QString();
}

// A limit cell: a number, or a text that reads as one; anything else is none.
std::optional<double> limitIn(const QVariant &cell) {
    if (!cell.isValid() || cell.isNull())
        return std::nullopt;
    switch (cell.typeId()) {
        case QMetaType::Double:
        case QMetaType::LongLong:
        case QMetaType::Int:
            return cell.toDouble();
        default:
            return parseDecimal(cell.toString());
    }
}
}  // namespace

QString parse(const AlarmLimitTexts &texts, AlarmLimits *out) {
    AlarmLimits limits;
    QString message;
    if (!parseBox(texts.tempLow, QStringLiteral("温度下限"), &limits.tempLow, &message) ||
        !parseBox(texts.tempHigh, QStringLiteral("温度上限"), &limits.tempHigh, &message) ||
        !parseBox(texts.humLow, QStringLiteral("湿度下限"), &limits.humLow, &message) ||
        !parseBox(texts.humHigh, QStringLiteral("湿度上限"), &limits.humHigh, &message))
        return message;
    if (limits.tempLow && limits.tempHigh && !(*limits.tempLow < *limits.tempHigh))
        return QStringLiteral("温度下限必须低于温度上限，请重新输入。");
    if (limits.humLow && limits.humHigh && !(*limits.humLow < *limits.humHigh))
        return QStringLiteral("湿度下限必须低于湿度上限，请重新输入。");
    *out = limits;
    return {};
}

AlarmLimitTexts texts(const AlarmLimits &limits) {
    return {optionalText(limits.tempLow), optionalText(limits.tempHigh),
            optionalText(limits.humLow), optionalText(limits.humHigh)};
}

bool loadAll(LiteConnection &db, QHash<QString, AlarmLimits> *out, QString *error) {
    out->clear();
    const auto exists = schema::hasTable(db, kTable, error);
    if (!exists)
        return false;
    if (!*exists)
        return true;
    LiteStatement st = db.prepare(sql::selectAlarmLimits());
    if (st.isValid())
        st.Step();
    while (st.isValid() && !st.done()) {
        AlarmLimits limits;
        limits.tempLow = limitIn(st.value(1));
        limits.tempHigh = limitIn(st.value(2));
        limits.humLow = limitIn(st.value(3));
        limits.humHigh = limitIn(st.value(4));
        out->insert(cellText(st.value(0)).trimmed(), limits);
        st.Step();
    }
    const bool ok = !st.failed();
    if (!ok) {
        out->clear();
        if (error)
            *error = st.error();
    }
    st.Close();
    return ok;
}

QStringList saveStatements(LiteConnection &db, const QString &address, const AlarmLimits &limits) {
    if (!limits.isEmpty())
        return {schema::createAlarmLimitTable(),
                sql::saveAlarmLimits(address, limits.tempLow, limits.tempHigh, limits.humLow,
                                     limits.humHigh)};
    return removeStatements(db, address);
}

QStringList removeStatements(LiteConnection &db, const QString &address) {
    const auto exists = schema::hasTable(db, kTable);
    if (exists && !*exists)
        return {};
    if (!exists)  // unknown: make sure the delete finds its table
        return {schema::createAlarmLimitTable(), sql::deleteAlarmLimits(address)};
    return {sql::deleteAlarmLimits(address)};
}

}  // namespace alarmlimits
