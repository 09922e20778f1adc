// A long run of the real acquisition window, in this process, against the
// bus simulator on a pseudo-terminal with a faulty line, while the things
// that go wrong on a site go wrong: the simulator ends and comes back (an
// adapter pulled out and plugged in again), and another program holds the
// database for a few seconds. At the end every stored record is checked
// against the simulator's exchange log: it must hold the values its module
// really sent, no older than the acquisition allows.
//
//   bench_soak [--seconds N] [--drop P] [--bad-crc P] [--noise P] [--split MS] [--seed N]
//
// Defaults: 600 s, drop 0.05, bad CRC 0.02, noise 0.01, split 10 ms; three
// modules polled every 200 ms and recorded every second. The last line is
//
//   soak: S s, P polls, R records, W wrong, T stale, Z zero, G s longest gap
//   after recovery, M MB peak memory, L ms longest stall
//
// and the program exits non-zero when a record is wrong, stale or zero.
#include "acquisition/ModuleList.h"
#include "acquisition/ui/ModuleWindow.h"
#include "app/MDImain.h"
#include "app/Module1.h"
#include "bus/BusLink.h"
#include "bus/Frames.h"
#include "bus/SerialPort.h"
#include "store/RecordWriter.h"
#include "support/AppFixture.h"
#include "support/SimProcess.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimeZone>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <map>

