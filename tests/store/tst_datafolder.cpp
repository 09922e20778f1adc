// Where the data lives: a folder asked for, the program's folder when a file
// can be created in it, else the user's data location.
#include "store/DataFolder.h"

#include "services/AppServices.h"
#include "store/Clock.h"
#include "support/FakeSerialPort.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

class TestDataFolder : public QObject {
    Q_OBJECT
    QTemporaryDir home;
    QString user;  // the user's data location under `home`

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(home.isValid());
        qputenv("XDG_DATA_HOME", QFile::encodeName(home.filePath("share")));
        user = home.filePath("share/qx7daq");
        QCOMPARE(userDataLocation(), user);  // the desktop program's, whoever asks
    }

    void choice_data() {
        QTest::addColumn<QString>("requested");
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<bool>("userLocation");
        // No file can be created in /proc, not even by root (who may write to
        // any folder whose permissions say no).
        const QString readOnly = QStringLiteral("/proc");
        QTest::newRow("writable") << "" << home.path() << home.path() << false;
        QTest::newRow("read-only") << "" << readOnly << user << true;
        QTest::newRow("--data") << home.filePath("asked/deeper") << readOnly
                                << home.filePath("asked/deeper") << false;
    }
    void choice() {
        QFETCH(QString, requested);
        QFETCH(QString, program);
        QFETCH(QString, chosen);
        QFETCH(bool, userLocation);
        const DataFolder folder = chooseDataFolder(requested, program);
        QVERIFY2(folder.ok(), qPrintable(folder.error));
        QCOMPARE(folder.path, chosen);
        QCOMPARE(folder.userLocation, userLocation);
        QVERIFY(QFileInfo(chosen).isDir());  // created when missing
        QCOMPARE(QFileInfo::exists(chosen + "/backup"), userLocation);
        QCOMPARE(QDir(program).entryList(QDir::Hidden | QDir::Files).filter(".qx7probe"),
                 QStringList());  // the probe is gone
    }

    void noFolderToBeHad() {
        // The user's location cannot be created either: a file stands in its way.
        QFile blocker(home.filePath("blocked"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        qputenv("XDG_DATA_HOME", QFile::encodeName(blocker.fileName()));
        const DataFolder folder = chooseDataFolder(QString(), QStringLiteral("/proc"));
        qputenv("XDG_DATA_HOME", QFile::encodeName(home.filePath("share")));
        QVERIFY(!folder.ok());
        QVERIFY2(folder.error.contains(blocker.fileName()), qPrintable(folder.error));
    }

    // The logger service's folder is shared through its group (set-group-ID,
    // 2770): a database the desktop program creates there must be writable by
    // the group, whatever the user's umask, or the service cannot store a
    // record in it.
    void newDatabaseInASharedFolder() {
        const mode_t umaskBefore = ::umask(022);
        QTemporaryDir dir;
        QVERIFY(::chmod(QFile::encodeName(dir.path()).constData(), 02770) == 0);
        const QString path = dir.filePath("mydb.db");
        AppServices services(path, std::make_unique<FakeSerialPort>(), Clock::system());
        QVERIFY(services.open(nullptr));
        ::umask(umaskBefore);
        QCOMPARE(QFileInfo(path).permissions() & (QFile::ReadGroup | QFile::WriteGroup),
                 QFile::ReadGroup | QFile::WriteGroup);
    }
};

QTEST_GUILESS_MAIN(TestDataFolder)
#include "tst_datafolder.moc"
