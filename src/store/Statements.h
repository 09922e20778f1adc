#pragma once

#include <QString>

#include <optional>

// Every SQL text of the program. Values are joined into fixed fragments; a
// value that stands between single quotes has its quotes doubled, so a quote
// typed into a box can neither break a statement nor change what it does.
// For values without a quote the texts are exactly the program's fixed forms
// (blanks included), which other tools reading the file may rely on.
namespace sql {

// 'O'Brien' -> O''Brien (without the enclosing quotes).
QString escape(const QString &value);
// 'O'Brien' -> 'O''Brien' (with them).
QString quoted(const QString &value);

// Serial settings.
QString selectPortSetting();   // select * from syssetting where myitems='rs232port'
QString selectSpeedSetting();  // select * from syssetting where myitems='rs232speed'
QString updatePortSetting(int listIndex);
QString updateSpeedSetting(const QString &speed);

// Module registry.
QString selectModules();  // "select * from dbQx7 " (trailing blank)
QString insertModule(const QString &address, const QString &model);
QString updateModule(const QString &recordPeriod, bool enabled, bool alarm, const QString &address);
QString deleteModule(const QString &address);

// One measurement record, stamped by the database with UTC + 8 hours.
QString insertRecord(const QString &address, const QString &temperature, const QString &humidity);
// The same record stored later than it fell due: `time` is when it fell due,
// in the records' form YYYY-MM-DD HH:MM:SS (UTC + 8 hours).
QString insertRecordAt(const QString &address, const QString &time, const QString &temperature,
                       const QString &humidity);

// Record query: the base text followed by the condition fragments in a fixed
// order (address, time, temperature upper, temperature lower, humidity upper,
// humidity lower). Each fragment brings its own leading blank.
QString selectRecordsBase();  // select * from th where id<>0
QString recordAddressCondition(const QString &address);
QString recordTimeCondition(const QString &from, const QString &to);
enum class Compare { Less, LessOrEqual, GreaterOrEqual, Greater };
QString recordTemperatureCondition(Compare op, const QString &value);
QString recordHumidityCondition(Compare op, const QString &value);

// Record deletion: "delete from th where " + module condition + time condition.
QString allModulesCondition();  // adr<>0
QString moduleCondition(const QString &address);
QString deleteBeforeCondition(const QString &time);
QString deleteAfterCondition(const QString &time);
QString deleteBetweenCondition(const QString &first, const QString &second);
QString deleteRecords(const QString &moduleCondition, const QString &timeCondition);

// Alarm limits of one module (see schema::createAlarmLimitTable); a missing
// limit is NULL.
QString selectAlarmLimits();  // select * from alarmlimit
QString saveAlarmLimits(const QString &address, std::optional<double> tempLow,
                        std::optional<double> tempHigh, std::optional<double> humLow,
                        std::optional<double> humHigh);
QString deleteAlarmLimits(const QString &address);

// One start or end of an alarm, with its time in the records' form; a
// missing value is NULL.
QString insertAlarmLog(int address, const QString &time, const QString &kind,
                       std::optional<double> value, const QString &state);
// The alarm log: the base text followed by the address and time conditions
// of the record query (recordAddressCondition, recordTimeCondition), and an
// ordering clause.
QString selectAlarmLogBase();  // select * from alarmlog where id<>0
QString alarmLogOrder();       // " order by id"

}  // namespace sql
