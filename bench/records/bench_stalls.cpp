// How long the record windows keep their thread from answering, on data that
// is large or hostile.
//
//   bench_stalls [--records N] [chart] [alarmlog] [maintenance]
//
// Each line names what was done, the longest time the window's thread did not
// answer (the longest gap between the ticks of a 5 ms timer, the action itself
// included) and how long the work took in all:
//   chart: opening the chart over N records (default 1,000,000) with clean
//          values, every tenth value NULL, every tenth ±1e308, every tenth Inf
//   maintenance: 数据库备份 of th with 2,000,000 records, then 删除 of the first
//          250,000 of them; and for comparison the same work done at once on
//          the calling thread (a plain copy of the file, the statement)
//   alarm log: opening 报警记录 over N alarm rows (the last 92 days, a row every
//          8 s), then 今日, then 导出CSV of every row, then 今日; with the peak memory
#include "BenchQuiet.h"

#include "alarms/ui/AlarmLogWindow.h"
#include "notify/NotifyStatements.h"
#include "records/BackgroundPass.h"
#include "records/ui/DbaseWindow.h"
#include "records/ui/GraphWindow.h"
#include "store/LiteConnection.h"
#include "store/Schema.h"
#include "widgets/MessageBoxes.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>

#include <cstdio>
#include <functional>

namespace {

// The boxes the windows show at the end of their work, answered at once.
class Answering : public MessageBoxes {
public:
    MsgAnswer show(QWidget *, const MsgRequest &r) override {
        said = r.text;
        return r.buttons == MsgButtons::Ok ? MsgAnswer::Ok : MsgAnswer::Yes;
    }
    QString said;
};
Answering answering;

long peakMegabytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

// The longest gap between the ticks of a timer on the window's thread.
class StallWatch {
public:
    StallWatch() {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, [this] { tick(); });
    }
    // Runs `action`, then the event loop until `done` holds; returns the
    // longest stall in ms and the whole time in s.
    std::pair<double, double> measure(const std::function<void()> &action,
                                      const std::function<bool()> &done) {
        QElapsedTimer all;
        all.start();
        worst_ = 0;
        clock_.start();
        last_ = 0;
        timer_.start();
        QCoreApplication::processEvents();
        tick();
        action();
        while (!done()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
        tick();
        timer_.stop();
        return {double(worst_) / 1e6, double(all.nsecsElapsed()) / 1e9};
    }

private:
    void tick() {
        const qint64 now = clock_.nsecsElapsed();
        worst_ = std::max(worst_, now - last_);
        last_ = now;
    }
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 last_ = 0;
    qint64 worst_ = 0;
};

void report(const char *what, std::pair<double, double> figures, const QString &note = {}) {
    std::printf("%s: longest stall %.0f ms, %.2f s in all%s%s\n", what, figures.first,
                figures.second, note.isEmpty() ? "" : "  ", qPrintable(note));
    std::fflush(stdout);
}

bool exec(LiteConnection &conn, const QString &sql) {
    if (conn.Execute(sql))
        return true;
    std::fprintf(stderr, "%s: %s\n", qPrintable(sql.left(80)), qPrintable(conn.lastError()));
    return false;
}

// th with `rows` records, four modules in turn, one a second; every tenth
// value of both curves replaced by `odd` (an SQL expression of i), if any.
bool fillRecords(LiteConnection &conn, qint64 rows, const QString &odd) {
    const QString temp = odd.isEmpty() ? QStringLiteral("20 + (i % 100) / 10.0")
                                       : QStringLiteral(
                                             "case when i % 10 = 9 then %1 else 20 + "
                                             "(i % 100) / 10.0 end")
                                             .arg(odd);
    return exec(conn, QStringLiteral("delete from th")) &&
           exec(conn, QStringLiteral("with recursive n(i) as (select 0 union all select i + 1 "
                                     "from n where i < %1) insert into th (adr, mydate, temp, hum) "
                                     "select 1 + i % 4, datetime(1704067200 + i, 'unixepoch'), "
                                     "%2, 100 - (%2) from n")
                          .arg(rows - 1)
                          .arg(temp));
}

void chartStalls(LiteConnection &conn, qint64 rows) {
    const std::pair<const char *, QString> kinds[] = {
        {"chart, clean values", QString()},
        {"chart, every tenth value NULL", QStringLiteral("null")},
        {"chart, every tenth value ±1e308",
         QStringLiteral("case when i % 20 = 9 then 1e308 else -1e308 end")},
        {"chart, every tenth value Inf", QStringLiteral("9e999")},
    };
    QString query = QStringLiteral("select * from th where id<>0");
    for (const auto &[what, odd] : kinds) {
        if (!fillRecords(conn, rows, odd))
            return;
        QPointer<GraphWindow> graph;
        const auto figures = StallWatch().measure(
            [&] {
                graph = new GraphWindow(&conn, &query);
                graph->resize(1900, 1000);
                graph->show();
            },
            [&] { return !graph->isBusy(); });
        report(what, figures,
               QStringLiteral("(%1 records, %2 + %3 segments)")
                   .arg(graph->plotCount())
                   .arg(graph->data().temp.segmentCount())
                   .arg(graph->data().hum.segmentCount()));
        delete graph;
    }
}

void maintenanceStalls(LiteConnection &conn, const QString &dir) {
    if (!fillRecords(conn, 2000000, QString()))
        return;
    const QString path = conn.path();
    QDir(dir).mkdir(QStringLiteral("backup"));
    QPointer<DbaseWindow> w = new DbaseWindow(nullptr, path, Clock::system());
    w->show();
    const auto backup = StallWatch().measure(
        [&] { w->findChild<QPushButton *>(QStringLiteral("Command1"))->click(); },
        [&] { return !w->isBusy(); });
    report("maintenance, 数据库备份", backup,
           QStringLiteral("(%1 MB) %2").arg(QFileInfo(path).size() >> 20).arg(answering.said));
    w->findChild<QLineEdit *>(QStringLiteral("Text1"))
        ->setText(QStringLiteral("2024-01-03 21:26:40"));
    w->findChild<QCheckBox *>(QStringLiteral("Check1"))->click();
    const auto deletion = StallWatch().measure(
        [&] { w->findChild<QPushButton *>(QStringLiteral("Command3"))->click(); },
        [&] { return w.isNull(); });
    LiteStatement left = conn.prepare(QStringLiteral("select count(*) from th"));
    left.Step();
    report("maintenance, 删除 250000 of 2000000 records", deletion,
           QStringLiteral("(%1 left)").arg(left.integer(0)));

    // The same work at once, as the window did it on its own thread before.
    const QString copy = QDir(dir).filePath(QStringLiteral("plain.db"));
    QElapsedTimer t;
    t.start();
    QFile::copy(path, copy);
    const double copied = t.nsecsElapsed() / 1e9;
    LiteConnection plain;
    plain.Open(copy);
    t.restart();
    plain.Execute(
        QStringLiteral("delete from th where adr<>0 AND datetime(mydate) < '2024-01-06 "
                       "18:53:20'"));
    std::printf("maintenance at once: copy of the file %.2f s, deletion of 250000 records %.2f s\n",
                copied, t.nsecsElapsed() / 1e9);
}

void alarmLogStalls(LiteConnection &conn, qint64 rows, const QString &dir) {
    const QString kinds =
        QStringLiteral("'温度过高', '温度过低', '湿度过高', '湿度过低', '无应答'");
    if (!exec(conn, schema::createAlarmLogTable()) ||
        !exec(conn,
              QStringLiteral(
                  "with recursive n(i) as (select 0 union all select i + 1 from n where i < "
                  "%1) insert into alarmlog (adr, mydate, kind, value, state) select 1 + i %% "
                  "7, datetime('now', '+8 hour', '-' || ((%1 - i) * 8) || ' seconds'), "
                  "json_extract(json_array(%2), '$[' || (i / 2 %% 5) || ']'), case when i / "
                  "2 %% 5 = 4 then null else 20 + i %% 300 / 10.0 end, case when i %% 2 "
                  "then '结束' else '开始' end from n")
                  .arg(rows - 1)
                  .arg(kinds)
                  .replace(QStringLiteral("%%"), QStringLiteral("%"))) ||
        // The notifier's own tables and indexes, two channels' rows per alarm.
        !exec(conn, notify::createTables().join(QStringLiteral("; "))) ||
        !exec(conn, QStringLiteral(
                        "insert into notifylog (alarm, channel, state) select id, c, case when "
                        "id % 97 = 0 and c = 2 then '失败' else '已发送' end from alarmlog, "
                        "(select 1 as c union all select 2)")))
        return;
    QPointer<AlarmLogWindow> w;
    const auto opening = StallWatch().measure(
        [&] {
            w = new AlarmLogWindow(&conn, Clock::system());
            w->show();
        },
        [&] { return !w->isBusy(); });
    report("alarm log, opening", opening, QStringLiteral("(%1 rows)").arg(rows));
    QElapsedTimer t;
    t.start();
    int pages = 0;
    for (qint64 row = 97 * 300; row < rows; row += rows / 20, ++pages) w->model()->cell(row, 5);
    std::printf("alarm log, a page read with its notifications: %.1f ms (%s)\n",
                t.nsecsElapsed() / 1e6 / pages, qPrintable(w->model()->cell(96, 5)));
    const auto csv = StallWatch().measure(
        [&] { w->exportCsv(QDir(dir).filePath(QStringLiteral("alarms.csv"))); },
        [&] { return !w->isBusy(); });
    report("alarm log, 导出CSV", csv, answering.said);
    const auto today =
        StallWatch().measure([&] { w->findChild<QPushButton *>(QStringLiteral("today"))->click(); },
                             [&] { return !w->isBusy(); });
    report("alarm log, 今日", today, QStringLiteral("(%1 rows)").arg(w->model()->totalRows()));
    delete w;
}

}  // namespace

