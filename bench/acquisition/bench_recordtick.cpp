// One second's records of 256 modules, handed to the record writer the way
// the acquisition's one-second clock does. Prints what the clock's tick pays
// on the window's thread (building the statements and queueing them) and how
// long the writer takes to store each tick in one transaction (median and
// slowest). The program keeps up with 256 modules at a 1 s period as long as
// the writer stores a tick well under a second (target: under 20 ms); the
// window's share must stay far below a millisecond.
#include "store/Clock.h"
#include "store/LiteConnection.h"
#include "store/RecordWriter.h"
#include "store/Schema.h"
#include "store/Statements.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    constexpr int kModules = 256;
    constexpr int kTicks = 60;

    QTemporaryDir dir;
    const QString path = QDir(dir.path()).filePath(QStringLiteral("mydb.db"));
    {
        LiteConnection db;
        QString error;
        if (!db.Open(path) || !schema::ensure(db, &error)) {
            std::fprintf(stderr, "cannot create the database: %s\n",
                         qPrintable(error + db.lastError()));
            return 1;
        }
    }
    RecordWriter writer(Clock::system());
    QString error;
    if (!writer.open(path, &error)) {
        std::fprintf(stderr, "cannot open the writer: %s\n", qPrintable(error));
        return 1;
    }

    QList<double> windowMs, storeMs;
    for (int t = 0; t < kTicks; ++t) {
        QElapsedTimer timer;
        timer.start();
        QList<PendingWrite> writes;
        const qint64 due = Clock::system().steadyMs();
        for (int i = 1; i <= kModules; ++i) {
            const QString adr = QString::number(i);
            writes.append({sql::insertRecord(adr, QStringLiteral("23.5"), QStringLiteral("61.2")),
                           sql::insertRecordAt(adr, QStringLiteral("2024-03-05 10:00:00"),
                                               QStringLiteral("23.5"), QStringLiteral("61.2")),
                           QStringLiteral("2024-03-05 10:00:00"), due});
        }
        writer.submit(writes);
        windowMs.append(timer.nsecsElapsed() / 1e6);
        if (!writer.flush(10000)) {
            std::fprintf(stderr, "the writer did not store a tick within 10 s\n");
            return 1;
        }
        storeMs.append(timer.nsecsElapsed() / 1e6);
    }
    std::sort(windowMs.begin(), windowMs.end());
    std::sort(storeMs.begin(), storeMs.end());
    std::printf("record tick, %d records: window's thread median %.3f ms, slowest %.3f ms\n",
                kModules, windowMs[kTicks / 2], windowMs.last());
    std::printf(
        "record tick, %d records stored in one transaction: median %.2f ms, slowest "
        "%.2f ms (%d ticks)\n",
        kModules, storeMs[kTicks / 2], storeMs.last(), kTicks);
    std::printf("target: a tick stored under 20 ms: %s\n",
                storeMs[kTicks / 2] < 20.0 ? "met" : "missed");
    return 0;
}
