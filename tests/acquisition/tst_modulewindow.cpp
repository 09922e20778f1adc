// The acquisition window on an in-memory port: start and stop, one poll per
// tick, replies into the list, counters and run time, records into th, and
// what happens when the port, the period or the database fails.
#include "ModuleReplies.h"
#include "acquisition/EditQx7.h"
#include "acquisition/ModuleList.h"
#include "acquisition/ModuleWindow.h"
#include "app/MDImain.h"
#include "app/Module1.h"
#include "bus/FrameAssembler.h"
#include "bus/Frames.h"
#include "bus/HexText.h"
#include "support/AppFixture.h"

#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeView>

namespace {

// The window with handy access to its controls, and modules that answer on
// the fake port like real ones.
struct Window {
    AppFixture &app;
    ModuleWindow *w = nullptr;
    // address -> raw temperature and humidity; absent modules stay silent
    QMap<int, QPair<quint16, quint16>> modules;
    // address -> model register, for the search probe
    QMap<int, quint16> models;

    explicit Window(AppFixture &a) : app(a)
    {
        app.menu("board");
        w = qobject_cast<ModuleWindow *>(app.find("module"));
        app.fakePort()->onWrite = [this](const QByteArray &frame) {
            if (frame.size() == 8 && frame[1] == 4 && modules.contains(quint8(frame[0]))) {
                const auto [t, h] = modules.value(quint8(frame[0]));
                app.fakePort()->inject(readingFrame(quint8(frame[0]), t, h));
            }
            if (frame.size() == 8 && frame[1] == 3 && models.contains(quint8(frame[0])))
                app.fakePort()->inject(
                    modelFrame(quint8(frame[0]), models.value(quint8(frame[0]))));
        };
    }
    template <class T>
    T *get(const char *name) const
    {
        return w->findChild<T *>(QString::fromLatin1(name));
    }
    QString text(const char *name) const
    {
        if (auto *l = get<QLabel>(name))
            return l->text();
        if (auto *b = get<QPushButton>(name))
            return b->text();
        return get<QLineEdit>(name)->text();
    }
    QTimer *timer(const char *name) const { return get<QTimer>(name); }
    void click(const char *name) const { get<QPushButton>(name)->click(); }
    // One poll tick, and the answer (if any) handed over as one frame.
    void poll() const
    {
        w->Timer1_Timer();
        endOfFrame();
    }
    // One search tick, and the answer (if any).
    void probe() const
    {
        w->Timer4_Timer();
        endOfFrame();
    }
    void endOfFrame() const { app.frame()->frames()->endOfFrame(); }
    void reply(const QByteArray &bytes) const
    {
        app.fakePort()->inject(bytes);
        endOfFrame();
    }
    QString cells(int position) const
    {
        const ModuleRow &r = w->modules()->at(position);
        return r.temperature + "/" + r.humidity;
    }
    QByteArrayList sent() const { return app.fakePort()->written; }
};
}  // namespace

