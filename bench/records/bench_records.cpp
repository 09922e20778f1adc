// How the record list, its statistics and the chart cope with a large th.
//
//   bench_records [--records N] [--db PATH]
//
//   --records N   builds th with N records (default 1,000,000) in a temporary
//                 file, four modules in turn, one record a second
//   --db PATH     uses an existing database file instead, opened read only
//
// and prints, one per line (each time the best of five runs):
//   floor: the bare C-API scan of the list's SELECT (prepare, step through
//          every row, nothing kept)
//   stepped slices: the list's statistics read as the scan reads them (slices
//          of 65536 ids) but stepping out of SQLite for each row and reading
//          its columns, instead of the scan's SQL function
//   list first screen: from the window's load until the first screen of the
//          list is drawn
//   statistics: from a refresh (更新) until the list and its statistics are
//          complete
//   chart: from a redraw (重绘) until the curves are drawn
//   peak memory: of the process with both windows open, after all of it
#include "BenchQuiet.h"

#include "records/BackgroundPass.h"
#include "records/ChartData.h"
#include "records/RecordModel.h"
#include "records/ui/AnaQx7.h"
#include "records/ui/GraphWindow.h"
#include "records/ui/RecordListView.h"
#include "store/LiteConnection.h"
#include "store/Schema.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <sqlite3.h>
#include <sys/resource.h>

#include <cmath>
#include <cstdio>

