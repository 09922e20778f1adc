#pragma once

#include <QList>
#include <QString>

// The tables of the alarm notifications and the statements over them. Both
// tables are created the first time they are needed (create table if not
// exists); the program's own tables are never altered.
//
// notifychannel: where messages go, one row per channel (kind wecom,
//   dingtalk, feishu, webhook or email; target, secret and options as the
//   kind needs; enabled 1 or 0).
// notifylog: the outbox and its record, one row per alarm and channel:
//   alarm    the alarmlog id;
//   channel  the notifychannel id;
//   mydate   while the row waits, when it was queued; afterwards, when it
//            was sent or given up (the records' form, UTC + 8 hours);
//   state    等待, 已发送 or 失败;
//   tries    the attempts so far;
//   error    the last attempt's failure ('' when none).
//   A later row for the same alarm and channel is a reminder that the alarm
//   is still on.
namespace notify {

inline constexpr auto kWaiting = "等待";
inline constexpr auto kSent = "已发送";
inline constexpr auto kFailed = "失败";

// The statements that create both tables and the index on the outbox, each
// only when it is missing.
QStringList createTables();

// To run right after each "insert into alarmlog ..." in the same transaction:
// creates the tables when they are missing and queues the row just inserted
// for every enabled channel (state 等待, tries 0, mydate the database's time
// now in the records' form). Several statements separated by "; ".
QString queueForLastAlarm();

// Gives up the waiting rows that `condition` (an SQL condition on notifylog)
// selects: 失败 at `timeSql` (an SQL expression) with `reason` as their error;
// with keepError a row that already holds the reason of its last failure
// keeps it.
QString giveUpWaiting(const QString &condition, const QString &timeSql, const QString &reason,
                      bool keepError = false);

}  // namespace notify
