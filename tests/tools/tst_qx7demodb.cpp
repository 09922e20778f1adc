// The demo database tool: creates a database with the modules registered,
// and never touches an existing one.

#include "store/LiteConnection.h"

#include <QCoreApplication>
#include <QDir>
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
    void createsOnlyANewFile();
    void pointsTheDemoAtABroker();
    void coldRoomAlarm();
};

void TestQx7DemoDb::createsOnlyANewFile() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("mydb.db"));
    // Bad arguments create nothing.
    QCOMPARE(run({}), 2);
    QCOMPARE(run({dir.path(), QStringLiteral("--modules"), QStringLiteral("1,x")}), 1);
    QCOMPARE(run({dir.filePath(QStringLiteral("missing"))}), 1);
    QVERIFY(!QFile::exists(path));

    QByteArray out;
    QCOMPARE(run({dir.path()}, &out), 0);
    QVERIFY(out.startsWith("created"));
    QVERIFY(!QFile::exists(path + QStringLiteral(".new")));
    LiteConnection db;
    QVERIFY(db.Open(path));
    auto addresses = [&] {
        QStringList out;
        LiteStatement st = db.prepare(QStringLiteral("select adr, name from dbQx7 order by id"));
        for (st.Step(); !st.done(); st.Step()) out << st.text(0) + u'/' + st.text(1);
        return out;
    };
    QCOMPARE(addresses(), (QStringList{"1/0007", "2/0007", "3/0007"}));

    // The operator's own changes survive the next run.
    QVERIFY(db.Execute(QStringLiteral("delete from dbQx7 where adr='2'")));
    QCOMPARE(run({dir.path(), QStringLiteral("--modules"), QStringLiteral("7,8")}, &out), 0);
    QVERIFY(out.startsWith("kept"));
    QCOMPARE(addresses(), (QStringList{"1/0007", "3/0007"}));
    db.Close();

    // A file that is not even a database is left alone too.
    QFile foreign(path);
    QVERIFY(foreign.open(QIODevice::WriteOnly));
    foreign.write("not a database");
    foreign.close();
    QCOMPARE(run({dir.path()}), 0);
    QVERIFY(foreign.open(QIODevice::ReadOnly));
    QCOMPARE(foreign.readAll(), QByteArray("not a database"));
}

void TestQx7DemoDb::pointsTheDemoAtABroker() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("mydb.db"));
    QCOMPARE(run({dir.path(), "--mqtt", "127.0.0.1"}), 1);    // no port
    QCOMPARE(run({dir.path(), "--mqtt", "a b:1883"}), 1);     // no host
    QCOMPARE(run({dir.path(), "--mqtt", "127.0.0.1:0"}), 1);  // no port either
    QCOMPARE(run({dir.path(), "--mqtt"}), 2);
    QVERIFY(!QFile::exists(path));

    LiteConnection db;
    auto broker = [&] {
        QStringList out;
        LiteStatement st = db.prepare(
            QStringLiteral("select host, port, prefix, username, password, tls from mqttsetting"));
        for (st.Step(); !st.done(); st.Step()) {
            QStringList row;
            for (int i = 0; i < 6; ++i) row << st.text(i);
            out << row.join(u'|');
        }
        return out;
    };
    QByteArray out;
    QCOMPARE(run({dir.path(), "--mqtt", "127.0.0.1:1884", "--modules", "4"}, &out), 0);
    QCOMPARE(out, QByteArray("created " + QDir::toNativeSeparators(path).toLocal8Bit() +
                             " with modules 4, MQTT 127.0.0.1:1884\n"));
    QVERIFY(db.Open(path));
    QCOMPARE(broker(), QStringList{"127.0.0.1|1884|qx7|||0"});

    // An existing database gets another broker, and only that.
    QCOMPARE(run({dir.path(), "--mqtt", "localhost:1999"}, &out), 0);
    QVERIFY(out.startsWith("kept"));
    QCOMPARE(broker(), QStringList{"localhost|1999|qx7|||0"});
    LiteStatement modules = db.prepare("select adr from dbQx7");
    QVERIFY(modules.Step());
    QCOMPARE(modules.text(0), QStringLiteral("4"));
    modules.Close();
    QCOMPARE(run({dir.path(), "--mqtt", "off"}), 0);
    QVERIFY(broker().isEmpty());
    db.Close();

    // A file that is no database stays as it is.
    QFile::remove(path);
    QFile foreign(path);
    QVERIFY(foreign.open(QIODevice::WriteOnly));
    foreign.write("not a database");
    foreign.close();
    QCOMPARE(run({dir.path(), "--mqtt", "127.0.0.1:1883"}), 1);
    QVERIFY(foreign.open(QIODevice::ReadOnly));
    QCOMPARE(foreign.readAll(), QByteArray("not a database"));
}

// The third module (the simulator's cold room) has its alarm on with a lower
// limit; an earlier demo database without limits gets that once, and the
// operator's changes stay after that.
void TestQx7DemoDb::coldRoomAlarm() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("mydb.db"));
    QCOMPARE(run({dir.path()}), 0);
    LiteConnection db;
    QVERIFY(db.Open(path));
    auto alarms = [&] {
        QStringList out;
        LiteStatement st = db.prepare(
            QStringLiteral("select m.adr, m.alarm, l.tlow, l.thigh, l.hlow, l.hhigh from dbQx7 m "
                           "left join alarmlimit l on l.adr = m.adr order by m.id"));
        for (st.Step(); !st.done(); st.Step()) {
            QStringList row;
            for (int i = 0; i < 6; ++i) row << st.text(i);
            out << row.join(u'|');
        }
        return out;
    };
    QCOMPARE(alarms(), (QStringList{"1|否||||", "2|否||||", "3|是|-4.0|||"}));

    // The operator's changes stay.
    QVERIFY(db.Execute(QStringLiteral("update alarmlimit set tlow = -10")));
    QCOMPARE(run({dir.path()}), 0);
    QCOMPARE(alarms(), (QStringList{"1|否||||", "2|否||||", "3|是|-10.0|||"}));

    // A database of an earlier demo, without limits, gets the alarm once.
    QVERIFY(db.Execute(QStringLiteral("drop table alarmlimit")));
    QVERIFY(db.Execute(QStringLiteral("update dbQx7 set alarm = '否'")));
    QByteArray out;
    QCOMPARE(run({dir.path()}, &out), 0);
    QVERIFY(out.startsWith("gave module 3"));
    QCOMPARE(alarms(), (QStringList{"1|否||||", "2|否||||", "3|是|-4.0|||"}));
    db.Close();
}

QTEST_GUILESS_MAIN(TestQx7DemoDb)
#include "tst_qx7demodb.moc"