namespace {
constexpr int kPollMs = 200;
constexpr int kOutageMs = 4000;
constexpr int kLockMs = 4000;

struct Options {
    int seconds = 600;
    QString drop = QStringLiteral("0.05");
    QString badCrc = QStringLiteral("0.02");
    QString noise = QStringLiteral("0.01");
    QString split = QStringLiteral("10");
    QString seed = QStringLiteral("7");
};

bool parse(const QStringList &args, Options *o) {
    for (int i = 1; i + 1 < args.size(); i += 2) {
        const QString &name = args[i];
        const QString &value = args[i + 1];
        if (name == QLatin1String("--seconds"))
            o->seconds = std::max(30, value.toInt());
        else if (name == QLatin1String("--drop"))
            o->drop = value;
        else if (name == QLatin1String("--bad-crc"))
            o->badCrc = value;
        else if (name == QLatin1String("--noise"))
            o->noise = value;
        else if (name == QLatin1String("--split"))
            o->split = value;
        else if (name == QLatin1String("--seed"))
            o->seed = value;
        else
            return false;
    }
    return args.size() % 2 == 1;
}

long peakMegabytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

// The simulator's log times are local clock times of today; the records'
// times are UTC + 8 hours. Both as seconds since the epoch (with ms).
double epochOfLogTime(const QString &hhmmss) {
    const QTime t = QTime::fromString(hhmmss, QStringLiteral("HH:mm:ss.zzz"));
    const QDateTime now = QDateTime::currentDateTime();
    QDateTime at(now.date(), t);
    // A run across midnight: the time nearest to now.
    if (at.secsTo(now) < -12 * 3600)
        at = at.addDays(-1);
    else if (at.secsTo(now) > 12 * 3600)
        at = at.addDays(1);
    return at.toMSecsSinceEpoch() / 1000.0;
}

double epochOfRecordTime(const QString &mydate) {
    QDateTime t = QDateTime::fromString(mydate, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    t.setTimeSpec(Qt::UTC);
    return t.addSecs(-8 * 3600).toMSecsSinceEpoch() / 1000.0;
}

// "address temperature/humidity" -> the times it was sent, from the log.
std::map<QString, QList<double>> readingsSent(const QString &log) {
    static const QRegularExpression line(QStringLiteral(
        "(\\d\\d:\\d\\d:\\d\\d\\.\\d{3}) tty [0-9A-F]{2} 04 00 00 00 02 [0-9A-F]{2} [0-9A-F]{2} "
        "-> ((?:[0-9A-F]{2} ?)+)"));
    std::map<QString, QList<double>> out;
    for (auto it = line.globalMatch(log); it.hasNext();) {
        const auto m = it.next();
        const QByteArray bytes =
            QByteArray::fromHex(m.captured(2).remove(QLatin1Char(' ')).toLatin1());
        if (bytes.size() < 9 || bytes[1] != 0x04 || bytes[2] != 0x04 || !crcMatches(bytes.left(9)))
            continue;
        const Measurement r = decodeMeasurement(bytes.left(9));
        out[QString::number(quint8(bytes[0])) + " " + r.temperatureText() + "/" + r.humidityText()]
            .append(epochOfLogTime(m.captured(1)));
    }
    return out;
}
}  // namespace

int main(int argc, char **argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qapp(argc, argv);
    Options opt;
    if (!parse(qapp.arguments(), &opt)) {
        std::fprintf(stderr,
                     "usage: bench_soak [--seconds N] [--drop P] [--bad-crc P] [--noise P] "
                     "[--split MS] [--seed N]\n");
        return 2;
    }

    SimProcess sim(
        SimProcess::Serial,
        {QStringLiteral("--modules"), QStringLiteral("1,2,3"), QStringLiteral("--drop"), opt.drop,
         QStringLiteral("--bad-crc"), opt.badCrc, QStringLiteral("--noise"), opt.noise,
         QStringLiteral("--split"), opt.split, QStringLiteral("--seed"), opt.seed});
    if (!sim.start()) {
        std::fprintf(stderr, "cannot start the simulator: %s\n", qPrintable(sim.errorString()));
        return 1;
    }
    AppFixture app(new SerialPort());
    for (int a : {1, 2, 3}) app.db().addModule(a);
    app.db().exec(QStringLiteral("update dbQx7 set scan=1"));
    app.frame()->openSavedPort();
    if (!app.bus().port()->PortOpen()) {
        std::fprintf(stderr, "cannot open the simulator's line\n");
        return 1;
    }
    app.menu("board");
    auto *w = qobject_cast<ModuleWindow *>(app.find(QStringLiteral("module")));
    w->findChild<QLineEdit *>(QStringLiteral("Text2"))->setText(QString::number(kPollMs));
    auto *acquire = w->findChild<QPushButton *>(QStringLiteral("Command3"));
    const AcquisitionCycle &cycle = app.services().acquisition().cycle();

    // The longest pause of the event loop, but for the bench's own waits.
    double longestStallMs = 0;
    QElapsedTimer beat;
    QTimer heart;
    heart.setTimerType(Qt::PreciseTimer);
    heart.setInterval(1);
    QObject::connect(&heart, &QTimer::timeout, [&] {
        if (beat.isValid())
            longestStallMs = std::max(longestStallMs, beat.nsecsElapsed() / 1e6 - 1.0);
        beat.start();
    });

    // The faults, at fixed shares of the run: two outages, two locks.
    const int total = opt.seconds * 1000;
    struct Event {
        int atMs;
        enum Kind { Outage, Lock } kind;
    };
    const QList<Event> events = {{total * 15 / 100, Event::Outage},
                                 {total * 35 / 100, Event::Lock},
                                 {total * 55 / 100, Event::Outage},
                                 {total * 75 / 100, Event::Lock}};
    double longestGapS = 0;
    QElapsedTimer sinceRecovery;
    int recordsAtRecovery = 0;
    // Another program's connection: it locks the database, and counts the
    // records meanwhile (the program's own connection would wait for it).
    LiteConnection other;
    other.Open(app.db().path());
    auto records = [&] {
        LiteStatement st = other.prepare(QStringLiteral("select count(*) from th"));
        return st.Step() && !st.done() ? int(st.integer(0)) : -1;
    };

    std::printf(
        "soak of %d s: 3 modules, %d ms polls, 1 s records; drop %s, bad CRC %s, noise "
        "%s, split %s ms\n",
        opt.seconds, kPollMs, qPrintable(opt.drop), qPrintable(opt.badCrc), qPrintable(opt.noise),
        qPrintable(opt.split));
    std::printf("%8s %8s %8s %8s %8s %8s  %s\n", "time s", "polls", "ok", "failed", "records",
                "waiting", "event");
    QElapsedTimer clock;
    clock.start();
    auto row = [&](const char *event) {
        std::printf("%8.1f %8d %8d %8d %8d %8d  %s\n", clock.elapsed() / 1000.0,
                    cycle.okCount + cycle.failCount, cycle.okCount, cycle.failCount, records(),
                    app.services().writer().waiting(), event);
        std::fflush(stdout);
    };

    QTimer script;
    script.setInterval(100);
    int next = 0;
    int lastRow = 0;
    QEventLoop loop;
    QObject::connect(&script, &QTimer::timeout, [&] {
        const int now = int(clock.elapsed());
        if (sinceRecovery.isValid() && records() > recordsAtRecovery) {
            longestGapS = std::max(longestGapS, sinceRecovery.elapsed() / 1000.0);
            sinceRecovery.invalidate();
        }
        if (next < events.size() && now >= events[next].atMs) {
            const Event e = events[next++];
            if (e.kind == Event::Outage) {
                row("simulator ends");
                sim.stop();
                QTimer::singleShot(kOutageMs, [&] {
                    if (!sim.start())
                        std::fprintf(stderr, "the simulator did not come back\n");
                    beat.invalidate();
                    recordsAtRecovery = records();
                    sinceRecovery.start();
                    row("simulator back");
                });
                beat.invalidate();
            } else {
                row("database locked");
                other.Execute(QStringLiteral("BEGIN EXCLUSIVE"));
                QTimer::singleShot(kLockMs, [&] {
                    other.Execute(QStringLiteral("ROLLBACK"));
                    row("database free");
                });
            }
        }
        if (now - lastRow >= total / 10) {
            lastRow = now;
            row("");
        }
        if (now >= total)
            loop.quit();
    });

    heart.start();
    acquire->click();
    script.start();
    loop.exec();
    acquire->click();
    heart.stop();
    script.stop();
    app.services().writer().flush(10000);
    row("end");

    // Every record against what its module sent.
    const auto sent = readingsSent(sim.log());
    const qint64 maxAgeMs = AcquisitionCycle::maxRecordAgeMs(*w->modules(), kPollMs);
    int wrong = 0, stale = 0, zero = 0;
    const QList<QVariantList> rows =
        app.db().rows(QStringLiteral("select adr, temp, hum, mydate from th order by id"));
    for (const QVariantList &r : rows) {
        const QString key = r[0].toString() + " " + QString::number(r[1].toDouble()) + "/" +
                            QString::number(r[2].toDouble());
        if (r[1].toDouble() == 0 && r[2].toDouble() == 0)
            ++zero;
        const auto it = sent.find(key);
        if (it == sent.end()) {
            ++wrong;
            std::printf("wrong: %s at %s\n", qPrintable(key), qPrintable(r[3].toString()));
            continue;
        }
        // Record times have whole seconds: a second of slack either way.
        const double at = epochOfRecordTime(r[3].toString());
        const bool fresh = std::any_of(it->second.begin(), it->second.end(), [&](double t) {
            return t <= at + 1.0 && at - t <= maxAgeMs / 1000.0 + 1.0;
        });
        if (!fresh) {
            ++stale;
            std::printf("stale: %s at %s\n", qPrintable(key), qPrintable(r[3].toString()));
        }
    }
    std::printf(
        "soak: %d s, %d polls, %lld records, %d wrong, %d stale, %d zero, %.1f s longest gap "
        "after recovery, %ld MB peak memory, %.0f ms longest stall\n",
        opt.seconds, cycle.okCount + cycle.failCount, qlonglong(rows.size()), wrong, stale, zero,
        longestGapS, peakMegabytes(), longestStallMs);
    return wrong || stale || zero ? 1 : 0;
}
