#include "store/Schema.h"

#include "store/LiteConnection.h"

#include <QStringList>

namespace schema {

QStringList createStatements() {
    // Column order is part of the file format: every reader runs "select *"
    // and takes columns by position.
    return {
        QStringLiteral("CREATE TABLE syssetting (myitems TEXT, mysetting TEXT)"),
        QStringLiteral("CREATE TABLE dbQx7 ("
                       "id INTEGER PRIMARY KEY, "
                       "adr TEXT, "
                       "name TEXT, "
                       "enorno TEXT DEFAULT '是', "
                       "temp TEXT DEFAULT '', "
                       "hum TEXT DEFAULT '', "
                       "scan INTEGER DEFAULT 60, "
                       "alarm TEXT DEFAULT '否')"),
        // temp and hum have REAL affinity so that the quoted texts written by
        // the acquisition are stored as numbers and compare numerically; adr
        // has INTEGER affinity so that 3 and '3' both match a stored '3'.
        QStringLiteral("CREATE TABLE th ("
                       "id INTEGER PRIMARY KEY, "
                       "adr INTEGER, "
                       "mydate TEXT, "
                       "temp REAL, "
                       "hum REAL)"),
        QStringLiteral("INSERT INTO syssetting (myitems, mysetting) VALUES ('rs232port', '0')"),
        QStringLiteral("INSERT INTO syssetting (myitems, mysetting) VALUES ('rs232speed', '9600')"),
    };
}

QString createAlarmLimitTable() {
    return QStringLiteral(
        "create table if not exists alarmlimit "
        "(adr TEXT PRIMARY KEY, tlow REAL, thigh REAL, hlow REAL, hhigh REAL)");
}

QString createAlarmLogTable() {
    return QStringLiteral(
        "create table if not exists alarmlog "
        "(id INTEGER PRIMARY KEY AUTOINCREMENT, adr INTEGER, mydate TEXT, kind TEXT, value REAL, "
        "state TEXT)");
}

std::optional<bool> hasTable(LiteConnection &conn, const QString &name, QString *error) {
    LiteStatement st = conn.prepare(
        QStringLiteral("select count(*) from sqlite_master where type='table' and name='") +
        QString(name).replace(QLatin1Char('\''), QLatin1String("''")) + QLatin1Char('\''));
    if (!st.isValid() || !st.Step() || st.done()) {
        if (error)
            *error = st.error().isEmpty() ? conn.lastError() : st.error();
        return std::nullopt;
    }
    const bool found = st.integer(0) > 0;
    st.Close();
    return found;
}

bool check(LiteConnection &conn, QString *error) {
    for (const char *table : {"syssetting", "dbQx7", "th"}) {
        QString reason;
        const auto found = hasTable(conn, QString::fromLatin1(table), &reason);
        if (!found || !*found) {
            if (error)
                *error =
                    found ? QStringLiteral("数据库中没有表") + QString::fromLatin1(table) : reason;
            return false;
        }
    }
    return true;
}

bool ensure(LiteConnection &conn, QString *error) {
    auto fail = [&](const QString &what) {
        if (error)
            *error = what;
        return false;
    };

    LiteStatement st =
        conn.prepare(QStringLiteral("select count(*) from sqlite_master where type='table'"));
    if (!st.isValid() || !st.Step())
        return fail(st.error());
    const qint64 tables = st.done() ? 0 : st.integer(0);
    st.Close();
    if (tables > 0)
        return true;

    LiteTransaction tx(conn);
    if (!tx.isActive())
        return fail(conn.lastError());
    for (const QString &sql : createStatements()) {
        if (!conn.Execute(sql))
            return fail(conn.lastError());
    }
    if (!tx.commit())
        return fail(conn.lastError());
    return true;
}

}  // namespace schema
