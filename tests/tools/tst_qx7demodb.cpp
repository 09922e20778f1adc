// The demo database tool: creates a database with the modules registered,
// and never touches an existing one.

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
    void createsOnlyANewFile();
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

QTEST_GUILESS_MAIN(TestQx7DemoDb)
#include "tst_qx7demodb.moc"
