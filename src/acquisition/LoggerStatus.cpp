#include "acquisition/LoggerStatus.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {
QJsonObject moduleJson(const LoggerModule &m) {
    return {{QStringLiteral("adr"), m.address},     {QStringLiteral("model"), m.model},
            {QStringLiteral("enabled"), m.enabled}, {QStringLiteral("temp"), m.temperature},
            {QStringLiteral("hum"), m.humidity},    {QStringLiteral("scan"), m.recordPeriod},
            {QStringLiteral("alarm"), m.alarmFlag}, {QStringLiteral("alarmed"), m.alarmed}};
}
}  // namespace

QByteArray LoggerStatus::toJson() const {
    QJsonArray list;
    for (const LoggerModule &m : modules) list.append(moduleJson(m));
    const QJsonObject o{{QStringLiteral("pid"), pid},
                        {QStringLiteral("acquiring"), acquiring},
                        {QStringLiteral("runTime"), runTime},
                        {QStringLiteral("counters"), counters},
                        {QStringLiteral("alarms"), alarms},
                        {QStringLiteral("notes"), QJsonArray::fromStringList(notes)},
                        {QStringLiteral("modules"), list}};
    return QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
}

std::optional<LoggerStatus> LoggerStatus::fromJson(const QByteArray &line) {
    QJsonParseError parse;
    const QJsonDocument doc = QJsonDocument::fromJson(line, &parse);
    if (parse.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    const QJsonObject o = doc.object();
    LoggerStatus s;
    s.pid = o.value(QStringLiteral("pid")).toInteger();
    s.acquiring = o.value(QStringLiteral("acquiring")).toBool();
    s.runTime = o.value(QStringLiteral("runTime")).toString();
    s.counters = o.value(QStringLiteral("counters")).toString();
    s.alarms = o.value(QStringLiteral("alarms")).toString();
    for (const QJsonValue &v : o.value(QStringLiteral("notes")).toArray()) s.notes << v.toString();
    for (const QJsonValue &v : o.value(QStringLiteral("modules")).toArray()) {
        const QJsonObject m = v.toObject();
        s.modules.append(
            {m.value(QStringLiteral("adr")).toString(), m.value(QStringLiteral("model")).toString(),
             m.value(QStringLiteral("enabled")).toString(),
             m.value(QStringLiteral("temp")).toString(), m.value(QStringLiteral("hum")).toString(),
             m.value(QStringLiteral("scan")).toString(),
             m.value(QStringLiteral("alarm")).toString(),
             m.value(QStringLiteral("alarmed")).toBool()});
    }
    return s;
}