int main(int argc, char **argv) {
    quietOffscreen();
    QApplication app(argc, argv);
    installMessageBoxes(&answering);
    qint64 records = 1000000;
    QStringList parts;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--records") && i + 1 < args.size())
            records = args[++i].toLongLong();
        else if (QStringList{"chart", "alarmlog", "maintenance"}.contains(args[i]))
            parts << args[i];
        else {
            std::fprintf(stderr,
                         "usage: bench_stalls [--records N] [chart] [alarmlog] "
                         "[maintenance]\n");
            return 2;
        }
    }
    if (parts.isEmpty())
        parts = {"chart", "alarmlog", "maintenance"};
    QTemporaryDir dir;
    const QString path = QDir(dir.path()).filePath(QStringLiteral("mydb.db"));
    LiteConnection conn;
    QString error;
    if (!conn.Open(path) || !schema::ensure(conn, &error)) {
        std::fprintf(stderr, "cannot create %s\n", qPrintable(path));
        return 1;
    }
    if (parts.contains("chart"))
        chartStalls(conn, records);
    if (parts.contains("maintenance"))
        maintenanceStalls(conn, dir.path());
    if (parts.contains("alarmlog"))
        alarmLogStalls(conn, records, dir.path());
    std::printf("peak memory: %ld MB\n", peakMegabytes());
    return 0;
}
