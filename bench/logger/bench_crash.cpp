// The logger killed at random moments, as a power cut or a crash would end
// it, and started again each time: the database must stay whole and the
// logger must go on. qx7logger runs against the bus simulator (three
// modules, polled every 200 ms, each recorded every second) and gets SIGKILL
// at a random moment of each run: while it starts (takes the folder, opens
// the database), anywhere in a run of up to 5 s, or while it stores a
// second's records.
//
//   bench_crash [--kills N] [--seed N]
//
// After each kill another connection opens the file (rolling back what the
// logger left half-way) and checks it: PRAGMA integrity_check must answer
// ok, and every record must be whole (a module of the bus, a time, a
// temperature and a humidity that are numbers). The records due are counted
// from the moment the logger said it starts polling: one per module at each
// tick of the record clock before the kill but the first (a module's first
// record falls one period after the start). A due record that is
// missing was lost in flight; it must be one of the last second before the
// kill (the record clock's last tick), never an older one. The last line is
//
//   crash: K kills, C corrupt, R records, L lost in flight
//
// and the program exits non-zero when C is not 0, when a record older than
// the last second before a kill is missing, or when the logger did not go
// on after a kill.
#include "store/LiteConnection.h"
#include "support/LoggerProcess.h"
#include "support/SimProcess.h"
#include "support/TestDatabase.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QThread>

#include <cstdio>

