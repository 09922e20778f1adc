// The smallest poll period (Text2) at which the acquisition window takes
// every reading, each from the right module, end to end: the program's serial
// port on the simulator's pseudo-terminal at 9600 bit/s, three modules.
//
// For each period, from slow to fast, the window polls until it has sent
// kPolls requests. A period passes when no poll failed and every reading that
// reached a row is one that the module of that row sent (the simulator's log
// says what went over the line). The search stops at the first period that
// fails; the figure is the last one that passed.
//
// Usage: bench_pollperiod [polls per period]
#include "acquisition/ModuleList.h"
#include "acquisition/ui/ModuleWindow.h"
#include "app/MDImain.h"
#include "app/Module1.h"
#include "bus/BusLink.h"
#include "bus/FrameAssembler.h"
#include "bus/Frames.h"
#include "bus/SerialPort.h"
#include "support/AppFixture.h"
#include "support/SimProcess.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QTimer>

#include <algorithm>

#include <cstdio>

namespace {
// address -> the "temperature/humidity" texts of every reply it sent.
QHash<int, QSet<QString>> sentReadings(const QString &log) {
    static const QRegularExpression line(QStringLiteral(
        "tty ([0-9A-F]{2}) 04 00 00 00 02 [0-9A-F ]{5} -> ((?:[0-9A-F]{2} ){8}[0-9A-F]{2})"));
    QHash<int, QSet<QString>> out;
    for (auto it = line.globalMatch(log); it.hasNext();) {
        const auto m = it.next();
        const QByteArray bytes =
            QByteArray::fromHex(m.captured(2).remove(QLatin1Char(' ')).toLatin1());
        const Measurement r = decodeMeasurement(bytes);
        out[m.captured(1).toInt(nullptr, 16)].insert(r.temperatureText() + "/" + r.humidityText());
    }
    return out;
}

struct Result {
    int requests = 0;
    int ok = 0;
    int failed = 0;
    int wrong = 0;  // readings in a row that its module never sent
    double msPerPoll = 0;
    // From the poll tick to the reply handed to the window, in ms.
    double medianReplyMs = 0;
    double slowestReplyMs = 0;
    // The longest time the program's event loop was held up (anything above a
    // few ms delays a poll tick or a reply by as much).
    double longestStallMs = 0;
    bool passed() const { return requests > 0 && failed == 0 && wrong == 0 && ok >= requests - 1; }
};

Result run(AppFixture &app, SimProcess &sim, int periodMs, int polls) {
    Result result;
    app.services().acquisition().cycle() = AcquisitionCycle();  // counters from 0
    app.menu("board");                                          // a fresh window each time
    auto *w = qobject_cast<ModuleWindow *>(app.find("module"));
    if (!w)
        return result;
    QList<QPair<int, QString>> shown;  // what the rows showed, as it happened
    ModuleListModel *list = w->modules();
    QObject::connect(list, &QAbstractItemModel::dataChanged, list, [&](const QModelIndex &from) {
        const ModuleRow &row = list->at(from.row() + 1);
        if (row.fresh)
            shown.append({row.address.toInt(), row.temperature + "/" + row.humidity});
    });

    // Time from each poll tick to the frame handed to the window.
    QElapsedTimer since;
    QList<double> replyMs;
    auto *timer1 = w->findChild<QTimer *>(QStringLiteral("Timer1"));
    QObject::connect(timer1, &QTimer::timeout, w, [&] { since.start(); });
    QObject::connect(app.bus().frames(), &FrameAssembler::frameDelivered, w, [&] {
        if (since.isValid())
            replyMs.append(since.nsecsElapsed() / 1e6);
    });

    QElapsedTimer beat;
    QTimer heart;
    heart.setTimerType(Qt::PreciseTimer);
    heart.setInterval(1);
    QObject::connect(&heart, &QTimer::timeout, w, [&] {
        if (beat.isValid())
            result.longestStallMs =
                std::max(result.longestStallMs, beat.nsecsElapsed() / 1e6 - 1.0);
        beat.start();
    });
    heart.start();

    const qsizetype logStart = sim.log().size();
    w->findChild<QLineEdit *>(QStringLiteral("Text2"))->setText(QString::number(periodMs));
    auto *command3 = w->findChild<QPushButton *>(QStringLiteral("Command3"));
    const AcquisitionCycle &cycle = app.services().acquisition().cycle();
    QElapsedTimer clock;
    clock.start();
    command3->click();
    // A plain event loop: QTest::qWait and qWaitFor sleep between their
    // rounds and would delay every reply by up to 10 ms.
    QEventLoop loop;
    QObject::connect(timer1, &QTimer::timeout, &loop, [&] {
        if (cycle.okCount + cycle.failCount >= polls - 1)
            loop.quit();
    });
    QTimer::singleShot(polls * periodMs * 3 + 5000, &loop, &QEventLoop::quit);
    loop.exec();
    command3->click();
    result.msPerPoll = double(clock.elapsed()) / std::max(1, cycle.okCount + cycle.failCount + 1);
    QTimer::singleShot(200, &loop,
                       &QEventLoop::quit);  // a reply under way arrives (and is not taken)
    loop.exec();

    heart.stop();
    std::sort(replyMs.begin(), replyMs.end());
    if (!replyMs.isEmpty()) {
        result.medianReplyMs = replyMs[replyMs.size() / 2];
        result.slowestReplyMs = replyMs.last();
    }

    const QString log = sim.log().mid(logStart);
    const auto sent = sentReadings(log);
    result.requests = int(log.count(QStringLiteral(" 04 00 00 00 02 ")));
    result.ok = cycle.okCount;
    result.failed = cycle.failCount;
    for (const auto &[address, reading] : shown) {
        if (!sent.value(address).contains(reading))
            ++result.wrong;
    }
    return result;
}
}  // namespace

