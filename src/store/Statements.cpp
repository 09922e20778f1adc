#include "store/Statements.h"

#include "store/ValueText.h"

namespace sql {

QString escape(const QString &value) {
    QString out = value;
    out.replace(QLatin1Char('\''), QLatin1String("''"));
    return out;
}

QString quoted(const QString &value) {
    return QLatin1Char('\'') + escape(value) + QLatin1Char('\'');
}

QString selectPortSetting() {
    return QStringLiteral("select * from syssetting where myitems='rs232port'");
}

QString selectSpeedSetting() {
    return QStringLiteral("select * from syssetting where myitems='rs232speed'");
}

QString updatePortSetting(int listIndex) {
    return QStringLiteral("update syssetting set mysetting='") + QString::number(listIndex) +
           QStringLiteral("' where myitems ='rs232port'");
}

QString updateSpeedSetting(const QString &speed) {
    return QStringLiteral("update syssetting set mysetting='") + escape(speed) +
           QStringLiteral("' where myitems ='rs232speed'");
}

QString selectModules() {
    return QStringLiteral("select * from dbQx7 ");
}

QString insertModule(const QString &address, const QString &model) {
    return QStringLiteral("insert into dbQx7 ('adr','name') values ('") + escape(address) +
           QStringLiteral("','") + escape(model) + QStringLiteral("')");
}

static QString flag(bool on) {
    return on ? QStringLiteral("是") : QStringLiteral("否");
}

QString updateModule(const QString &recordPeriod, bool enabled, bool alarm,
                     const QString &address) {
    return QStringLiteral("update dbQx7 set scan='") + escape(recordPeriod) +
           QStringLiteral("', enorno='") + flag(enabled) + QStringLiteral("' , alarm='") +
           flag(alarm) + QStringLiteral("' where adr ='") + escape(address) + QStringLiteral("'");
}

QString deleteModule(const QString &address) {
    return QStringLiteral("delete from dbQx7 where adr ='") + escape(address) + QStringLiteral("'");
}

QString insertRecord(const QString &address, const QString &temperature, const QString &humidity) {
    return QStringLiteral("insert into th ('adr','mydate','temp','hum') values ('") +
           escape(address) + QStringLiteral("', datetime('now','+8 hour'), '") +
           escape(temperature) + QStringLiteral("','") + escape(humidity) + QStringLiteral("')");
}

QString insertRecordAt(const QString &address, const QString &time, const QString &temperature,
                       const QString &humidity) {
    return QStringLiteral("insert into th ('adr','mydate','temp','hum') values ('") +
           escape(address) + QStringLiteral("', '") + escape(time) + QStringLiteral("', '") +
           escape(temperature) + QStringLiteral("','") + escape(humidity) + QStringLiteral("')");
}

QString selectRecordsBase() {
    return QStringLiteral("select * from th where id<>0");
}

QString recordAddressCondition(const QString &address) {
    return QStringLiteral(" AND adr = ") + address;
}

QString recordTimeCondition(const QString &from, const QString &to) {
    return QStringLiteral(" AND datetime(mydate) >= '") + escape(from) +
           QStringLiteral("' AND datetime(mydate) <= '") + escape(to) + QStringLiteral("'");
}

static QString compareText(Compare op) {
    switch (op) {
        case Compare::Less:
            return QStringLiteral(" < ");
        case Compare::LessOrEqual:
            return QStringLiteral(" <= ");
        case Compare::GreaterOrEqual:
            return QStringLiteral(" >= ");
        case Compare::Greater:
            return QStringLiteral(" > ");
    }
    return {};
}

QString recordTemperatureCondition(Compare op, const QString &value) {
    return QStringLiteral(" AND temp") + compareText(op) + value;
}

QString recordHumidityCondition(Compare op, const QString &value) {
    return QStringLiteral(" AND hum") + compareText(op) + value;
}

QString allModulesCondition() {
    return QStringLiteral("adr<>0");
}

QString moduleCondition(const QString &address) {
    return QStringLiteral("adr = '") + escape(address) + QStringLiteral("'");
}

QString deleteBeforeCondition(const QString &time) {
    return QStringLiteral(" AND datetime(mydate) < '") + escape(time) + QStringLiteral("'");
}

QString deleteAfterCondition(const QString &time) {
    return QStringLiteral(" AND datetime(mydate) > '") + escape(time) + QStringLiteral("'");
}

QString deleteBetweenCondition(const QString &first, const QString &second) {
    return QStringLiteral(" AND datetime(mydate) BETWEEN '") + escape(first) +
           QStringLiteral("' AND '") + escape(second) + QStringLiteral("'");
}

QString deleteRecords(const QString &moduleCondition, const QString &timeCondition) {
    return QStringLiteral("delete from th where ") + moduleCondition + timeCondition;
}

static QString realOrNull(std::optional<double> value) {
    return value ? numberText(*value) : QStringLiteral("NULL");
}

QString selectAlarmLimits() {
    return QStringLiteral("select * from alarmlimit");
}

QString saveAlarmLimits(const QString &address, std::optional<double> tempLow,
                        std::optional<double> tempHigh, std::optional<double> humLow,
                        std::optional<double> humHigh) {
    return QStringLiteral(
               "insert or replace into alarmlimit (adr, tlow, thigh, hlow, hhigh) values ('") +
           escape(address) + QStringLiteral("', ") + realOrNull(tempLow) + QStringLiteral(", ") +
           realOrNull(tempHigh) + QStringLiteral(", ") + realOrNull(humLow) + QStringLiteral(", ") +
           realOrNull(humHigh) + QStringLiteral(")");
}

QString deleteAlarmLimits(const QString &address) {
    return QStringLiteral("delete from alarmlimit where adr = '") + escape(address) +
           QStringLiteral("'");
}

QString insertAlarmLog(int address, const QString &time, const QString &kind,
                       std::optional<double> value, const QString &state) {
    return QStringLiteral("insert into alarmlog (adr, mydate, kind, value, state) values (") +
           QString::number(address) + QStringLiteral(", '") + escape(time) +
           QStringLiteral("', '") + escape(kind) + QStringLiteral("', ") + realOrNull(value) +
           QStringLiteral(", '") + escape(state) + QStringLiteral("')");
}

QString selectAlarmLogBase() {
    return QStringLiteral("select * from alarmlog where id<>0");
}

QString alarmLogOrder() {
    return QStringLiteral(" order by id");
}

}  // namespace sql
