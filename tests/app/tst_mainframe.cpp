// The main frame: its caption, one instance per window, the close-then-show rule,
// about and help, startup on a database that cannot be used.
#include "app/Main.h"
#include "store/Clock.h"
#include "store/RecordWriter.h"
#include "store/Statements.h"
#include "support/AppFixture.h"

#include <QFile>
#include <QGuiApplication>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QStatusBar>
#include <QTest>

class TestMainFrame : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // After each command, the windows open and how many of them are children of the frame:
    // the console and the acquisition close one another and the separate windows close them;
    // a command of the active child closes it and opens it afresh; the record list opens
    // beside them, one instance only.
    void workingWindowsReplaceEachOther() {
        AppFixture app;
        const std::tuple<const char *, const char *, int> steps[] = {
            {"sigboard", "Form1", 1},
            {"board", "module", 1},
            {"analys", "module AnaQx7", 1},
            {"analys", "module AnaQx7", 1},
            {"board", "module AnaQx7", 1},
            {"rs232", "AnaQx7 edit232", 0},
            {"backup", "AnaQx7 edit232 dbase", 0}};
        QWidget *analysis = nullptr;
        for (const auto &[menu, open, children] : steps) {
            app.menu(menu);
            for (const char *name : {"Form1", "module", "AnaQx7", "edit232", "dbase"})
                QVERIFY2(bool(app.find(name)) == QString(open).split(' ').contains(name), name);
            QCOMPARE(app.frame()->mdiArea()->subWindowList().size(), children);
            if (!analysis)
                analysis = app.find("AnaQx7");
            QVERIFY(!analysis || app.find("AnaQx7") == analysis);
        }
        app.menu("sigboard");
        QVERIFY(qobject_cast<QMdiSubWindow *>(app.find("Form1")->parentWidget())->isMaximized());

        // A closed window is forgotten; the command opens a new one.
        analysis->close();
        flushDeletes();
        QVERIFY(!app.windows().anaQx7IfOpen());
        app.menu("analys");
        QVERIFY(app.find("AnaQx7"));
    }

    void captionAboutHelpQuit() {
        AppFixture app;
        const QString caption = app.frame()->windowTitle();
        QVERIFY2(caption.contains(QStringLiteral("温湿度采集软件")) &&
                     caption.endsWith(QStringLiteral(" 版本 V1.0")),
                 qPrintable(caption));
        app.menu("about");
        QCOMPARE(app.boxes.shown.size(), 1);
        QCOMPARE(app.boxes.shown.first().title, QStringLiteral("温湿度采集软件"));

        app.menu("content");
        QCOMPARE(app.openedUrls.size(), 1);

        app.menu("quit");
        QCOMPARE(app.endProgramCalls, 1);
    }

    void mainCreatesDatabaseBesideTheProgram() {
        QTemporaryDir dir;
        FakeMessageBoxes boxes;
        auto *port = new FakeSerialPort();
        MDImain *frame = Main(dir.path(), port);
        QVERIFY(frame);
        // No display name: the window system would append it to every title.
        QCOMPARE(QGuiApplication::applicationDisplayName(), QCoreApplication::applicationName());
        QVERIFY(QFile::exists(dir.filePath("mydb.db")));
        QVERIFY(port->PortOpen());
        LiteStatement st =
            frame->services().db().prepare("select count(*) from sqlite_master where type='table'");
        QVERIFY(st.Step());
        QCOMPARE(st.integer(0), 3);
        st.Close();
        delete frame;
    }

    // What is wrong with the saved port settings is said in the status
    // line, never in a box at start; a port number that means nothing opens
    // nothing, a speed that means nothing leaves the port at 9600. A missing
    // row is "-".
    void savedSettingsTold_data() {
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("speed");
        QTest::addColumn<QString>("settings");  // empty: the port stays closed
        QTest::addColumn<QString>("status");
        const auto row = [](const char *name, const char *port, const char *speed,
                            const char *settings, const char *status) {
            QTest::newRow(name) << QString(port) << QString(speed) << QString(settings)
                                << QString(status);
        };
        row("good", "0", "19200", "19200,n,8,1", "");
        row("port not a number", "abc", "9600", "", "串口设置rs232port的值“abc”无效");
        row("no port", "-", "9600", "", "无法读取串口设置：syssetting中缺少rs232port");
        row("no speed", "0", "-", "9600,n,8,1",
            "无法读取串口速度：syssetting中缺少rs232speed，使用9600");
        row("speed not a number", "0", "fast", "9600,n,8,1",
            "串口速度rs232speed的值“fast”无效，使用9600");
    }
    void savedSettingsTold() {
        QFETCH(QString, port);
        QFETCH(QString, speed);
        QFETCH(QString, settings);
        QFETCH(QString, status);
        AppFixture app;
        app.fakePort()->setOpen(false);
        for (const auto &[key, value] : {std::pair{"rs232port", port}, {"rs232speed", speed}}) {
            app.db().exec(value == "-"
                              ? QString("delete from syssetting where myitems='%1'").arg(key)
                              : QString("update syssetting set mysetting='%1' where myitems='%2'")
                                    .arg(value, key));
        }
        app.frame()->openSavedPort();
        QCOMPARE(app.fakePort()->PortOpen(), !settings.isEmpty());
        const QString said = app.frame()->statusBar()->currentMessage();
        QVERIFY2(said.left(status.size()) == status, qPrintable(said));
        QVERIFY(app.boxes.shown.isEmpty());
        if (!settings.isEmpty())
            QCOMPARE(app.fakePort()->Settings(), settings);
    }

    // Records that still cannot be stored when the program ends are not
    // dropped without a word: they go into a file beside the database, the
    // operator is told how many, and the next start stores them first.
    void recordsWaitingAtTheEndAreKept() {
        AppFixture app;
        {
            LiteConnection other;
            QVERIFY(app.db().holdExclusively(other));
            const QString due = "2024-03-05 10:00:00";
            const qint64 now = app.services().clock().steadyMs();
            QList<PendingWrite> writes;
            for (const char *adr : {"1", "2"})
                writes << PendingWrite{sql::insertRecord(adr, "20", "50"),
                                       sql::insertRecordAt(adr, due, "20", "50"), due, now};
            app.services().writer().submit(writes);
            app.menu("quit");
            QCOMPARE(app.endProgramCalls, 1);
            QCOMPARE(app.boxes.texts().size(), 1);
            QVERIFY2(app.boxes.texts().first().startsWith("有2条记录未能写入数据库，已保存到文件"),
                     qPrintable(app.boxes.texts().first()));
            QVERIFY(other.Execute("ROLLBACK"));
        }
        AppServices again(app.db().path(), std::make_unique<FakeSerialPort>(), Clock::system());
        QString error;
        QVERIFY(again.open(&error));
        QCOMPARE(again.pendingText(), "上次退出时未能保存的2条记录已写入数据库");
        LiteStatement st =
            again.db().prepare("select count(*) from th where mydate='2024-03-05 10:00:00'");
        QVERIFY(st.Step());
        QCOMPARE(st.integer(0), 2);
    }

    void mainRefusesAFileThatIsNotADatabase() {
        QTemporaryDir dir;
        QFile f(dir.filePath("mydb.db"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(8192, '\x7f'));
        f.close();
        FakeMessageBoxes boxes;
        QVERIFY(!Main(dir.path(), new FakeSerialPort()));
        QCOMPARE(boxes.shown.size(), 1);
        // It names the file and the reason.
        QVERIFY(
            boxes.shown.first().text.contains(QDir::toNativeSeparators(dir.filePath("mydb.db"))));
        QVERIFY2(boxes.shown.first().text.contains("not a database"),
                 qPrintable(boxes.shown.first().text));
        QCOMPARE(boxes.shown.first().icon, MsgIcon::Critical);
    }
};

QTEST_MAIN(TestMainFrame)
#include "tst_mainframe.moc"
