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
    p.start(QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("qx7demodb")),
            args);
    if (!p.waitForFinished(10000))
        return -1;
    if (out)
        *out = p.readAllStandardOutput();
    return p.exitCode();
}

QStringList addresses(const QString &path) {
    LiteConnection db;
    QStringList out;
    if (!db.Open(path))
        return out;
    LiteStatement st = db.prepare(QStringLiteral("select adr, name from dbQx7 order by id"));
    for (st.Step(); !st.done(); st.Step()) out << st.text(0) + QLatin1Char('/') + st.text(1);
    return out;
}
}  // namespace

class TestQx7DemoDb : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void createsThenKeeps();
    void badArguments();
};

void TestQx7DemoDb::createsThenKeeps() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("mydb.db"));
    QByteArray out;
    QCOMPARE(run({dir.path()}, &out), 0);
    QVERIFY(out.startsWith("created"));
    QCOMPARE(addresses(path), (QStringList{"1/0007", "2/0007", "3/0007"}));
    QVERIFY(!QFile::exists(path + QStringLiteral(".new")));

    // The operator's own changes survive the next run.
    {
        LiteConnection db;
        QVERIFY(db.Open(path));
        QVERIFY(db.Execute(QStringLiteral("delete from dbQx7 where adr='2'")));
    }
    QCOMPARE(run({dir.path(), QStringLiteral("--modules"), QStringLiteral("7,8")}, &out), 0);
    QVERIFY(out.startsWith("kept"));
    QCOMPARE(addresses(path), (QStringList{"1/0007", "3/0007"}));

    // A file that is not even a database is left alone too.
    QTemporaryDir other;
    QFile foreign(other.filePath(QStringLiteral("mydb.db")));
    QVERIFY(foreign.open(QIODevice::WriteOnly));
    foreign.write("not a database");
    foreign.close();
    QCOMPARE(run({other.path()}), 0);
    QVERIFY(foreign.open(QIODevice::ReadOnly));
    QCOMPARE(foreign.readAll(), QByteArray("not a database"));
}

void TestQx7DemoDb::badArguments() {
    QTemporaryDir dir;
    QCOMPARE(run({}), 2);
    QCOMPARE(run({dir.path(), QStringLiteral("--modules"), QStringLiteral("1,x")}), 1);
    QCOMPARE(run({dir.filePath(QStringLiteral("missing"))}), 1);
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("mydb.db"))));
}

QTEST_GUILESS_MAIN(TestQx7DemoDb)
#include "tst_qx7demodb.moc"
