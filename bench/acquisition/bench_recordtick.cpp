// Time to store one second's records of 256 modules (one record each) into a
// database file, the way the acquisition window does at each tick of its
// one-second clock: one transaction per tick. Prints the median and the
// slowest tick; the program keeps up with 256 modules at a 1 s period as long
// as a tick takes well under a second (target: under 20 ms).
#include "acquisition/RecordStore.h"
#include "store/LiteConnection.h"
#include "store/Schema.h"

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
    LiteConnection db;
    QString error;
    if (!db.Open(QDir(dir.path()).filePath(QStringLiteral("mydb.db"))) ||
        !schema::ensure(db, &error)) {
        std::fprintf(stderr, "cannot create the database: %s\n",
                     qPrintable(error + db.lastError()));
        return 1;
    }

    QList<DueRecord> records;
    for (int i = 1; i <= kModules; ++i)
        records.append({i, QString::number(i), QStringLiteral("23.5"), QStringLiteral("61.2")});

    auto measure = [&](auto &&store) {
        QList<double> ms;
        for (int t = 0; t < kTicks; ++t) {
            QElapsedTimer timer;
            timer.start();
            if (!store())
                return QList<double>();
            ms.append(timer.nsecsElapsed() / 1e6);
        }
        std::sort(ms.begin(), ms.end());
        return ms;
    };

    const QList<double> tx = measure([&] { return storeRecords(db, records, &error); });
    if (tx.isEmpty()) {
        std::fprintf(stderr, "store failed: %s\n", qPrintable(error));
        return 1;
    }
    std::printf(
        "record tick, %d records in one transaction: median %.2f ms, slowest %.2f ms (%d ticks)\n",
        kModules, tx[tx.size() / 2], tx.last(), kTicks);

    // The same ticks without a disk: what the statements themselves cost. The
    // rest of the figure above is the file system's sync at each commit, which
    // depends on what else the disk is doing.
    {
        LiteConnection mem;
        QString memError;
        if (mem.Open(QStringLiteral(":memory:")) && schema::ensure(mem, &memError)) {
            QList<double> ms;
            for (int t = 0; t < kTicks; ++t) {
                QElapsedTimer timer;
                timer.start();
                storeRecords(mem, records, &memError);
                ms.append(timer.nsecsElapsed() / 1e6);
            }
            std::sort(ms.begin(), ms.end());
            std::printf("record tick in memory (statements only): median %.2f ms\n",
                        ms[ms.size() / 2]);
        }
    }

    // For comparison: every record committed on its own.
    const QList<double> single = measure([&] {
        for (const DueRecord &r : records) {
            if (!storeRecords(db, {r}, &error))
                return false;
        }
        return true;
    });
    if (!single.isEmpty())
        std::printf(
            "record tick, %d records each committed alone: median %.2f ms, slowest %.2f ms\n",
            kModules, single[single.size() / 2], single.last());
    std::printf("target: a tick under 20 ms: %s\n", tx[tx.size() / 2] < 20.0 ? "met" : "missed");
    return 0;
}
