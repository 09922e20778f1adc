// The demo database tool: creates a database with the modules registered,
// and of an existing one changes at most the broker.

#include "store/LiteConnection.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {
int run(const QStringList &args, QByteArray *out = nullptr) {
    QProcess p;
    p.start(QCoreApplication::applicationDirPath() + QStringLiteral("/qx7demodb"), args);
    const bool finished = p.waitForFinished(10000);
    if (out)
        *out = p.readAllStandardOutput();
    return finished ? p.exitCode() : -1;
}
}  // namespace

class TestQx7DemoDb : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void createsOnlyANewFile() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("mydb.db"));
        // Bad arguments create nothing.
        for (const QStringList &bad : {QStringList{}, {dir.path(), "--mqtt"}})
            QCOMPARE(run(bad), 2);
        for (const QStringList &bad : {QStringList{dir.path(), "--modules", "1,x"},
                                       {dir.filePath(QStringLiteral("missing"))},
                                       {dir.path(), "--mqtt", "127.0.0.1"},  // no port
                                       {dir.path(), "--mqtt", "a b:1883"},
                                       {dir.path(), "--mqtt", "127.0.0.1:0"}})
            QCOMPARE(run(bad), 1);
        QVERIFY(!QFile::exists(path));

        QByteArray out;
        QCOMPARE(run({dir.path()}, &out), 0);
        QVERIFY(out.startsWith("created"));
        QVERIFY(!QFile::exists(path + QStringLiteral(".new")));
        LiteConnection db;
        QVERIFY(db.Open(path));
        auto rows = [&](const QString &sql) {
            QStringList out;
            LiteStatement st = db.prepare(sql);
            for (st.Step(); !st.done(); st.Step()) {
                QStringList row;
                for (int i = 0; i < st.columnCount(); ++i) row << st.text(i);
                out << row.join(u'/');
            }
            return out;
        };
        const QString modules = QStringLiteral("select adr, name from dbQx7 order by id");
        const QString broker = QStringLiteral("select * from mqttsetting");
        QCOMPARE(rows(modules), (QStringList{"1/0007", "2/0007", "3/0007"}));
        // The cold room (module 3) has its alarm on, with a lower limit.
        const QString alarms = QStringLiteral(
            "select m.adr, m.alarm, l.tlow from dbQx7 m left join alarmlimit l on l.adr = m.adr "
            "order by m.id");
        QCOMPARE(rows(alarms), (QStringList{"1/否/", "2/否/", "3/是/-4.0"}));

        // The operator's own changes survive the next run; a broker may be set or taken away.
        QVERIFY(db.Execute(QStringLiteral("delete from dbQx7 where adr='2'")));
        QCOMPARE(run({dir.path(), "--modules", "7,8"}, &out), 0);
        QVERIFY(out.startsWith("kept"));
        QCOMPARE(run({dir.path(), "--mqtt", "localhost:1999"}, &out), 0);
        QVERIFY(out.startsWith("kept"));
        QCOMPARE(rows(modules), (QStringList{"1/0007", "3/0007"}));
        QCOMPARE(rows(broker), QStringList{"localhost/1999/qx7///0/homeassistant"});
        QCOMPARE(run({dir.path(), "--mqtt", "off"}), 0);
        QVERIFY(rows(broker).isEmpty());
        db.Close();

        // A file that is not even a database is left alone.
        QFile::remove(path);
        QFile foreign(path);
        QVERIFY(foreign.open(QIODevice::WriteOnly));
        foreign.write("not a database");
        foreign.close();
        QCOMPARE(run({dir.path()}), 0);
        QCOMPARE(run({dir.path(), "--mqtt", "127.0.0.1:1883"}), 1);
        QVERIFY(foreign.open(QIODevice::ReadOnly));
        QCOMPARE(foreign.readAll(), QByteArray("not a database"));
    }
};

QTEST_GUILESS_MAIN(TestQx7DemoDb)
#include "tst_qx7demodb.moc"
