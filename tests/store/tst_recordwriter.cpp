// The record writer: order, one transaction per group, a locked database
// that delays but loses nothing, the time a late record keeps, the hour's
// bound, the hold for a backup, and the last attempt at the end.
#include "store/LiteConnection.h"
#include "store/RecordWriter.h"
#include "store/Statements.h"
#include "support/TestDatabase.h"

#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace {
// A record of module `adr` with temperature `temp`; stored late it carries `late`.
PendingWrite record(int adr, const QString &temp, qint64 dueMs,
                    const QString &late = QStringLiteral("2024-03-05 10:00:00")) {
    const QString a = QString::number(adr);
    return {sql::insertRecord(a, temp, QStringLiteral("50")),
            sql::insertRecordAt(a, late, temp, QStringLiteral("50")), dueMs};
}
}  // namespace

class TestRecordWriter : public QObject {
    Q_OBJECT
    LiteConnection conn;
    std::unique_ptr<TestDatabase> db;
    std::unique_ptr<RecordWriter> writer;

    QStringList stored() {
        QStringList out;
        for (const QVariantList &r : db->rows("select adr, temp from th order by id"))
            out << r[0].toString() + ":" + r[1].toString();
        return out;
    }

private Q_SLOTS:
    void init() {
        db = std::make_unique<TestDatabase>(conn);
        writer = std::make_unique<RecordWriter>();
        QVERIFY(writer->open(db->path()));
    }
    void cleanup() {
        writer.reset();
        db.reset();
        conn.Close();
    }

    // In order; a record stored at once gets the database's time, one stored
    // late the time it fell due.
    void storesInOrder() {
        const qint64 now = RecordWriter::steadyMs();
        writer->submit({record(1, "10", now), record(2, "20", now)});
        writer->submit({record(3, "30", now - 5000, "2024-03-05 09:59:55")});
        QVERIFY(writer->flush(5000));
        QCOMPARE(stored(), (QStringList{"1:10", "2:20", "3:30"}));
        QCOMPARE(db->scalar("select mydate from th where adr=3").toString(), "2024-03-05 09:59:55");
        QVERIFY(db->scalar("select mydate from th where adr=1").toString() > "2025");
        QCOMPARE(writer->waiting(), 0);
    }

    // Another program holds the database: the writes wait, the writer says
    // so, and they go in, in order, once the database is free.
    void lockedDatabaseDelaysButLosesNothing() {
        QSignalSpy backlog(writer.get(), &RecordWriter::backlogChanged);
        LiteConnection other;
        QVERIFY(other.Open(db->path()));
        QVERIFY(other.Execute("BEGIN EXCLUSIVE"));
        const qint64 now = RecordWriter::steadyMs();
        writer->submit({record(1, "10", now)});
        writer->submit({record(2, "20", now)});
        QTRY_VERIFY(!backlog.isEmpty());
        QCOMPARE(backlog.first().at(0).toInt(), 2);
        QVERIFY(backlog.first().at(1).toString().contains("locked"));
        QCOMPARE(writer->waiting(), 2);
        QVERIFY(other.Execute("ROLLBACK"));
        QVERIFY(writer->flush(5000));
        QTRY_COMPARE(backlog.last().at(0).toInt(), 0);
        QCOMPARE(stored(), (QStringList{"1:10", "2:20"}));
        // Both waited, so both keep the time they fell due.
        QCOMPARE(db->scalar("select count(*) from th where mydate='2024-03-05 10:00:00'").toInt(),
                 2);
    }

    // The writes of one moment land together or not at all; what failed is
    // tried again.
    void groupLandsWhole() {
        db->exec(
            "create trigger diskfull before insert on th when new.adr = 99 "
            "begin select raise(abort, 'database or disk is full'); end");
        const qint64 now = RecordWriter::steadyMs();
        writer->submit({record(3, "30", now), record(99, "99", now)});
        QVERIFY(!writer->flush(600));
        QCOMPARE(stored(), QStringList());
        db->exec("drop trigger diskfull");
        QVERIFY(writer->flush(5000));
        QCOMPARE(stored(), (QStringList{"3:30", "99:99"}));
    }

    // What waits longer than an hour is dropped, oldest first, and said once.
    void anHourAtMost() {
        QSignalSpy overflow(writer.get(), &RecordWriter::overflowed);
        LiteConnection other;
        QVERIFY(other.Open(db->path()));
        QVERIFY(other.Execute("BEGIN EXCLUSIVE"));
        const qint64 now = RecordWriter::steadyMs();
        writer->submit({record(1, "10", now - RecordWriter::kKeepMs - 2000),
                        record(2, "20", now - RecordWriter::kKeepMs - 1000)});
        writer->submit({record(3, "30", now)});
        QTRY_COMPARE(overflow.size(), 1);
        QCOMPARE(overflow.first().at(0).toInt(), 2);
        QCOMPARE(writer->waiting(), 1);
        QVERIFY(other.Execute("ROLLBACK"));
        QVERIFY(writer->flush(5000));
        QCOMPARE(stored(), QStringList{"3:30"});
        QCOMPARE(overflow.size(), 1);
    }

    // A write marked `keep` (a row of the alarm log) outlasts the hour: the
    // records around it are dropped, it goes in once the database is free.
    void keptWritesOutlastTheHour() {
        QSignalSpy overflow(writer.get(), &RecordWriter::overflowed);
        LiteConnection other;
        QVERIFY(other.Open(db->path()));
        QVERIFY(other.Execute("BEGIN EXCLUSIVE"));
        const qint64 old = RecordWriter::steadyMs() - RecordWriter::kKeepMs - 1000;
        PendingWrite kept = record(2, "20", old);
        kept.keep = true;
        writer->submit({record(1, "10", old), kept, record(3, "30", old)});
        writer->submit({record(4, "40", RecordWriter::steadyMs())});
        QTRY_COMPARE(overflow.size(), 1);
        QCOMPARE(overflow.first().at(0).toInt(), 2);
        QCOMPARE(writer->waiting(), 2);
        QVERIFY(other.Execute("ROLLBACK"));
        QVERIFY(writer->flush(5000));
        QCOMPARE(stored(), (QStringList{"2:20", "4:40"}));
    }

    // Held for a backup, nothing goes in; let go, everything does. Closing
    // stores what still waits.
    void holdAndClose() {
        writer->suspend();
        writer->submit({record(1, "10", RecordWriter::steadyMs())});
        QVERIFY(!writer->flush(300));
        QCOMPARE(stored(), QStringList());
        writer->resume();
        QVERIFY(writer->flush(5000));
        writer->submit({record(2, "20", RecordWriter::steadyMs())});
        writer->close();
        QCOMPARE(stored(), (QStringList{"1:10", "2:20"}));
    }
};

QTEST_GUILESS_MAIN(TestRecordWriter)
#include "tst_recordwriter.moc"
