// The database: defaults and affinities of a new file, reading by name and
// failures, quotes in values, value texts; and the record writer:
// order, one transaction per group, a locked database that delays but loses
// nothing, the second a record keeps, the hour's bound, a write that always
// fails set aside, the hold for a backup, what is left at the end and the
// file that keeps it for the next start.
#include "store/LiteConnection.h"
#include "store/PendingRecords.h"
#include "store/RecordWriter.h"
#include "store/Schema.h"
#include "store/Statements.h"
#include "store/ValueText.h"
#include "support/FakeClock.h"
#include "support/TestDatabase.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {
const QString kDue = QStringLiteral("2024-03-05 10:00:00");

// A record of module `adr` with temperature `temp` that fell due at `due`.
PendingWrite record(int adr, const QString &temp, qint64 dueMs, const QString &due = kDue) {
    const QString a = QString::number(adr);
    return {sql::insertRecord(a, temp, QStringLiteral("50")),
            sql::insertRecordAt(a, due, temp, QStringLiteral("50")), due, dueMs};
}
}  // namespace

class TestStore : public QObject {
    Q_OBJECT
    // A fresh database for every test, and a writer on it.
    LiteConnection conn;
    std::unique_ptr<TestDatabase> db;
    // Records fall due at kDue; the writer's clock stands five seconds later
    // unless a test moves it.
    FakeClock clock{QDateTime(QDate(2024, 3, 5), QTime(2, 0, 5), Qt::UTC)};
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
        clock.setNow(QDateTime(QDate(2024, 3, 5), QTime(2, 0, 5), Qt::UTC));
        writer = std::make_unique<RecordWriter>(clock);
        QVERIFY(writer->open(db->path()));
    }
    void cleanup() {
        writer.reset();
        db.reset();
        conn.Close();
    }

    void insertedRowsTakeDefaultsAndAffinities() {
        // A module added by the bus search.
        db->exec(sql::insertModule("3", "0007"));
        const auto rows = db->rows(sql::selectModules());
        QCOMPARE(rows.size(), 1);
        QStringList cells;
        for (const QVariant &v : rows.first().mid(1)) cells << cellText(v);
        QCOMPARE(cells, (QStringList{"3", "0007", QStringLiteral("是"), "", "", "60",
                                     QStringLiteral("否")}));

        // Records: '23.5' is stored as a number and compares numerically, 9.8 < 23.5.
        db->exec(sql::insertRecord("3", "23.5", "61.2"));
        db->exec(sql::insertRecord("3", "9.8", "5"));
        db->exec(sql::insertRecord("12", "-10", "100"));
        QCOMPARE(db->scalar("select count(*) from th where temp > 10").toInt(), 1);
        QCOMPARE(db->scalar("select typeof(temp) from th where id=1").toString(), "real");
        QCOMPARE(db->scalar("select sum(hum) from th").toDouble(), 166.2);
        // The address matches quoted and unquoted.
        QCOMPARE(db->scalar("select count(*) from th where adr = 3").toInt(), 2);
        QCOMPARE(db->scalar("select count(*) from th where adr = '3'").toInt(), 2);
        // The record time is the time in UTC+8.
        const QString stamp = db->scalar("select mydate from th where id=1").toString();
        QVERIFY(isRecordTime(stamp));
        const QString expected = db->scalar("select datetime('now','+8 hour')").toString();
        QVERIFY(qAbs(QDateTime::fromString(stamp, "yyyy-MM-dd HH:mm:ss")
                         .secsTo(QDateTime::fromString(expected, "yyyy-MM-dd HH:mm:ss"))) <= 2);
    }

    void existingFileIsNotAltered() {
        QTemporaryDir tmp;
        LiteConnection file;
        QVERIFY(file.Open(tmp.filePath("mydb.db")));
        QVERIFY(file.Execute("CREATE TABLE other (x)"));
        QString error;
        QVERIFY(schema::ensure(file, &error));
        LiteStatement st = file.prepare("select count(*) from sqlite_master where type='table'");
        QVERIFY(st.Step());
        QCOMPARE(st.integer(0), 1);
    }

    void readingByNameAndFailures() {
        db->exec(sql::insertModule("1", "A"));
        LiteStatement st = conn.prepare(sql::selectModules());
        QVERIFY(st.Step());
        QCOMPARE(st.ColumnValue(st.ColumnName(1)).toString(), QStringLiteral("1"));
        st.Close();
        QVERIFY(!st.ColumnValue("adr").isValid());

        LiteStatement bad = conn.prepare("select * from nowhere");
        QVERIFY(!bad.isValid() && bad.error().contains("nowhere"));
        QVERIFY(!bad.Step() && bad.done());  // stepping a failed statement ends it
        QVERIFY(!conn.Execute("delete from nowhere") && conn.lastError().contains("nowhere"));
    }

    void quoteInValueIsHarmless() {
        db->addModule(1);
        db->addModule(2);
        // A quote can neither break the statement nor widen its condition.
        QVERIFY(conn.Execute(sql::deleteModule("1' or '1'='1")));
        QCOMPARE(db->scalar("select count(*) from dbQx7").toInt(), 2);
        QVERIFY(conn.Execute(sql::insertModule("4", "O'Brien")));
        QCOMPARE(db->scalar("select name from dbQx7 where adr='4'").toString(), "O'Brien");
        QCOMPARE(sql::moduleCondition("1'"), QStringLiteral("adr = '1'''"));
    }

    // Numbers as the program writes them (decimals and cells are read where
    // the limits and the record list take them).
    void numberTexts_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        for (const auto &[value, text] : {std::pair{25.0, "25"},
                                          {23.5, "23.5"},
                                          {0.5, "0.5"},
                                          {-10.0, "-10"},
                                          {0.1 + 0.2, "0.3"},
                                          {0.00001, "0.00001"}})
            QTest::newRow(text) << value << text;
    }
    void numberTexts() {
        QFETCH(double, value);
        QTEST(numberText(value), "text");
    }

    void recordTimes() {
        QVERIFY(isRecordTime("2010-01-01 00:00:00"));
        QVERIFY(!isRecordTime("2010-02-30 00:00:00"));
        QVERIFY(!isRecordTime("2010-01-01 00:00:00' or 1=1"));
    }

    // A record stored within the second it fell due runs the plain
    // statement (the database stamps it); later, or too near the end of that
    // second, the one with its due second, so no second is written twice or
    // skipped after a short lock.
    void recordKeepsItsSecond_data() {
        QTest::addColumn<QString>("now");
        QTest::addColumn<int>("msec");
        QTest::addColumn<bool>("plain");
        QTest::newRow("same second") << kDue << 200 << true;
        QTest::newRow("end of the second") << kDue << 950 << false;
        QTest::newRow("next second") << "2024-03-05 10:00:01" << 100 << false;
        QTest::newRow("a minute later") << "2024-03-05 10:01:00" << 0 << false;
    }
    void recordKeepsItsSecond() {
        QFETCH(QString, now);
        QFETCH(int, msec);
        QFETCH(bool, plain);
        const PendingWrite w = record(1, "10", 0);
        QCOMPARE(w.statementAt(now, msec), plain ? w.statement : w.lateStatement);
    }

    // In order; a record stored at once gets the database's time, one stored
    // late the time it fell due.
    void storesInOrder() {
        const qint64 now = clock.steadyMs();
        clock.setNow(QDateTime(QDate(2024, 3, 5), QTime(2, 0, 0, 100), Qt::UTC));
        writer->submit({record(1, "10", now), record(2, "20", now)});
        QVERIFY(writer->flush(5000));
        clock.advance(5000);
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
        QVERIFY(db->holdExclusively(other));
        const qint64 now = clock.steadyMs();
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

    // What waits longer than an hour is dropped, oldest first, and said
    // once; a write marked `keep` (a row of the alarm log) outlasts it.
    void anHourAtMost() {
        QSignalSpy overflow(writer.get(), &RecordWriter::overflowed);
        LiteConnection other;
        QVERIFY(db->holdExclusively(other));
        const qint64 now = clock.steadyMs();
        PendingWrite kept = record(5, "50", now - RecordWriter::kKeepMs - 1500);
        kept.keep = true;
        writer->submit({record(1, "10", now - RecordWriter::kKeepMs - 2000), kept,
                        record(2, "20", now - RecordWriter::kKeepMs - 1000)});
        writer->submit({record(3, "30", now)});
        QTRY_COMPARE(overflow.size(), 1);
        QCOMPARE(overflow.first().at(0).toInt(), 2);
        QCOMPARE(writer->waiting(), 2);
        QVERIFY(other.Execute("ROLLBACK"));
        QVERIFY(writer->flush(5000));
        QCOMPARE(stored(), (QStringList{"5:50", "3:30"}));
        QCOMPARE(overflow.size(), 1);
    }

    // A write that fails for a reason waiting does not mend (here an alarm
    // log made with other columns) is set aside after a few tries with the
    // writes of its moment (they land together or not at all), said once,
    // and the records behind it go in.
    void lastingFailureSetAside() {
        db->exec("create table alarmlog (id INTEGER PRIMARY KEY, what TEXT)");
        QSignalSpy setAside(writer.get(), &RecordWriter::setAside);
        const QString alarm = sql::insertAlarmLog(1, kDue, "无应答", std::nullopt, "开始");
        const qint64 now = clock.steadyMs();
        writer->submit({record(1, "10", now)});
        writer->submit({record(9, "90", now), {alarm, alarm, QString(), now, true}});
        writer->submit({record(2, "20", now)});
        writer->submit({record(3, "30", now)});
        QVERIFY(writer->flush(5000));
        QCOMPARE(stored(), (QStringList{"1:10", "2:20", "3:30"}));
        QCOMPARE(setAside.size(), 1);
        QCOMPARE(setAside.first().at(0).toInt(), 2);
        QVERIFY(setAside.first().at(1).toString().contains("adr"));
    }

    // Held for a backup, nothing goes in; let go, everything does. Closing
    // gives what waits its moment, and hands back (with its due second) what
    // still could not be stored; the file beside the database keeps that for
    // the next start, which stores it once.
    void holdCloseAndKeep() {
        writer->suspend();
        writer->submit({record(1, "10", clock.steadyMs())});
        QVERIFY(!writer->flush(300));
        QCOMPARE(stored(), QStringList());
        writer->resume();
        QVERIFY(writer->flush(5000));
        writer->submit({record(2, "20", clock.steadyMs())});
        QVERIFY(writer->close(5000).isEmpty());
        QCOMPARE(stored(), (QStringList{"1:10", "2:20"}));

        QVERIFY(writer->open(db->path()));
        LiteConnection other;
        QVERIFY(db->holdExclusively(other));
        writer->submit({record(3, "30", clock.steadyMs()), record(4, "40", clock.steadyMs())});
        const QStringList left = writer->close(300);
        QCOMPARE(left.size(), 2);
        QVERIFY(left.first().contains(kDue));
        const QString file = pendingrecords::pathFor(db->path());
        QString error;
        QVERIFY(pendingrecords::keep(file, left, &error));
        int count = -1;
        QVERIFY(!pendingrecords::storeInto(conn, file, &count, &error));  // still locked
        QVERIFY(QFile::exists(file));
        QVERIFY(other.Execute("ROLLBACK"));
        QVERIFY2(pendingrecords::storeInto(conn, file, &count, &error), qPrintable(error));
        QCOMPARE(count, 2);
        QVERIFY(!QFile::exists(file));
        QVERIFY(pendingrecords::storeInto(conn, file, &count, &error));
        QCOMPARE(count, 0);
        QCOMPARE(stored(), (QStringList{"1:10", "2:20", "3:30", "4:40"}));
        QCOMPARE(db->scalar("select count(*) from th where adr > 2 and mydate='" + kDue + "'"), 2);
    }
};

QTEST_GUILESS_MAIN(TestStore)
#include "tst_store.moc"
