// qx7demodb DIR [--modules 1,2,3] [--mqtt HOST:PORT | --mqtt off]
//
// Creates DIR/mydb.db for a demonstration on the simulated bus: the
// program's tables with the given modules registered (model 0007, as the bus
// search would add them). An existing DIR/mydb.db is never touched: the
// file is built under another name and only then moved into place, and only
// when no mydb.db has appeared meanwhile.
//
// --mqtt HOST:PORT points the demonstration at an MQTT broker: the row of
// table mqttsetting (prefix qx7, no login, no TLS), in a new database or in
// the existing one, where nothing else changes. --mqtt off removes the row.
//
// The third module, which sits in a cold room on the simulated bus, has its
// alarm on with a lower temperature limit of -4 °C (see scripts/run.sh, whose
// simulator takes it below that and back). A database of an earlier
// demonstration, which has no alarm limits at all, gets that alarm once.

#include "alarms/AlarmLimits.h"
#include "mqtt/MqttSettings.h"
#include "store/LiteConnection.h"
#include "store/Schema.h"
#include "store/Statements.h"

#include <QDir>
#include <QFile>
#include <QStringList>

#include <cstdio>
#include <optional>

namespace {
int fail(const QString &text) {
    std::fprintf(stderr, "qx7demodb: %s\n", qPrintable(text));
    return 1;
}

constexpr double kColdRoomLowLimit = -4;

// The alarm of the cold room's module: on, with its lower limit.
QString addColdRoomAlarm(LiteConnection &db, const QStringList &modules) {
    if (modules.size() < 3)
        return {};
    const QString address = modules[2].trimmed();
    AlarmLimits limits;
    limits.tempLow = kColdRoomLowLimit;
    QString error;
    const QStringList statements =
        QStringList{QStringLiteral("update dbQx7 set alarm='是' where adr ='") + address +
                    QStringLiteral("'")} +
        alarmlimits::saveStatements(db, address, limits);
    return executeTogether(db, statements, &error) ? QString() : error;
}

// The tables and the modules in a new file; the reason when that fails.
QString build(const QString &path, const QStringList &modules) {
    LiteConnection db;
    QString error;
    if (!db.Open(path) || !schema::ensure(db, &error))
        return error + db.lastError();
    for (const QString &m : modules) {
        if (!db.Execute(sql::insertModule(m.trimmed(), QStringLiteral("0007"))))
            return db.lastError();
    }
    error = addColdRoomAlarm(db, modules);
    db.Close();
    return error;
}

// An existing demonstration database without alarm limits gets the cold
// room's alarm; true when it did.
bool addAlarmToEarlierDemo(const QString &path, const QStringList &modules) {
    LiteConnection db;
    if (!db.Open(path))
        return false;
    // A file that is not a database, or that has limits already, stays as it is.
    const auto limits = schema::hasTable(db, QStringLiteral("alarmlimit"));
    const auto modulesTable = schema::hasTable(db, QStringLiteral("dbQx7"));
    if (!limits || *limits || !modulesTable || !*modulesTable || modules.size() < 3)
        return false;
    // Only when the cold room's module is registered.
    LiteStatement st = db.prepare(QStringLiteral("select count(*) from dbQx7 where adr = '") +
                                  sql::escape(modules[2].trimmed()) + QStringLiteral("'"));
    if (!st.isValid() || !st.Step() || st.done() || st.integer(0) == 0)
        return false;
    st.Close();
    return addColdRoomAlarm(db, modules).isEmpty();
}
}  // namespace