namespace {

const QString kQuery = QStringLiteral("select * from th where id<>0");
// Every time is the best of this many runs: the machine is shared.
constexpr int kRuns = 5;

long peakMegabytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

bool buildDatabase(const QString &path, qint64 rows) {
    {
        LiteConnection conn;
        QString error;
        if (!conn.Open(path) || !schema::ensure(conn, &error)) {
            std::fprintf(stderr, "cannot create %s: %s\n", qPrintable(path),
                         qPrintable(error + conn.lastError()));
            return false;
        }
    }
    // Filled through SQLite itself, with bound values: millions of rows.
    sqlite3 *db = nullptr;
    if (sqlite3_open(path.toUtf8().constData(), &db) != SQLITE_OK)
        return false;
    const auto closing = qScopeGuard([db] { sqlite3_close(db); });
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt *st = nullptr;
    sqlite3_prepare_v2(db, "insert into th ('adr','mydate','temp','hum') values (?,?,?,?)", -1, &st,
                       nullptr);
    // Four modules read in turn, one record a second, slow waves with noise.
    const QDateTime start(QDate(2024, 1, 1), QTime(0, 0), Qt::UTC);
    char when[32];
    for (qint64 i = 0; i < rows; ++i) {
        const QDateTime at = start.addSecs(i);
        const QDate d = at.date();
        const QTime c = at.time();
        std::snprintf(when, sizeof when, "%04d-%02d-%02d %02d:%02d:%02d", d.year(), d.month(),
                      d.day(), c.hour(), c.minute(), c.second());
        const double temp =
            std::round((22 + 8 * std::sin(i / 7000.0) + (i * 7919 % 13 - 6) * 0.1) * 10) / 10;
        const double hum =
            std::round((55 + 20 * std::sin(i / 11000.0) + (i * 104729 % 17 - 8) * 0.1) * 10) / 10;
        sqlite3_bind_int(st, 1, int(1 + i % 4));
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

sqlite3 *openReadOnly(const QString &path) {
    sqlite3 *db = nullptr;
    sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX,
                    nullptr);
    return db;
}

// Prepare, step through every row, finalize: what any reader of the query
// pays at the least.
double floorOnce(const QString &path, qint64 *rows) {
    sqlite3 *db = openReadOnly(path);
    QElapsedTimer timer;
    timer.start();
    sqlite3_stmt *st = nullptr;
    sqlite3_prepare_v2(db, kQuery.toUtf8().constData(), -1, &st, nullptr);
    qint64 n = 0;
    while (sqlite3_step(st) == SQLITE_ROW) ++n;
    sqlite3_finalize(st);
    const double seconds = timer.nsecsElapsed() / 1e9;
    sqlite3_close(db);
    *rows = n;
    return seconds;
}

// The statistics' reading without the scan's SQL function: each slice a
// statement stepped row by row, temp and hum read per row.
double steppedSlicesOnce(const QString &path) {
    sqlite3 *db = openReadOnly(path);
    QElapsedTimer timer;
    timer.start();
    sqlite3_stmt *st = nullptr;
    sqlite3_prepare_v2(db, "select max(id) from th", -1, &st, nullptr);
    sqlite3_step(st);
    const qint64 lastId = sqlite3_column_int64(st, 0);
    sqlite3_finalize(st);
    const QByteArray sql = "select \"id\", \"temp\", \"hum\" from (" + kQuery.toUtf8() +
                           ") where \"id\" >= ?1 and \"id\" <= ?2";
    sqlite3_prepare_v2(db, sql.constData(), -1, &st, nullptr);
    qint64 n = 0;
    double sum = 0;
    for (qint64 first = 1; first <= lastId; first += 65536) {
        sqlite3_bind_int64(st, 1, first);
        sqlite3_bind_int64(st, 2, first + 65535);
        while (sqlite3_step(st) == SQLITE_ROW) {
            for (int c = 1; c <= 2; ++c) {
                if (sqlite3_column_type(st, c) == SQLITE_FLOAT)
                    sum += sqlite3_column_double(st, c);
            }
            ++n;
        }
        sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    const double seconds = timer.nsecsElapsed() / 1e9;
    sqlite3_close(db);
    return n > 0 && sum != 0 ? seconds : 0;
}

// Waits without spinning until the window's pass has ended.
template <class W>
void settle(W *w) {
    while (w->isBusy()) {
        QEventLoop loop;
        QObject::connect(w->pass(), &BackgroundPass::runningChanged, &loop, [&loop](bool running) {
            if (!running)
                loop.quit();
        });
        loop.exec();
    }
    QCoreApplication::processEvents();
}

// What the program would hand the windows: the connection and the query text.
LiteConnection benchDb;
QString benchQuery;

// From the window's load until the first screen of rows is drawn.
double firstScreen() {
    QElapsedTimer timer;
    timer.start();
    auto *w = new AnaQx7(&benchDb, &benchQuery, Clock::system());
    w->show();
    RecordListView *view = w->listView();
    while (w->model()->rowCount() < view->recordsOnScreen() && w->isBusy()) {
        QEventLoop loop;
        QObject::connect(w->model(), &RecordModel::totalChanged, &loop, &QEventLoop::quit);
        QObject::connect(w->pass(), &BackgroundPass::runningChanged, &loop, &QEventLoop::quit);
        loop.exec();
    }
    view->viewport()->repaint();
    const double seconds = timer.nsecsElapsed() / 1e9;
    QPointer<AnaQx7> gone(w);
    w->close();  // deletes it
    while (gone) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    return seconds;
}

int run(const QString &path) {
    qint64 rows = 0;
    floorOnce(path, &rows);  // also brings the file into the cache
    std::printf("records: %lld (%lld MB file)\n", rows, QFileInfo(path).size() >> 20);
    std::fflush(stdout);

    if (!benchDb.OpenReadOnly(path)) {
        std::fprintf(stderr, "cannot open %s\n", qPrintable(path));
        return 1;
    }
    double screen = 1e9;
    for (int i = 0; i < kRuns; ++i) screen = std::min(screen, firstScreen());

    auto *list = new AnaQx7(&benchDb, &benchQuery, Clock::system());
    list->show();
    settle(list);
    auto *graph = new GraphWindow(&benchDb, &benchQuery);
    graph->show();
    settle(graph);
    auto *refresh = list->findChild<QPushButton *>(QStringLiteral("Command1"));
    auto *redraw = graph->findChild<QPushButton *>(QStringLiteral("Command3"));
    // The floor and the two passes in turn, so that a busy spell of the
    // machine weighs on all three alike.
    double floor = 1e9, stepped = 1e9, statistics = 1e9, chart = 1e9;
    for (int i = 0; i < kRuns; ++i) {
        floor = std::min(floor, floorOnce(path, &rows));
        stepped = std::min(stepped, steppedSlicesOnce(path));
        QElapsedTimer timer;
        timer.start();
        refresh->click();  // 更新
        settle(list);
        statistics = std::min(statistics, timer.nsecsElapsed() / 1e9);
        timer.restart();
        redraw->click();  // 重绘
        settle(graph);
        chart = std::min(chart, timer.nsecsElapsed() / 1e9);
    }
    std::printf("floor: %.3f\n", floor);
    std::printf("stepped slices: %.3f\n", stepped);
    std::printf("list first screen: %.3f\n", screen);
    std::printf("statistics: %.3f  (%s)\n", statistics,
                qPrintable(list->findChild<QLabel *>(QStringLiteral("Label3"))->text()));
    std::printf("chart: %.3f  (%lld records, plot %dx%d, %lld + %lld segments drawn)\n", chart,
                qint64(graph->plotCount()), graph->picture()->image().width(),
                graph->picture()->image().height(), qint64(graph->data().temp.segmentCount()),
                qint64(graph->data().hum.segmentCount()));
    std::printf("peak memory: %ld\n", peakMegabytes());
    std::printf(
        "ratios: statistics %.2f x floor, chart %.2f x floor, stepped slices %.2f x floor\n",
        statistics / floor, chart / floor, stepped / floor);
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    quietOffscreen();
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    qint64 records = 1000000;
    QString db;
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--records") && i + 1 < args.size()) {
            records = args[++i].toLongLong();
        } else if (args[i] == QLatin1String("--db") && i + 1 < args.size()) {
            db = args[++i];
        } else {
            std::fprintf(stderr, "usage: bench_records [--records N] [--db PATH]\n");
            return 2;
        }
    }
    if (!db.isEmpty()) {
        if (!QFileInfo(db).isFile()) {
            std::fprintf(stderr, "no database file %s\n", qPrintable(db));
            return 1;
        }
        return run(db);
    }
    QTemporaryDir dir;
    const QString path = QDir(dir.path()).filePath(QStringLiteral("mydb.db"));
    QElapsedTimer timer;
    timer.start();
    if (!buildDatabase(path, records))
        return 1;
    std::printf("th with %lld records built in %.1f s\n", records, timer.nsecsElapsed() / 1e9);
    return run(path);
}
