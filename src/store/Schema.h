#pragma once

#include <QString>

#include <optional>

class LiteConnection;

namespace schema {

// File name of the database, in the directory of the program.
inline constexpr auto kDatabaseFile = "mydb.db";

// Defaults of a module that the bus search adds with only its address and model.
inline constexpr auto kDefaultEnabled = "是";
inline constexpr auto kDefaultAlarm = "否";
inline constexpr int kDefaultRecordPeriod = 60;

// Creates the three tables and the two settings rows when the database holds
// no table at all (a new or empty file). A database that already has tables is
// left exactly as it is. Returns false, with the reason in *error, when the
// file cannot be read as a database or the tables cannot be created.
bool ensure(LiteConnection &conn, QString *error);

// True when the database holds the program's three tables; false, with the
// reason in *error, when it cannot be read or a table is missing. Changes
// nothing.
bool check(LiteConnection &conn, QString *error);

// The statements that create an empty database, in order.
QStringList createStatements();

// Tables beyond the three of the program, created the first time they are
// needed (CREATE TABLE IF NOT EXISTS), so that a file whose owner never uses
// them stays as it was.
//
// alarmlimit: the alarm limits of a module, one row per address text as the
// module list shows it (trimmed); NULL means no limit.
QString createAlarmLimitTable();
// alarmlog: one row per start or end of an alarm.
QString createAlarmLogTable();

// Whether the file holds a table of that name. Nothing on a failure, with
// the reason in *error.
std::optional<bool> hasTable(LiteConnection &conn, const QString &name, QString *error = nullptr);

}  // namespace schema
