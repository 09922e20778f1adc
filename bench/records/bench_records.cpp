// How the record list and the chart cope with a large th.
//
//   bench_records [rows]      builds th with `rows` records (default 1,000,000)
//                             in a temporary file and prints
//     - the time of the sqlite3 shell running the list's SELECT to /dev/null
//       (the floor: the database alone, nothing kept),
//     - one LoadGrid1 of the record window with its statistics,
//     - one Drawxy of the chart,
//     - the peak memory of each, every part in a process of its own, and of
//       both windows open in one process.
#include "app/Module1.h"
#include "records/ChartData.h"
#include "records/RecordModel.h"
#include "records/ui/AnaQx7.h"
#include "records/ui/GraphWindow.h"
#include "store/LiteConnection.h"
#include "store/Schema.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <sqlite3.h>
#include <sys/resource.h>

#include <cmath>
#include <cstdio>

namespace {

const QString kQuery = QStringLiteral("select * from th where id<>0");

long peakMegabytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

bool buildDatabase(const QString &path, int rows) {
    LiteConnection conn;
    QString error;
    if (!conn.Open(path) || !schema::ensure(conn, &error)) {
        std::fprintf(stderr, "cannot create %s: %s\n", qPrintable(path),
                     qPrintable(error + conn.lastError()));
        return false;
    }
    sqlite3 *db = conn.handle();
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt *st = nullptr;
    sqlite3_prepare_v2(db, "insert into th ('adr','mydate','temp','hum') values (?,?,?,?)", -1, &st,
                       nullptr);
    // Four modules read in turn, one record a second, slow waves with noise.
    QDateTime t(QDate(2024, 1, 1), QTime(0, 0), Qt::UTC);
    char when[32];
    for (int i = 0; i < rows; ++i) {
        const QDateTime at = t.addSecs(i);
        const QDate d = at.date();
        const QTime c = at.time();
        std::snprintf(when, sizeof when, "%04d-%02d-%02d %02d:%02d:%02d", d.year(), d.month(),
                      d.day(), c.hour(), c.minute(), c.second());
        const double temp =
            std::round((22 + 8 * std::sin(i / 7000.0) + (i * 7919 % 13 - 6) * 0.1) * 10) / 10;
        const double hum =
            std::round((55 + 20 * std::sin(i / 11000.0) + (i * 104729 % 17 - 8) * 0.1) * 10) / 10;
        sqlite3_bind_int(st, 1, 1 + i % 4);
        sqlite3_bind_text(st, 2, when, -1, SQLITE_TRANSIENT);
        sqlite3_bind_double(st, 3, temp);
        sqlite3_bind_double(st, 4, hum);
        if (sqlite3_step(st) != SQLITE_DONE) {
            std::fprintf(stderr, "insert failed: %s\n", sqlite3_errmsg(db));
            return false;
        }
        sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    return sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
}

// The sqlite3 shell reading the whole result to /dev/null; the best of three.
double floorSeconds(const QString &path) {
    const QString shell = QStandardPaths::findExecutable(QStringLiteral("sqlite3"));
    if (shell.isEmpty())
        return -1;
    double best = 1e9;
    for (int run = 0; run < 3; ++run) {
        QProcess p;
        p.setStandardOutputFile(QProcess::nullDevice());
        QElapsedTimer timer;
        timer.start();
        p.start(shell, {path, kQuery});
        p.waitForFinished(-1);
        best = std::min(best, timer.nsecsElapsed() / 1e9);
    }
    return best;
}

bool openDatabase(const QString &path) {
    Module1::setDatabasePath(path);
    if (!Module1::dbconn().Open(path)) {
        std::fprintf(stderr, "cannot open %s\n", qPrintable(path));
        return false;
    }
    return true;
}

int runList(const QString &path) {
    if (!openDatabase(path))
        return 1;
    QElapsedTimer timer;
    timer.start();
    auto *w = new AnaQx7();  // its load runs LoadGrid1
    const double first = timer.nsecsElapsed() / 1e9;
    w->show();
    QApplication::processEvents();
    timer.restart();
    w->LoadGrid1();
    const double second = timer.nsecsElapsed() / 1e9;
    std::printf("  LoadGrid1 (window load):  %6.3f s  (%lld rows, %lld MB of rows)\n", first,
                qint64(w->model()->rowCount()), qint64(w->model()->table().bytesUsed() >> 20));
    std::printf("  LoadGrid1 (again):        %6.3f s\n", second);
    std::printf("  peak memory:              %6ld MB\n", peakMegabytes());
    return 0;
}

int runChart(const QString &path) {
    if (!openDatabase(path))
        return 1;
    Module1::thsql() = kQuery;
    QElapsedTimer timer;
    timer.start();
    QString error;
    const qint64 counted = countRows(Module1::dbconn(), kQuery, &error);
    std::printf("  count pass alone:         %6.3f s  (%lld)\n", timer.nsecsElapsed() / 1e9,
                counted);
    timer.restart();
    const ChartData data = loadChart(Module1::dbconn(), kQuery, 1000);
    std::printf("  count and data pass:      %6.3f s\n", timer.nsecsElapsed() / 1e9);
    timer.restart();
    auto *g = new GraphWindow();  // its load runs Drawxy
    const double first = timer.nsecsElapsed() / 1e9;
    g->show();
    QApplication::processEvents();
    timer.restart();
    g->Drawxy();
    const double second = timer.nsecsElapsed() / 1e9;
    std::printf(
        "  Drawxy (window load):     %6.3f s  (%lld records, plot %dx%d, %lld + %lld segments "
        "drawn)\n",
        first, qint64(g->plotCount()), g->picture()->image().width(),
        g->picture()->image().height(), qint64(g->data().temp.segmentCount()),
        qint64(g->data().hum.segmentCount()));
    std::printf("  Drawxy (again):           %6.3f s\n", second);
    std::printf("  peak memory:              %6ld MB\n", peakMegabytes());
    return 0;
}

int runBoth(const QString &path) {
    if (!openDatabase(path))
        return 1;
    auto *w = new AnaQx7();
    w->show();
    auto *g = new GraphWindow();
    g->show();
    QApplication::processEvents();
    std::printf("  peak memory, list and chart open: %ld MB\n", peakMegabytes());
    return 0;
}

int child(const QString &mode, const QString &path) {
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedChannels);
    p.start(QCoreApplication::applicationFilePath(), {mode, path});
    p.waitForFinished(-1);
    return p.exitCode();
}

}  // namespace

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 3 && args[1] == QLatin1String("--list"))
        return runList(args[2]);
    if (args.size() == 3 && args[1] == QLatin1String("--chart"))
        return runChart(args[2]);
    if (args.size() == 3 && args[1] == QLatin1String("--both"))
        return runBoth(args[2]);

    const int rows = args.size() > 1 ? args[1].toInt() : 1000000;
    QTemporaryDir dir;
    const QString path = QDir(dir.path()).filePath(QStringLiteral("mydb.db"));
    QElapsedTimer timer;
    timer.start();
    if (!buildDatabase(path, rows))
        return 1;
    std::printf("th with %d records built in %.1f s (%lld MB file)\n", rows,
                timer.nsecsElapsed() / 1e9, QFileInfo(path).size() >> 20);

    const double floor = floorSeconds(path);
    if (floor < 0)
        std::printf("floor: no sqlite3 shell found\n");
    else
        std::printf("floor: sqlite3 shell, %s > /dev/null: %.3f s (best of 3)\n",
                    qPrintable(kQuery), floor);

    std::printf("record list (own process):\n");
    std::fflush(stdout);
    int rc = child(QStringLiteral("--list"), path);
    std::printf("chart (own process):\n");
    std::fflush(stdout);
    rc |= child(QStringLiteral("--chart"), path);
    std::fflush(stdout);
    rc |= child(QStringLiteral("--both"), path);
    std::printf(
        "targets: LoadGrid1 within 2x the floor (%.3f s) and under 1.5 s, Drawxy under 1 s, "
        "peak memory under 300 MB\n",
        2 * floor);
    return rc;
}