int main(int argc, char **argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qapp(argc, argv);
    const int polls = argc > 1 ? std::max(10, atoi(argv[1])) : 100;

    SimProcess sim(SimProcess::Serial,
                   {QStringLiteral("--modules"), QStringLiteral("1,2,3"), QStringLiteral("--baud"),
                    QStringLiteral("9600"), QStringLiteral("--seed"), QStringLiteral("1")});
    if (!sim.start()) {
        std::fprintf(stderr, "cannot start the simulator: %s\n", qPrintable(sim.errorString()));
        return 1;
    }
    AppFixture app(new SerialPort());
    for (int a : {1, 2, 3}) app.db().addModule(a);
    app.frame()->openSavedPort();
    if (!app.bus().port()->PortOpen()) {
        std::fprintf(stderr, "cannot open the simulator's line\n");
        return 1;
    }

    std::printf(
        "poll period search, 3 modules at 9600 bit/s over a pseudo-terminal, %d polls each\n",
        polls);
    std::printf("%8s %9s %6s %7s %6s %8s %13s %14s %14s  %s\n", "period", "requests", "ok",
                "failed", "wrong", "ms/poll", "reply median", "reply slowest", "longest stall", "");
    int smallest = 0;
    const int periods[] = {200, 150, 120, 100, 90, 80, 70, 65, 60, 55, 50, 45, 40};
    for (int period : periods) {
        const Result r = run(app, sim, period, polls);
        std::printf("%6d ms %9d %6d %7d %6d %8.1f %10.1f ms %11.1f ms %11.1f ms  %s\n", period,
                    r.requests, r.ok, r.failed, r.wrong, r.msPerPoll, r.medianReplyMs,
                    r.slowestReplyMs, r.longestStallMs, r.passed() ? "ok" : "FAILS");
        std::fflush(stdout);
        if (!r.passed())
            break;
        smallest = period;
    }
    if (smallest)
        std::printf("smallest poll period without a lost or misattributed reading: %d ms\n",
                    smallest);
    else
        std::printf("no period passed\n");
    return 0;
}
