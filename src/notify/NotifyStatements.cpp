#include "notify/NotifyStatements.h"

#include "store/Statements.h"

namespace notify {

QStringList createTables() {
    return {
        QStringLiteral("create table if not exists notifychannel "
                       "(id INTEGER PRIMARY KEY AUTOINCREMENT, kind TEXT, name TEXT, target TEXT, "
                       "secret TEXT, options TEXT, enabled INTEGER)"),
        QStringLiteral("create table if not exists notifylog "
                       "(id INTEGER PRIMARY KEY AUTOINCREMENT, alarm INTEGER, channel INTEGER, "
                       "mydate TEXT, state TEXT, tries INTEGER, error TEXT)"),
        // The notifier looks for the waiting rows of a channel every second,
        // and for the rows of an alarm; neither reads the whole table.
        QStringLiteral(
            "create index if not exists notifylog_waiting on notifylog (state, channel)"),
        QStringLiteral("create index if not exists notifylog_alarm on notifylog (alarm)"),
    };
}

QString queueForLastAlarm() {
    // Inside the writer's transaction the row just inserted is the newest
    // of alarmlog. (last_insert_rowid() would not do: it moves on with
    // every row this INSERT ... SELECT adds.)
    return createTables().join(QStringLiteral("; ")) +
           QStringLiteral(
               "; insert into notifylog (alarm, channel, mydate, state, tries, error) "
               "select (select max(id) from alarmlog), id, datetime('now','+8 hour'), '") +
           QString::fromUtf8(kWaiting) +
           QStringLiteral("', 0, '' from notifychannel where enabled = 1 order by id");
}

QString giveUpWaiting(const QString &condition, const QString &timeSql, const QString &reason,
                      bool keepError) {
    const QString error = keepError
                              ? QStringLiteral("case when error is null or error = '' then ") +
                                    sql::quoted(reason) + QStringLiteral(" else error end")
                              : sql::quoted(reason);
    return QStringLiteral("update notifylog set state = ") +
           sql::quoted(QString::fromUtf8(kFailed)) + QStringLiteral(", mydate = ") + timeSql +
           QStringLiteral(", error = ") + error + QStringLiteral(" where state = ") +
           sql::quoted(QString::fromUtf8(kWaiting)) + QStringLiteral(" and (") + condition +
           QLatin1Char(')');
}

}  // namespace notify
