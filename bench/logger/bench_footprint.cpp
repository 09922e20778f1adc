// What the logger costs the machine it runs on for months: qx7logger polls
// the bus simulator's three modules every 200 ms and records each every
// second; at the end of the run its CPU time (user and system, from its
// start) is set against the run's length, and its peak resident memory is
// read, both from /proc.
//
//   bench_footprint [--seconds N]
//
// Default 120 s. The last line is
//
//   footprint: S s, 3 modules at 200 ms, C % of a core, M MB peak memory, R records
//
// Targets: under 1 % of a core and under 40 MB.
#include "store/LiteConnection.h"
#include "support/LoggerProcess.h"
#include "support/SimProcess.h"
#include "support/TestDatabase.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <unistd.h>

#include <cstdio>

namespace {
// The process's user and system time so far, in seconds.
double cpuSeconds(qint64 pid) {
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray stat = f.readAll();
    // The fields after the command name (which may hold blanks) in brackets.
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    return (fields[11].toDouble() + fields[12].toDouble()) / double(sysconf(_SC_CLK_TCK));
}

// The peak resident memory (VmHWM) in MB.
double peakMegabytes(qint64 pid) {
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return -1;
}
}  // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    int seconds = 120;
    if (args.size() == 3 && args[1] == QLatin1String("--seconds"))
        seconds = std::max(10, args[2].toInt());
    else if (args.size() != 1) {
        std::fprintf(stderr, "usage: bench_footprint [--seconds N]\n");
        return 2;
    }
    SimProcess sim(SimProcess::Serial, {QStringLiteral("--modules"), QStringLiteral("1,2,3")});
    if (!sim.start()) {
        std::fprintf(stderr, "cannot start the simulator: %s\n", qPrintable(sim.errorString()));
        return 1;
    }
    LiteConnection conn;
    TestDatabase db(conn);
    for (int a = 1; a <= 3; ++a) db.addModule(a);
    db.exec(QStringLiteral("update dbQx7 set scan=1"));
    LoggerProcess logger(db.dir(), {QStringLiteral("--period"), QStringLiteral("200")});
    QElapsedTimer clock;
    clock.start();
    if (!logger.launch()) {
        std::fprintf(stderr, "cannot start qx7logger\n");
        return 1;
    }
    const qint64 pid = logger.pid();
    std::printf("footprint of qx7logger over %d s: 3 modules, 200 ms polls, 1 s records\n",
                seconds);
    std::printf("%8s %8s %8s %8s\n", "time s", "CPU s", "peak MB", "records");
    double cpu = 0, peak = 0;
    auto row = [&] {
        cpu = cpuSeconds(pid);
        peak = peakMegabytes(pid);
        std::printf("%8.1f %8.2f %8.1f %8d\n", clock.elapsed() / 1000.0, cpu, peak,
                    db.scalar(QStringLiteral("select count(*) from th")).toInt());
        std::fflush(stdout);
    };
    while (clock.elapsed() < seconds * 1000LL && logger.isRunning()) {
        QThread::msleep(qMin<qint64>(seconds * 1000LL / 10, seconds * 1000LL - clock.elapsed()));
        if (logger.isRunning())
            row();
    }
    const double elapsed = clock.elapsed() / 1000.0;
    if (!logger.isRunning()) {
        std::fprintf(stderr, "qx7logger ended:\n%s\n", qPrintable(logger.log()));
        return 1;
    }
    logger.stop();
    const int records = db.scalar(QStringLiteral("select count(*) from th")).toInt();
    std::printf(
        "footprint: %.0f s, 3 modules at 200 ms, %.2f %% of a core, %.1f MB peak memory, %d "
        "records\n",
        elapsed, 100.0 * cpu / elapsed, peak, records);
    return 0;
}