class TestModuleWindow : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { ModuleWindow::resetState(); }

    void layoutAndTexts()
    {
        AppFixture app;
        app.db().addModule(1);
        Window win(app);
        QVERIFY(win.w);
        QCOMPARE(win.w->windowTitle(), QStringLiteral("多模块采集"));
        auto *sub = qobject_cast<QMdiSubWindow *>(win.w->parentWidget());
        QVERIFY(sub && sub->isMaximized());
        const QList<QPair<const char *, QString>> texts = {
            {"Label4", "系统中现有1个模块"},
            {"Label2", "采集周期（毫秒）："},
            {"Text2", "600"},
            {"Command3", "采集"},
            {"Command4", "计数清零"},
            {"Label6", "采集成功次数：0 失败次数：0"},
            {"Label8", "已累计采集："},
            {"Label7", "0小时0分0秒"},
            {"Label1", "现在采集模块：0"},
            {"Label5", "将模块："},
            {"Text16", "1"},
            {"Label3", "的地址，更换为："},
            {"Text1", "2"},
            {"Command2", "更换"},
            {"Command5", "搜索模块"},
            {"Label16", "搜索周期（毫秒）："},
            {"Text19", "500"},
            {"Command1", "退出"},
        };
        for (const auto &[name, text] : texts) QCOMPARE(win.text(name), text);
        QCOMPARE(win.get<QWidget>("Frame1")->property("title").toString(),
                 QStringLiteral("快速操作"));
        auto *list = win.get<QTreeView>("ListView1");
        QVERIFY(list);
        QCOMPARE(list->toolTip(), QStringLiteral("双击修改模块参数"));
        QCOMPARE(list->model()->columnCount(), 7);
        QCOMPARE(list->model()->headerData(5, Qt::Horizontal).toString(),
                 QStringLiteral("记录周期"));
        QVERIFY(win.get<QLineEdit>("rcv232")->isHidden());
        for (const char *t : {"Timer1", "Timer2", "Timer4"}) QVERIFY(!win.timer(t)->isActive());
        QCOMPARE(win.timer("Timer1")->interval(), 600);
        QCOMPARE(win.timer("Timer2")->interval(), 1000);
        QCOMPARE(win.timer("Timer4")->interval(), 500);
    }

    void acquireAndRecord()
    {
        AppFixture app;
        for (int a : {1, 2, 3}) app.db().addModule(a);
        app.db().exec(QStringLiteral("update dbQx7 set scan=1"));
        app.db().exec(QStringLiteral("update dbQx7 set enorno='否' where adr='2'"));
        Window win(app);
        win.modules = {{1, {235, 550}}, {2, {111, 111}}, {3, {0xFF9C, 601}}};

        win.click("Command3");
        QCOMPARE(win.text("Command3"), QStringLiteral("停止"));
        QVERIFY(Module1::rs232busy());
        QVERIFY(Module1::rs232target().isRegistered(win.w));
        QVERIFY(!win.get<QPushButton>("Command5")->isEnabled());
        QVERIFY(!win.get<QPushButton>("Command2")->isEnabled());
        QVERIFY(win.timer("Timer1")->isActive() && win.timer("Timer2")->isActive());

        win.poll();  // position 2 is disabled: polls 3
        QCOMPARE(win.sent(), QByteArrayList{measurementRequest(3)});
        QCOMPARE(win.text("Label1"), QStringLiteral("现在采集模块：3"));
        QCOMPARE(win.text("Label6"), QStringLiteral("成功采集次数：0 失败次数：0"));
        QCOMPARE(win.cells(3), QStringLiteral("-10/60.1"));
        win.poll();
        QCOMPARE(win.cells(1), QStringLiteral("23.5/55"));
        QCOMPARE(win.text("Label6"), QStringLiteral("成功采集次数：1 失败次数：0"));
        QCOMPARE(win.get<QLineEdit>("rcv232")->text(), QString());

        win.modules.remove(1);  // module 1 falls silent
        win.poll();             // polls 3
        win.poll();             // polls 1: no answer
        win.poll();             // marks 1 as failed, polls 3
        QCOMPARE(win.cells(1), QStringLiteral("0/0"));
        QCOMPARE(win.text("Label6"), QStringLiteral("成功采集次数：3 失败次数：1"));
        QCOMPARE(ModuleWindow::state().cycle.failCount, 1);
        for (const QByteArray &f : win.sent()) QVERIFY(quint8(f[0]) != 2);

        win.w->Timer2_Timer();  // countdowns at 1: nothing yet
        win.w->Timer2_Timer();
        QCOMPARE(win.text("Label7"), QStringLiteral("0小时0分2秒"));
        // Only module 3 holds a reading: no record of the failed module 1, none
        // of the disabled module 2.
        QCOMPARE(app.db().rows(QStringLiteral("select adr, temp, hum from th")),
                 (QList<QVariantList>{{3, -10.0, 60.1}}));

        win.click("Command3");
        QCOMPARE(win.text("Command3"), QStringLiteral("采集"));
        QVERIFY(!Module1::rs232busy());
        QVERIFY(!win.timer("Timer1")->isActive() && !win.timer("Timer2")->isActive());
        QVERIFY(win.get<QPushButton>("Command5")->isEnabled());
        QVERIFY(app.boxes.shown.isEmpty());
    }

    void replies()
    {
        AppFixture app;
        app.db().addModule(1);
        app.db().addModule(2);
        Window win(app);
        auto *rcv = win.get<QLineEdit>("rcv232");
        const QByteArray example = readingFrame(1, 0x00EB, 0x0226);

        // Stopped after a start (still registered): a reading is not taken and
        // stays in the box.
        win.click("Command3");
        win.click("Command3");
        win.reply(example);
        QCOMPARE(rcv->text(), receiveText(example));
        QCOMPARE(win.cells(1), QStringLiteral("/"));
        win.click("Command3");
        QCOMPARE(rcv->text(), QString());  // the start clears it

        win.poll();                                  // polls 2
        win.reply(readingFrame(1, 0x00EB, 0x0226));  // not the polled module
        QCOMPARE(win.cells(1), QStringLiteral("/"));
        QCOMPARE(win.cells(2), QStringLiteral("/"));
        QCOMPARE(ModuleWindow::state().cycle.okCount, 0);
        QVERIFY(!rcv->text().isEmpty());

        win.poll();  // 2 failed, polls 1
        QCOMPARE(win.cells(2), QStringLiteral("0/0"));
        QByteArray bad = example;
        bad[8] = char(bad[8] ^ 0x01);
        win.reply(bad);  // CRC does not check
        QCOMPARE(win.cells(1), QStringLiteral("/"));
        QCOMPARE(ModuleWindow::state().cycle.okCount, 0);
        win.reply(example);  // the good one still counts for this poll
        QCOMPARE(win.cells(1), QStringLiteral("23.5/55"));
        QCOMPARE(rcv->text(), QString());
        QCOMPARE(ModuleWindow::state().cycle.okCount, 1);

        win.poll();                                    // polls 2
        win.reply(QByteArray::fromHex("0284022c31"));  // exception reply: cleared, not counted
        QCOMPARE(rcv->text(), QString());
        win.poll();  // 2 failed again, polls 1
        QCOMPARE(ModuleWindow::state().cycle.failCount, 2);
        // The same text as the reply before is handled again.
        win.reply(example);
        QCOMPARE(ModuleWindow::state().cycle.okCount, 2);
        win.poll();
        win.poll();
        win.reply(example);
        QCOMPARE(ModuleWindow::state().cycle.okCount, 3);
        QVERIFY(app.boxes.shown.isEmpty());
    }

    void invalidPeriodRefused_data()
    {
        QTest::addColumn<QString>("period");
        QTest::newRow("empty") << "";
        QTest::newRow("zero") << "0";
        QTest::newRow("letters") << "abc";
        QTest::newRow("negative") << "-600";
    }

    void invalidPeriodRefused()
    {
        QFETCH(QString, period);
        AppFixture app;
        app.db().addModule(1);
        Window win(app);
        win.get<QLineEdit>("Text2")->setText(period);
        win.click("Command3");
        QCOMPARE(app.boxes.shown.size(), 1);
        QVERIFY(app.boxes.shown[0].text.contains(QStringLiteral("采集周期")));
        QCOMPARE(win.text("Command3"), QStringLiteral("采集"));
        QVERIFY(!win.timer("Timer1")->isActive());
        QVERIFY(!Module1::rs232busy());
    }

    void periodTypedWhileAcquiring()
    {
        AppFixture app;
        Window win(app);
        win.get<QLineEdit>("Text2")->setText(QStringLiteral("50"));
        win.click("Command3");
        QCOMPARE(win.timer("Timer1")->interval(), 50);
        win.get<QLineEdit>("Text2")->setText(QStringLiteral("120"));
        QCOMPARE(win.timer("Timer1")->interval(), 120);
        win.get<QLineEdit>("Text2")->clear();  // keeps the previous rate
        QCOMPARE(win.timer("Timer1")->interval(), 120);
        QVERIFY(win.timer("Timer1")->isActive());
        win.get<QLineEdit>("Text19")->setText(QStringLiteral("80"));
        QCOMPARE(win.timer("Timer4")->interval(), 80);
    }

    void busyPortNotTaken()
    {
        AppFixture app;
        Window win(app);
        Module1::rs232busy() = true;
        win.click("Command3");
        QCOMPARE(win.text("Command3"), QStringLiteral("采集"));
        QVERIFY(!win.timer("Timer1")->isActive());
        QVERIFY(app.boxes.shown.isEmpty());
    }

    void portClosedDuringPoll()
    {
        AppFixture app;
        app.db().addModule(1);
        Window win(app);
        win.click("Command3");
        app.fakePort()->setOpen(false);
        win.w->Timer1_Timer();
        QCOMPARE(app.boxes.texts(), QStringList{QStringLiteral("请先打开串口")});
        QVERIFY(!win.timer("Timer1")->isActive());
        QVERIFY(win.timer("Timer2")->isActive());  // the clock goes on until 停止
        QVERIFY(!Module1::rs232busy());
        QCOMPARE(win.text("Command3"), QStringLiteral("停止"));
        for (const char *b : {"Command2", "Command3", "Command5"})
            QVERIFY(win.get<QPushButton>(b)->isEnabled());
        win.click("Command3");
        QCOMPARE(win.text("Command3"), QStringLiteral("采集"));
        QVERIFY(!win.timer("Timer2")->isActive());
    }

    void resetCounters()
    {
        AppFixture app;
        app.db().addModule(1);
        Window win(app);
        win.click("Command3");
        win.poll();
        win.poll();
        win.poll();
        win.click("Command4");
        QCOMPARE(win.text("Label6"), QStringLiteral("采集成功次数：0 失败次数：0"));
        win.poll();
        QCOMPARE(win.text("Label6"), QStringLiteral("成功采集次数：0 失败次数：1"));
    }

    void failedInsertShownOnceAndAcquisitionGoesOn()
    {
        AppFixture app;
        app.db().addModule(1);
        app.db().exec(QStringLiteral("update dbQx7 set scan=1"));
        app.db().exec(
            QStringLiteral("create trigger diskfull before insert on th "
                           "begin select raise(abort, 'database or disk is full'); end"));
        Window win(app);
        win.modules = {{1, {200, 300}}};
        win.click("Command3");
        win.poll();
        for (int i = 0; i < 5; ++i) win.w->Timer2_Timer();
        QVERIFY(app.boxes.shown.isEmpty());
        QVERIFY(win.w->statusText().contains(QStringLiteral("disk is full")));
        QVERIFY(win.get<QLabel>("statusText")->isVisibleTo(win.w));
        QVERIFY(win.timer("Timer1")->isActive());
        QCOMPARE(app.db().scalar(QStringLiteral("select count(*) from th")).toInt(), 0);

        // Space again: the record goes in at the next second and the note goes.
        app.db().exec(QStringLiteral("drop trigger diskfull"));
        win.w->Timer2_Timer();
        QCOMPARE(app.db().scalar(QStringLiteral("select count(*) from th")).toInt(), 1);
        QVERIFY(win.w->statusText().isEmpty());
        QVERIFY(!win.get<QLabel>("statusText")->isVisibleTo(win.w));
    }

    void closingReleasesThePort_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("menu") << "menu";
        QTest::newRow("exit button") << "Command1";
        QTest::newRow("close box") << "close";
        QTest::newRow("menu while searching") << "search";
    }

    void closingReleasesThePort()
    {
        QFETCH(QString, how);
        AppFixture app;
        app.db().addModule(1);
        {
            Window win(app);
            win.modules = {{1, {250, 600}}};
            win.click("Command3");
            win.poll();
            win.poll();
            if (how == "search") {
                win.click("Command3");
                win.click("Command5");
                win.probe();
            }
            QVERIFY(Module1::rs232busy());
            if (how == "menu" || how == "search")
                app.menu("sigboard");  // the console takes the window's place
            else if (how == "Command1")
                win.click("Command1");
            else
                qobject_cast<QMdiSubWindow *>(win.w->parentWidget())->close();
            flushDeletes();
            QVERIFY(!app.find("module"));
            QVERIFY(!Module1::rs232busy());
        }

        // Opened again: the counters go on, the labels start from their
        // design texts, and 采集 works.
        Window again(app);
        QCOMPARE(ModuleWindow::state().cycle.okCount, 2);
        QCOMPARE(again.text("Label6"), QStringLiteral("采集成功次数：0 失败次数：0"));
        QCOMPARE(again.text("Command3"), QStringLiteral("采集"));
        app.fakePort()->written.clear();
        again.modules = {{1, {250, 600}}};
        again.click("Command3");
        QVERIFY(Module1::rs232busy());
        again.poll();
        QCOMPARE(again.sent(), QByteArrayList{measurementRequest(1)});
        QCOMPARE(again.text("Label6"), QStringLiteral("成功采集次数：2 失败次数：0"));
        QCOMPARE(again.cells(1), QStringLiteral("25/60"));
    }

    void doubleClickOpensEditor()
    {
        AppFixture app;
        app.db().addModule(4);
        Window win(app);
        win.w->ListView1_DblClick();
        QVERIFY(Module1::editQx7IfOpen());
        QVERIFY(Module1::editQx7IfOpen()->isVisible());
    }
    void searchAsksForEachAnsweringModule()
    {
        AppFixture app;
        app.db().addModule(7);
        Window win(app);
        win.models = {{2, 0x0007}, {7, 0x0007}, {9, 0x1A2B}};
        win.get<QLineEdit>("Text19")->setText(QStringLiteral("20"));
        app.boxes.answers = {MsgAnswer::Yes, MsgAnswer::No};
        QList<bool> timerRunningWhileAsked;
        app.boxes.onShow = [&](const MsgRequest &) {
            timerRunningWhileAsked << win.timer("Timer4")->isActive();
        };

        win.click("Command5");
        QVERIFY(Module1::rs232busy());
        QVERIFY(win.timer("Timer4")->isActive());
        QCOMPARE(win.timer("Timer4")->interval(), 20);
        QCOMPARE(win.text("Command5"), QStringLiteral("搜索模块"));  // until the first tick
        QVERIFY(!win.get<QPushButton>("Command3")->isEnabled());
        QVERIFY(!win.get<QPushButton>("Command2")->isEnabled());
        // 采集 does nothing while the search holds the port.
        win.w->Command3_Click();
        QVERIFY(!win.timer("Timer1")->isActive());

        win.probe();
        QCOMPARE(win.sent(), QByteArrayList{readRegisterRequest(1, modbus::kRegModel)});
        QCOMPARE(win.sent().first().toHex(' '), QByteArray("01 03 00 02 00 01 25 ca"));
        QCOMPARE(win.text("Command5"), QStringLiteral("地址：1"));
        win.probe();  // module 2 answers: asked, Yes
        win.probe();
        QCOMPARE(win.text("Command5"), QStringLiteral("地址：3"));
        for (int i = 4; i <= 9; ++i)
            win.probe();  // 7 is registered already: not asked; 9 answers: No
        QCOMPARE(app.boxes.texts(),
                 (QStringList{QStringLiteral("找到地址为2型号为0007的模块，要加到系统中吗?"),
                              QStringLiteral("找到地址为9型号为1A2B的模块，要加到系统中吗?")}));
        QCOMPARE(app.boxes.shown[0].title, QStringLiteral("Add Device"));
        QCOMPARE(int(app.boxes.shown[0].icon), int(MsgIcon::Question));
        QCOMPARE(int(app.boxes.shown[0].buttons), int(MsgButtons::YesNo));
        QCOMPARE(timerRunningWhileAsked, (QList<bool>{false, false}));
        QVERIFY(win.timer("Timer4")->isActive());  // started again after each question

        // Only module 2 was added, with the defaults of the table.
        QCOMPARE(
            app.db().rows(
                QStringLiteral("select adr, name, enorno, scan, alarm from dbQx7 order by id")),
            (QList<QVariantList>{{"7", "0007", "是", 60, "否"}, {"2", "0007", "是", 60, "否"}}));
        QCOMPARE(win.w->modules()->count(), 2);
        QCOMPARE(win.text("Label4"), QStringLiteral("系统中现有2个模块"));

        for (int i = 10; i <= 255; ++i) win.probe();
        QCOMPARE(win.sent().size(), 255);
        QCOMPARE(win.text("Command5"), QStringLiteral("搜索模块"));
        QVERIFY(!win.timer("Timer4")->isActive());
        QVERIFY(!Module1::rs232busy());
        QVERIFY(win.get<QPushButton>("Command3")->isEnabled());
        QVERIFY(win.get<QPushButton>("Command2")->isEnabled());

        // An answer after the end is not taken.
        win.reply(modelFrame(9, 0x1A2B));
        QCOMPARE(app.boxes.shown.size(), 2);
    }

    void searchAnswersChecked()
    {
        AppFixture app;
        app.db().exec(
            QStringLiteral("create trigger nospace before insert on dbQx7 when new.adr = '4' "
                           "begin select raise(abort, 'database or disk is full'); end"));
        Window win(app);
        win.click("Command5");
        win.probe();
        QByteArray spoilt = modelFrame(1, 7);
        spoilt[6] = char(spoilt[6] ^ 0x40);
        win.reply(spoilt);  // the CRC does not check: ignored
        QVERIFY(app.boxes.shown.isEmpty());
        QVERIFY(win.timer("Timer4")->isActive());
        win.reply(readingFrame(1, 1, 1));  // not an answer to a probe
        QVERIFY(app.boxes.shown.isEmpty());

        app.boxes.answers = {MsgAnswer::Yes};
        win.reply(modelFrame(4, 7));  // Yes, but the insert fails: said, and the search goes on
        QCOMPARE(app.boxes.shown.size(), 2);
        QVERIFY(app.boxes.shown[1].text.startsWith(QStringLiteral("无法添加地址为4的模块：")));
        QVERIFY(app.boxes.shown[1].text.contains(QStringLiteral("disk is full")));
        QVERIFY(win.timer("Timer4")->isActive());
        QCOMPARE(win.w->modules()->count(), 0);

        // 搜索模块 while it searches stops it.
        win.click("Command5");
        QCOMPARE(win.text("Command5"), QStringLiteral("搜索模块"));
        QVERIFY(!win.timer("Timer4")->isActive());
        QVERIFY(!Module1::rs232busy());
    }

    void searchStoppedWhileAsking()
    {
        AppFixture app;
        Window win(app);
        win.models = {{1, 7}};
        win.click("Command5");
        app.boxes.onShow = [&](const MsgRequest &) { win.click("Command5"); };
        app.boxes.answers = {MsgAnswer::No};
        win.probe();
        QCOMPARE(app.boxes.shown.size(), 1);
        QVERIFY(!win.timer("Timer4")->isActive());  // not started again
        QVERIFY(!Module1::rs232busy());
    }

    void searchNotStarted_data()
    {
        QTest::addColumn<QString>("period");
        QTest::addColumn<bool>("busy");
        QTest::newRow("empty period") << "" << false;
        QTest::newRow("zero period") << "0" << false;
        QTest::newRow("letters") << "5OO" << false;
        QTest::newRow("port held") << "500" << true;
    }

    void searchNotStarted()
    {
        QFETCH(QString, period);
        QFETCH(bool, busy);
        AppFixture app;
        Window win(app);
        win.get<QLineEdit>("Text19")->setText(period);
        Module1::rs232busy() = busy;
        win.click("Command5");
        QVERIFY(!win.timer("Timer4")->isActive());
        QCOMPARE(app.boxes.shown.size(), busy ? 0 : 1);
        if (!busy)
            QVERIFY(app.boxes.shown[0].text.contains(QStringLiteral("搜索周期")));
        QCOMPARE(Module1::rs232busy(), busy);
        QVERIFY(win.get<QPushButton>("Command3")->isEnabled());
    }

    void searchPortClosed()
    {
        AppFixture app;
        Window win(app);
        win.click("Command5");
        win.probe();
        win.probe();
        app.fakePort()->setOpen(false);
        win.w->Timer4_Timer();
        QCOMPARE(app.boxes.texts(), QStringList{QStringLiteral("请先打开串口")});
        QVERIFY(!win.timer("Timer4")->isActive());
        QVERIFY(!Module1::rs232busy());
        QCOMPARE(win.text("Command5"), QStringLiteral("地址：2"));
        for (const char *b : {"Command2", "Command3", "Command5"})
            QVERIFY(win.get<QPushButton>(b)->isEnabled());
        win.click("Command5");  // back to idle
        QCOMPARE(win.text("Command5"), QStringLiteral("搜索模块"));
        QVERIFY(!Module1::rs232busy());
    }

    void addressChange()
    {
        AppFixture app;
        app.db().addModule(1);
        Window win(app);
        win.click("Command2");
        QCOMPARE(win.sent(), QByteArrayList{writeRegisterRequest(1, modbus::kRegAddress, 2)});
        QCOMPARE(win.sent().first().toHex(' '), QByteArray("01 06 00 00 00 02 08 0b"));
        QCOMPARE(win.w->modules()->at(1).address, QStringLiteral("1"));
        QVERIFY(!Module1::rs232busy());
        QVERIFY(app.boxes.shown.isEmpty());

        win.get<QLineEdit>("Text16")->setText(QStringLiteral(" 12 "));
        win.get<QLineEdit>("Text1")->setText(QStringLiteral("255"));
        win.click("Command2");
        QCOMPARE(win.sent().last(), writeRegisterRequest(12, modbus::kRegAddress, 255));
    }

    void addressChangeRefused_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("to");
        QTest::addColumn<QString>("box");
        QTest::newRow("new too large") << "1"
                                       << "256"
                                       << "更换为";
        QTest::newRow("new negative") << "1"
                                      << "-1"
                                      << "更换为";
        QTest::newRow("new empty") << "1"
                                   << ""
                                   << "更换为";
        QTest::newRow("old letters") << "a"
                                     << "2"
                                     << "将模块";
        QTest::newRow("old decimal") << "1.5"
                                     << "2"
                                     << "将模块";
    }

    void addressChangeRefused()
    {
        QFETCH(QString, from);
        QFETCH(QString, to);
        QFETCH(QString, box);
        AppFixture app;
        Window win(app);
        win.get<QLineEdit>("Text16")->setText(from);
        win.get<QLineEdit>("Text1")->setText(to);
        win.click("Command2");
        QVERIFY(win.sent().isEmpty());
        QCOMPARE(app.boxes.shown.size(), 1);
        QVERIFY(app.boxes.shown[0].text.contains(QStringLiteral("0到255")));
        QVERIFY(app.boxes.shown[0].text.contains(box));
    }

    void addressChangePortClosed()
    {
        AppFixture app;
        Window win(app);
        app.fakePort()->setOpen(false);
        Module1::rs232busy() = true;
        win.click("Command2");
        QCOMPARE(app.boxes.texts(), QStringList{QStringLiteral("请先打开串口")});
        QVERIFY(!Module1::rs232busy());
    }
};

QTEST_MAIN(TestModuleWindow)
#include "tst_modulewindow.moc"