namespace {
void usage() {
    std::fputs(
        "Usage: qx7demodb DIR [--modules 1,2,3] [--mqtt HOST:PORT | --mqtt off]\n"
        "Creates DIR/mydb.db with the modules registered, unless it exists.\n"
        "--mqtt sets (or removes) the MQTT broker of DIR/mydb.db, new or existing.\n",
        stderr);
}

// Sets or removes the MQTT settings row of the database at `path`.
QString pointAtBroker(const QString &path, const std::optional<MqttSettings> &broker) {
    LiteConnection db;
    if (!db.Open(path))
        return db.lastError();
    QString error;
    const bool done =
        broker ? mqttsettings::save(db, *broker, &error) : mqttsettings::remove(db, &error);
    db.Close();
    return done ? QString() : error;
}
}  // namespace

int main(int argc, char *argv[]) {
    QStringList args;
    for (int i = 1; i < argc; ++i) args << QString::fromLocal8Bit(argv[i]);
    QStringList modules{QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")};
    bool setBroker = false;
    std::optional<MqttSettings> broker;
    if (args.isEmpty() || args[0].startsWith(QLatin1Char('-'))) {
        usage();
        return 2;
    }
    for (int i = 1; i < args.size(); i += 2) {
        if (i + 1 >= args.size()) {
            usage();
            return 2;
        }
        const QString &value = args[i + 1];
        if (args[i] == QLatin1String("--modules")) {
            modules = value.split(QLatin1Char(','));
        } else if (args[i] == QLatin1String("--mqtt")) {
            setBroker = true;
            if (value == QLatin1String("off"))
                continue;
            const qsizetype colon = value.lastIndexOf(QLatin1Char(':'));
            MqttSettings s;
            s.host = value.left(colon);
            const auto port = mqttsettings::parsePort(value.mid(colon + 1));
            if (colon <= 0 || !port || !mqttsettings::checkHost(s.host).isEmpty())
                return fail(QStringLiteral("bad broker %1 (HOST:PORT or off)").arg(value));
            s.port = *port;
            broker = s;
        } else {
            usage();
            return 2;
        }
    }
    for (const QString &m : modules) {
        bool ok = false;
        const int address = m.toInt(&ok);
        if (!ok || address < 1 || address > 247)
            return fail(QStringLiteral("bad module address %1").arg(m));
    }

    const QDir dir(args[0]);
    if (!dir.exists())
        return fail(QStringLiteral("no directory %1").arg(args[0]));
    const QString path = dir.absoluteFilePath(QString::fromLatin1(schema::kDatabaseFile));
    const QString brokerText = broker ? broker->server() : QStringLiteral("off");
    if (QFile::exists(path)) {
        if (addAlarmToEarlierDemo(path, modules))
            std::printf("gave module %s of %s its cold-room alarm\n",
                        qPrintable(modules[2].trimmed()),
                        qPrintable(QDir::toNativeSeparators(path)));
        if (setBroker) {
            const QString error = pointAtBroker(path, broker);
            if (!error.isEmpty())
                return fail(QStringLiteral("cannot set MQTT in %1: %2").arg(path, error));
            std::printf("kept %s, MQTT %s\n", qPrintable(QDir::toNativeSeparators(path)),
                        qPrintable(brokerText));
            return 0;
        }
        std::printf("kept %s\n", qPrintable(QDir::toNativeSeparators(path)));
        return 0;
    }

    const QString building = path + QStringLiteral(".new");
    QFile::remove(building);
    QString error = build(building, modules);
    if (error.isEmpty() && broker)
        error = pointAtBroker(building, broker);
    if (!error.isEmpty()) {
        QFile::remove(building);
        return fail(QStringLiteral("cannot create %1: %2").arg(building, error));
    }
    // QFile::rename never replaces an existing file.
    if (!QFile::rename(building, path)) {
        QFile::remove(building);
        return fail(QStringLiteral("%1 appeared meanwhile; left as it is").arg(path));
    }
    std::printf("created %s with modules %s%s\n", qPrintable(QDir::toNativeSeparators(path)),
                qPrintable(modules.join(QLatin1Char(','))),
                qPrintable(broker ? QStringLiteral(", MQTT ") + brokerText : QString()));
    return 0;
}