namespace {
constexpr int kModules = 3;
constexpr int kRecordMs = 1000;
// A kill falls this long after the logger started, at random.
constexpr int kEarliestKillMs = 5;
constexpr int kStartMs = 60;
constexpr int kLatestKillMs = 5000;
// A logger that has not started polling by then is not going on.
constexpr int kGiveUpMs = 15000;

struct Options {
    int kills = 25;
    quint32 seed = 1;
};

bool parse(const QStringList &args, Options *o) {
    for (int i = 1; i + 1 < args.size(); i += 2) {
        bool ok = false;
        if (args[i] == QLatin1String("--kills"))
            o->kills = std::max(1, args[i + 1].toInt(&ok));
        else if (args[i] == QLatin1String("--seed"))
            o->seed = args[i + 1].toUInt(&ok);
        if (!ok)
            return false;
    }
    return args.size() % 2 == 1;
}

qint64 scalar(LiteConnection &db, const QString &sql) {
    LiteStatement st = db.prepare(sql);
    return st.Step() && !st.done() ? st.integer(0) : -1;
}

// What another program finds in the file after the kill.
struct Check {
    QString integrity;
    qint64 records = 0;
    qint64 broken = 0;  // records that are not whole
};

Check check(const QString &path) {
    Check c;
    LiteConnection db;
    if (!db.Open(path)) {
        c.integrity = db.lastError();
        return c;
    }
    LiteStatement st = db.prepare(QStringLiteral("PRAGMA integrity_check"));
    c.integrity = st.Step() && !st.done() ? st.text(0) : db.lastError();
    st.Close();
    c.records = scalar(db, QStringLiteral("select count(*) from th"));
    c.broken = scalar(
        db, QStringLiteral("select count(*) from th where not (adr in (1, 2, 3) and "
                           "typeof(temp) in ('integer', 'real') and temp between -40 and 125 and "
                           "typeof(hum) in ('integer', 'real') and hum between 0 and 100 and "
                           "mydate glob '[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9] "
                           "[0-9][0-9]:[0-9][0-9]:[0-9][0-9]')"));
    return c;
}
}  // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    Options opt;
    if (!parse(app.arguments(), &opt)) {
        std::fprintf(stderr, "usage: bench_crash [--kills N] [--seed N]\n");
        return 2;
    }
    SimProcess sim(SimProcess::Serial, {QStringLiteral("--modules"), QStringLiteral("1,2,3"),
                                        QStringLiteral("--seed"), QString::number(opt.seed)});
    if (!sim.start()) {
        std::fprintf(stderr, "cannot start the simulator: %s\n", qPrintable(sim.errorString()));
        return 1;
    }
    LiteConnection setup;
    TestDatabase db(setup);
    for (int a = 1; a <= kModules; ++a) db.addModule(a);
    db.exec(QStringLiteral("update dbQx7 set scan=1"));
    setup.Close();
    LoggerProcess logger(db.dir(), {QStringLiteral("--period"), QStringLiteral("200")});
    QRandomGenerator random(opt.seed);

    std::printf("crash of %d kills: qx7logger, %d modules, 200 ms polls, 1 s records\n", opt.kills,
                kModules);
    std::printf("%5s %9s %9s %7s %7s %6s  %s\n", "kill", "after ms", "polled ms", "due", "stored",
                "lost", "integrity");
    int corrupt = 0, stalled = 0;
    qint64 lostInFlight = 0, lostEarlier = 0, records = 0;
    QElapsedTimer clock;
    clock.start();
    for (int kill = 1; kill <= opt.kills; ++kill) {
        // A third of the kills hit the start (the lock, the database, the
        // port), a third fall anywhere in a run of up to 5 s, a third just
        // after a tick of the record clock, while its records are stored.
        const int moment = int(random.bounded(3));
        const qint64 killAfterMs = moment == 0   ? random.bounded(kEarliestKillMs, kStartMs)
                                   : moment == 1 ? random.bounded(kStartMs, kLatestKillMs + 1)
                                                 : -1;
        const qint64 tickKillMs = kRecordMs * random.bounded(2, 5) + random.bounded(0, 30);
        const qsizetype from = logger.log().size();
        const qint64 before = check(db.path()).records;
        if (!logger.launch()) {
            std::fprintf(stderr, "cannot start qx7logger\n");
            return 1;
        }
        const qint64 launched = clock.elapsed();
        // The instant it starts polling (the line before the record clock
        // starts), watched until the kill.
        qint64 polling = -1;
        for (;;) {
            const qint64 now = clock.elapsed();
            if (!logger.isRunning() || now - launched > kGiveUpMs)
                break;
            if (polling < 0 && logger.log().indexOf(QStringLiteral("个模块"), from) >= 0)
                polling = now;
            if (killAfterMs >= 0 ? now - launched >= killAfterMs
                                 : polling >= 0 && now - polling >= tickKillMs)
                break;
            QThread::msleep(1);
        }
        const bool ranToTheKill = logger.isRunning();
        const qint64 killedAt = clock.elapsed();
        logger.kill();

        const Check c = check(db.path());
        const bool ok = c.integrity == QLatin1String("ok") && c.broken == 0;
        if (!ok)
            ++corrupt;
        const qint64 stored = c.records - before;
        // The record clock ticks every second from the start of the
        // polling; with a period of 1 s the first record falls on its second
        // tick.
        const qint64 ticks = polling < 0 ? 0 : (killedAt - polling) / kRecordMs;
        const qint64 due = kModules * std::max<qint64>(0, ticks - 1);
        const qint64 lost = std::max<qint64>(0, due - stored);
        // Only the last tick's records may be missing.
        lostInFlight += std::min<qint64>(lost, kModules);
        lostEarlier += std::max<qint64>(0, lost - kModules);
        // It went on: it ran until the kill, and recorded whenever a record
        // was due.
        if (!ranToTheKill || (due > kModules && stored == 0))
            ++stalled;
        records = c.records;
        std::printf("%5d %9lld %9lld %7lld %7lld %6lld  %s%s%s\n", kill,
                    (long long)(killedAt - launched),
                    polling < 0 ? -1LL : (long long)(killedAt - polling), (long long)due,
                    (long long)stored, (long long)lost, qPrintable(c.integrity),
                    c.broken ? qPrintable(QStringLiteral(", %1 broken records").arg(c.broken)) : "",
                    ranToTheKill ? "" : ", the logger had ended");
        std::fflush(stdout);
    }
    if (stalled > 0)
        std::printf("the logger did not go on after %d kills:\n%s\n", stalled,
                    qPrintable(logger.log().right(2000)));
    std::printf("lost earlier than the last second before a kill: %lld\n", (long long)lostEarlier);
    std::printf("crash: %d kills, %d corrupt, %lld records, %lld lost in flight\n", opt.kills,
                corrupt, (long long)records, (long long)lostInFlight);
    return corrupt != 0 || lostEarlier != 0 || stalled != 0 ? 1 : 0;
}
