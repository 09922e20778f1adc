// The acquisition window on an in-memory port: start and stop, one poll per
// tick, replies into the list, counters and run time, records into th, the
// bus search and the address change, and what happens when the port, a
// period or the database fails. The decisions themselves are tested in
// tst_acquisitioncycle; here they are wired to controls, timers and the port.
#include "ModuleReplies.h"
#include "acquisition/ModuleList.h"
#include "acquisition/ui/ModuleWindow.h"
#include "bus/BusLink.h"
#include "bus/FrameAssembler.h"
#include "bus/HexText.h"
#include "store/RecordWriter.h"
#include "store/Schema.h"
#include "support/AppFixture.h"

#include <QLabel>
#include <QLineEdit>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QTimer>

namespace {
const QString kAcquiring = "Timer1 Timer2 !Command2 !Command5 busy";
const QString kSearching = "Timer4 !Command2 !Command3 busy";

// The window, opened on the modules registered at `modules` (then `sql`
// run), with handy access to its controls, and modules that answer on the
// fake port like real ones.
struct Window {
    AppFixture &app;
    ModuleWindow *w = nullptr;
    // What the modules on the bus answer: a reply goes out for each request
    // to its address with its function (a reading, or the model for a probe).
    QByteArrayList answers;

    explicit Window(AppFixture &a, const QList<int> &modules = {}, const QString &sql = {})
        : app(a) {
        for (int m : modules) app.db().addModule(m);
        if (!sql.isEmpty())
            app.db().exec(sql);
        app.menu("board");
        w = qobject_cast<ModuleWindow *>(app.find("module"));
        app.fakePort()->onWrite = [this](const QByteArray &frame) {
            for (const QByteArray &r : answers) {
                if (frame.size() == 8 && r.left(2) == frame.left(2))
                    app.fakePort()->inject(r);
            }
        };
    }
    template <class T = QPushButton>
    T *get(const char *name) const {
        return w->findChild<T *>(QString::fromLatin1(name));
    }
    QString text(const char *name) const { return get<QWidget>(name)->property("text").toString(); }
    void set(const char *box, const QString &text) const { get<QLineEdit>(box)->setText(text); }
    QTimer *timer(const char *name) const { return get<QTimer>(name); }
    void click(const char *name) const { get(name)->click(); }
    // What runs and what is refused: the active timers, "!" and each disabled
    // button, and "busy" while the port is held.
    QString jobs() const {
        QStringList out;
        for (const char *t : {"Timer1", "Timer2", "Timer4"}) out << (timer(t)->isActive() ? t : "");
        for (const char *b : {"Command2", "Command3", "Command5"})
            out << (get(b)->isEnabled() ? "" : QString("!") + b);
        out << (app.bus().isBusy() ? "busy" : "");
        out.removeAll("");
        return out.join(" ");
    }
    // Poll or search ticks, each answer (if any) handed over as one frame.
    void poll(int ticks = 1) const { run(&AcquisitionJobs::pollTick, ticks); }
    void probe(int ticks = 1) const { run(&AcquisitionJobs::searchTick, ticks); }
    void run(void (AcquisitionJobs::*timer)(), int ticks) const {
        for (int i = 0; i < ticks; ++i) {
            (w->jobs()->*timer)();
            reply({});
        }
    }
    void reply(const QByteArray &bytes) const {
        app.fakePort()->inject(bytes);
        app.bus().frames()->endOfFrame();
    }
    QString cells(int p) const {
        return w->modules()->at(p).temperature + "/" + w->modules()->at(p).humidity;
    }
    QByteArrayList sent() const { return app.fakePort()->written; }
};
}  // namespace

class TestModuleWindow : public QObject {
    Q_OBJECT
private Q_SLOTS:

    void acquireAndRecord() {
        AppFixture app;
        Window win(app, {1, 2, 3},
                   "update dbQx7 set scan=2; update dbQx7 set enorno='否' where adr='2'");
        QCOMPARE(win.jobs(), "");  // nothing runs as it opens

        win.answers = {readingFrame(1, 235, 550), readingFrame(2, 111, 111),
                       readingFrame(3, 0xFF9C, 601)};
        win.set("Text2", "50");
        win.click("Command3");
        QCOMPARE(win.text("Command3"), "停止");
        QCOMPARE(win.jobs(), kAcquiring);
        // A period typed while acquiring takes effect at once; clearing the box
        // keeps the rate.
        QCOMPARE(win.timer("Timer1")->interval(), 50);
        win.set("Text2", "120");
        win.set("Text2", "");
        QCOMPARE(win.timer("Timer1")->interval(), 120);

        win.poll();  // position 2 is disabled: polls 3
        QCOMPARE(win.sent(), QByteArrayList{measurementRequest(3)});
        QCOMPARE(win.text("Label1"), "现在采集模块：3");
        QCOMPARE(win.text("Label6"), "成功采集次数：0 失败次数：0");
        QCOMPARE(win.cells(3), "-10/60.1");
        win.poll();
        QCOMPARE(win.cells(1), "23.5/55");
        QCOMPARE(win.text("Label6"), "成功采集次数：1 失败次数：0");
        win.answers.removeFirst();  // module 1 falls silent
        win.poll(3);                // polls 3, polls 1 (no answer), marks 1 as failed and polls 3
        QCOMPARE(win.cells(1), "0/0");
        QCOMPARE(win.text("Label6"), "成功采集次数：3 失败次数：1");

        for (int i = 0; i < 3; ++i)
            win.w->jobs()->clockTick();  // period 2: due in the third second
        QCOMPARE(win.text("Label7"), "0小时0分3秒");
        // Only module 3 holds a reading: no record of the failed module 1, none
        // of the disabled module 2.
        QVERIFY(app.services().writer().flush(5000));
        QCOMPARE(app.db().rows("select adr, temp, hum from th"),
                 (QList<QVariantList>{{3, -10.0, 60.1}}));

        // Another program holds the database: the record waits, the window
        // says so under the counters (no box), and the polling goes on. Once
        // the database is free the record goes in.
        win.set("Text2", "600000");  // no poll of the timer's own while the test waits
        LiteConnection other;
        QVERIFY(app.db().holdExclusively(other));
        win.w->jobs()->clockTick();
        win.w->jobs()->clockTick();  // due, and waiting
        auto *status = win.get<QLabel>("statusText");
        QTRY_VERIFY(status->isVisibleTo(win.w) && status->text().contains("database is locked") &&
                    status->text().contains("1条记录等待保存"));
        QCOMPARE(win.jobs(), kAcquiring);
        QVERIFY(other.Execute("ROLLBACK"));
        QTRY_VERIFY(!status->isVisibleTo(win.w) && status->text().isEmpty());
        QCOMPARE(app.db().rows("select adr, temp, hum from th"),
                 (QList<QVariantList>{{3, -10.0, 60.1}, {3, -10.0, 60.1}}));

        // 计数清零 while acquiring: its own word order, then the next tick
        // counts from zero.
        win.click("Command4");
        QCOMPARE(win.text("Label6"), "采集成功次数：0 失败次数：0");
        win.poll(2);  // polls 1 (no answer), marks it and polls 3
        QCOMPARE(win.text("Label6"), "成功采集次数：0 失败次数：1");

        win.click("Command3");
        QCOMPARE(win.text("Command3") + win.jobs(), "采集");
        QVERIFY(app.boxes.shown.isEmpty());
    }

    // Alarms on the list: a module above its limit and one that falls silent
    // are marked red, named under the list and beeped once each; their starts
    // go into alarmlog; a silent module whose 报警 is 否 has none. Stopping ends every alarm on
    // (no value); a 开始 an earlier run left open gets its 结束 at the start.
    // Nothing asks the operator anything.
    void alarms() {
        AppFixture app;
        // The rows marked red, "!" each.
        auto marked = [](ModuleWindow *w) {
            QString out;
            for (int row = 0; row < 3; ++row) {
                const QModelIndex i = w->modules()->index(row, ModuleListModel::Temperature);
                out += i.data(Qt::BackgroundRole).isValid() && i.data(Qt::ForegroundRole).isValid()
                           ? "!"
                           : ".";
            }
            return out;
        };
        auto logged = [&] {
            QStringList out;
            for (const QVariantList &r : app.db().rows(
                     "select adr || ' ' || kind || ' ' || ifnull(value, '-') || ' ' || state, "
                     "datetime(mydate) is mydate from alarmlog order by id"))
                out << r[0].toString() + (r[1].toBool() ? "" : " at a bad time");
            return out;
        };

        Window win(app, {1, 2, 3},
                   "update dbQx7 set alarm='是' where adr in ('1', '3'); " +
                       schema::createAlarmLimitTable() +
                       "; insert into alarmlimit (adr, thigh) values ('1', 30); " +
                       schema::createAlarmLogTable() +
                       "; insert into alarmlog (adr, mydate, kind, value, state) values "
                       "(2, '2024-01-01 00:00:00', '湿度过高', 90, '开始')");
        auto *line = win.get<QLabel>("alarmText");
        QVERIFY(line->isHidden());
        win.answers = {readingFrame(1, 312, 500)};  // 2 and 3 stay silent
        win.set("Text2", "600000");
        win.click("Command3");
        win.poll(3);  // 2, 3, then 1 answers 31.2
        QCOMPARE(marked(win.w), "!..");
        QCOMPARE(app.beeps, 1);
        QVERIFY(line->isVisibleTo(win.w));
        QVERIFY(line->text().startsWith("正在报警：模块1 温度过高（始于"));
        win.poll(6);  // the third failure of module 3 is marked in the ninth tick
        QCOMPARE(marked(win.w), "!.!");
        QCOMPARE(app.beeps, 2);
        QVERIFY(line->text().contains("；模块3 无应答（始于"));
        QVERIFY(app.services().writer().flush(5000));
        QCOMPARE(logged(), (QStringList{"2 湿度过高 90.0 开始", "2 湿度过高 - 结束",
                                        "1 温度过高 31.2 开始", "3 无应答 - 开始"}));
        QCOMPARE(app.db().scalar("select count(*) from alarmlog where adr=2 and mydate = "
                                 "(select mydate from alarmlog where adr=1)"),
                 1);

        // 停止 ends both at once.
        win.click("Command3");
        QCOMPARE(marked(win.w), "...");
        QVERIFY(line->isHidden());
        QVERIFY(app.services().writer().flush(5000));
        QCOMPARE(logged().mid(4), (QStringList{"1 温度过高 - 结束", "3 无应答 - 结束"}));
        QVERIFY(app.boxes.shown.isEmpty());
    }

    // The device goes away while acquiring: nothing is recorded, but the
    // polling waits for the port (停止 still ends it) and a module that
    // cannot be polled gets its no-reply alarm after three rounds, as on a
    // silent bus. The frame reopens the port every 2 s and the polling goes
    // on by itself, also while a box waits for the operator; the first
    // reading ends the alarm. Counters carry on.
    void portLostAndRecovered() {
        AppFixture app;
        Window win(app, {1}, "update dbQx7 set scan=1, alarm='是'");
        win.answers = {readingFrame(1, 250, 600)};
        win.click("Command3");
        win.poll(2);
        const AcquisitionCycle &cycle = app.services().acquisition().cycle();
        QCOMPARE(cycle.okCount, 2);
        BusLink *bus = &app.bus();
        auto *status = win.get<QLabel>("statusText");

        app.fakePort()->unplug();
        QCOMPARE(win.text("Command3") + " " + win.jobs(), "停止 Timer1 !Command2 !Command5");
        QVERIFY(status->text().contains("串口已断开，等待串口恢复后自动继续采集"));
        QCOMPARE(app.frame()->statusBar()->currentMessage(), "串口COM1已断开，正在重新打开…");
        QVERIFY(bus->reopenTimer()->isActive());
        QCOMPARE(bus->reopenTimer()->interval(), 2000);
        win.poll(2);
        QVERIFY(win.w->alarmText().isEmpty());
        win.poll();
        QVERIFY(win.w->alarmText().startsWith("正在报警：模块1 无应答"));
        QCOMPARE(app.beeps, 1);
        // (That it keeps trying while the device stays away, without a box, is
        // seen end to end.)

        // Back while the about box waits for the operator.
        app.boxes.onShow = [&](const MsgRequest &) { bus->reopenTick(); };
        app.menu("about");
        QCOMPARE(app.boxes.shown.size(), 1);
        QCOMPARE(app.frame()->statusBar()->currentMessage(), "串口COM1已重新打开");
        QVERIFY(!bus->reopenTimer()->isActive());
        QCOMPARE(win.text("Command3") + " " + win.jobs(), "停止 " + kAcquiring);
        QVERIFY(status->text().contains("串口已恢复，采集已自动继续"));
        win.poll(2);
        QCOMPARE(cycle.okCount, 4);
        QVERIFY(win.w->alarmText().isEmpty());
        QVERIFY(app.services().writer().flush(5000));
        QCOMPARE(app.db().scalar("select group_concat(kind || state, ' ') from alarmlog"),
                 "无应答开始 无应答结束");

        // Lost while searching: the search ends and stays ended.
        win.click("Command3");
        win.click("Command5");
        app.fakePort()->unplug();
        QCOMPARE(win.text("Command5") + win.jobs(), "搜索模块");
        bus->reopenTick();
        QCOMPARE(win.jobs(), "");
        QVERIFY(status->text().contains("串口已断开，搜索已停止"));
    }

    // Modules that are listed but never polled are named under the list; a
    // list that could not be read is said, and shows no module, until a
    // reload succeeds.
    void listNotes() {
        AppFixture app;
        Window win(app, {1}, "insert into dbQx7 (adr, name) values ('300', 'Z')");
        auto *status = win.get<QLabel>("statusText");
        QCOMPARE(status->text(), "模块“300”的地址不是0到255的整数，不会被采集");
        app.db().exec("alter table dbQx7 rename to gone");
        win.w->LoadGrid1();
        QVERIFY(status->text().startsWith("无法读取模块列表：") &&
                status->text().contains("dbQx7"));
        QCOMPARE(win.w->modules()->count(), 0);
        app.db().exec("alter table gone rename to dbQx7");
        app.db().exec("delete from dbQx7 where adr='300'");
        win.w->LoadGrid1();
        QVERIFY(!status->isVisibleTo(win.w));
        QCOMPARE(win.text("Label4"), "系统中现有1个模块");
    }

    void replies() {
        AppFixture app;
        Window win(app, {1, 2});
        const AcquisitionCycle &cycle = app.services().acquisition().cycle();
        // Both rows, the counts, and whether the reply stayed in the box.
        auto seen = [&] {
            return win.cells(1) + " " + win.cells(2) +
                   QString(" %1/%2").arg(cycle.okCount).arg(cycle.failCount) +
                   (win.text("rcv232").isEmpty() ? "" : " kept");
        };
        const QByteArray example = readingFrame(1, 0x00EB, 0x0226);
        QByteArray bad = readingFrame(2, 0x00EB, 0x0226);
        bad[8] = char(bad[8] ^ 0x01);

        // Stopped with a poll out (still registered): its reading is not taken
        // and stays in the box until the next start clears it.
        win.click("Command3");
        win.poll();  // polls 2
        win.click("Command3");
        win.reply(readingFrame(2, 0x00EB, 0x0226));
        QCOMPARE(seen(), "/ / 0/0 kept");
        win.click("Command3");
        QCOMPARE(seen(), "/ / 0/0");

        win.poll();          // polls 2
        win.reply(example);  // not the polled module
        QCOMPARE(seen(), "/ / 0/0 kept");
        win.reply(bad);  // the CRC does not check
        QCOMPARE(seen(), "/ / 0/0 kept");
        win.reply(QByteArray::fromHex("0284022c31"));  // an exception reply: cleared, not counted
        QCOMPARE(seen(), "/ / 0/0");
        win.reply(QByteArray::fromHex("02"));  // a lone byte stays in the box
        QCOMPARE(seen(), "/ / 0/0 kept");
        win.reply(readingFrame(2, 0xFF9C, 0x0258));  // the good one still counts for this poll
        QCOMPARE(seen(), "/ -10/60 1/0");
        win.poll();  // polls 1
        win.reply(example);
        QCOMPARE(seen(), "23.5/55 -10/60 2/0");
        win.poll(2);         // polls 2, which stays silent; marks it as failed, polls 1
        win.reply(example);  // the same text as the reply before is handled again
        QCOMPARE(seen(), "23.5/55 0/0 3/1");
        QVERIFY(app.boxes.shown.isEmpty());
    }

    void closingReleasesThePort() {
        AppFixture app;
        app.db().addModule(1);
        for (const QString how : {"menu", "Command1", "close box", "menu while searching"}) {
            Window win(app);
            win.answers = {readingFrame(1, 250, 600)};
            win.click("Command3");
            win.poll(2);
            if (how == "menu while searching") {
                win.click("Command3");
                win.click("Command5");
                win.probe();
            }
            QVERIFY(app.bus().isBusy());
            if (how.startsWith("menu"))
                app.menu("sigboard");  // the console takes the window's place
            else if (how == "Command1")
                win.click("Command1");
            else
                qobject_cast<QMdiSubWindow *>(win.w->parentWidget())->close();
            flushDeletes();
            QVERIFY2(!app.find("module") && !app.bus().isBusy(), qPrintable(how));
        }

        // Opened again: the counters go on, the labels start from their
        // design texts, and 采集 works.
        Window again(app);
        QCOMPARE(again.text("Label6"), "采集成功次数：0 失败次数：0");
        again.answers = {readingFrame(1, 250, 600)};
        again.click("Command3");
        QCOMPARE(again.jobs(), kAcquiring);
        again.poll();
        QCOMPARE(again.text("Label6"), "成功采集次数：8 失败次数：0");
        QCOMPARE(again.cells(1), "25/60");
    }

    void searchAsksForEachAnsweringModule() {
        AppFixture app;
        Window win(app, {7});
        win.answers = {modelFrame(2, 0x0007), modelFrame(7, 0x0007), modelFrame(9, 0x1A2B)};
        win.set("Text19", "20");
        app.boxes.answers = {MsgAnswer::Yes, MsgAnswer::No};
        QStringList jobsWhileAsked;
        app.boxes.onShow = [&](const MsgRequest &) { jobsWhileAsked << win.jobs(); };

        win.click("Command5");
        QCOMPARE(win.jobs(), kSearching);
        QCOMPARE(win.text("Command5"), "搜索模块");  // until the first tick
        win.set("Text19", "30");  // a period typed while searching takes effect at once
        QCOMPARE(win.timer("Timer4")->interval(), 30);
        win.w->toggleAcquisition();  // 采集 does nothing while the search holds the port
        QCOMPARE(win.jobs(), kSearching);

        win.probe(3);  // module 2 answers: asked, Yes
        QCOMPARE(win.text("Command5"), "地址：3");
        win.probe(6);  // up to 9: 7 is registered already, not asked; 9 answers: No
        QCOMPARE(app.boxes.texts(), (QStringList{"找到地址为2型号为0007的模块，要加到系统中吗?",
                                                 "找到地址为9型号为1A2B的模块，要加到系统中吗?"}));
        QCOMPARE(int(app.boxes.shown[0].buttons), int(MsgButtons::YesNo));
        // No probe goes out while a question waits; the search goes on after it.
        const QString waiting = "!Command2 !Command3 busy";
        QCOMPARE(jobsWhileAsked, (QStringList{waiting, waiting}));
        QCOMPARE(win.jobs(), kSearching);
        QCOMPARE(win.text("Label4"), "系统中现有2个模块");  // module 2 added, the list reloaded

        win.probe(255 - 9);
        QCOMPARE(win.text("Command5") + win.jobs(), "搜索模块");
        win.reply(modelFrame(9, 0x1A2B));  // an answer after the end is not taken
        QCOMPARE(app.boxes.shown.size(), 2);
    }

    void searchAnswersChecked() {
        AppFixture app;
        Window win(app, {},
                   "create trigger nospace before insert on dbQx7 when new.adr = '4' "
                   "begin select raise(abort, 'database or disk is full'); end");
        win.click("Command5");
        win.probe();
        QByteArray spoilt = modelFrame(1, 7);
        spoilt[6] = char(spoilt[6] ^ 0x40);
        win.reply(spoilt);                 // the CRC does not check: ignored
        win.reply(readingFrame(1, 1, 1));  // not an answer to a probe
        QVERIFY(app.boxes.shown.isEmpty());
        QCOMPARE(win.jobs(), kSearching);

        app.boxes.answers = {MsgAnswer::Yes};
        win.reply(modelFrame(4, 7));  // Yes, but the insert fails: said, and the search goes on
        QCOMPARE(app.boxes.shown.size(), 2);
        QVERIFY(app.boxes.shown[1].text.startsWith("无法添加地址为4的模块：") &&
                app.boxes.shown[1].text.contains("disk is full"));
        QCOMPARE(win.jobs(), kSearching);
        QCOMPARE(win.w->modules()->count(), 0);

        // 搜索模块 pressed while a question waits stops the search for good.
        app.boxes.onShow = [&](const MsgRequest &) { win.click("Command5"); };
        app.boxes.answers = {MsgAnswer::No};
        win.reply(modelFrame(5, 7));
        QCOMPARE(app.boxes.shown.size(), 3);
        QCOMPARE(win.text("Command5"), "搜索模块");
        QCOMPARE(win.jobs(), "");
    }

    void refusals() {
        AppFixture app;
        Window win(app, {1});
        // An invalid period is said; a port held elsewhere is left alone without a word.
        QStringList said;
        for (const char *period : {"", "0", "5OO", "-600", "600"}) {
            if (QString(period) == "600")
                app.bus().seize(BusJob::ConsolePolling);
            else
                app.bus().releaseAny();
            for (auto [button, box, what] : {std::tuple{"Command3", "Text2", "采集周期"},
                                             std::tuple{"Command5", "Text19", "搜索周期"}}) {
                win.set(box, period);
                win.click(button);
                if (!app.bus().isBusy())
                    said << QString(what) + "必须是大于0的整数（毫秒），请重新输入。";
                QCOMPARE(app.boxes.texts(), said);
                QCOMPARE(win.jobs(), app.bus().isBusy() ? "busy" : "");
                QCOMPARE(win.text("Command3") + win.text("Command5"), "采集搜索模块");
            }
        }

        // Addresses (from, to): blanks around them are trimmed; one out of
        // range is said, naming its box, and nothing is sent.
        app.boxes.clear();
        app.bus().releaseAny();
        for (const QStringList &c :
             QList<QStringList>{{" 12 ", "255"}, {"1", "256"}, {"255.5", "2"}}) {
            win.set("Text16", c[0]);
            win.set("Text1", c[1]);
            win.click("Command2");
        }
        QCOMPARE(win.sent(), QByteArrayList{writeRegisterRequest(12, modbus::kRegAddress, 255)});
        QCOMPARE(app.boxes.texts(),
                 (QStringList{"模块地址必须是0到255之间的整数，请检查“更换为”后的地址。",
                              "模块地址必须是0到255之间的整数，请检查“将模块”后的地址。"}));

        // No port open while polling: said in a box, and the whole
        // acquisition stops (the clock too: nothing is recorded any more),
        // the port free and every button working again.
        app.boxes.clear();
        win.click("Command3");
        app.fakePort()->setOpen(false);
        win.w->jobs()->pollTick();
        QCOMPARE(app.boxes.texts(), QStringList{"请先打开串口"});
        QCOMPARE(win.text("Command3") + win.jobs(), "采集");

        // The same while searching.
        app.fakePort()->setOpen(true);
        win.click("Command5");
        win.probe(2);
        app.fakePort()->setOpen(false);
        win.w->jobs()->searchTick();
        QCOMPARE(app.boxes.texts().size(), 2);
        QCOMPARE(win.text("Command5") + win.jobs(), "搜索模块");

        // The address change frees the port too.
        win.set("Text16", "1");
        app.bus().seize(BusJob::ConsolePolling);
        win.click("Command2");
        QCOMPARE(app.boxes.texts(), QStringList(3, "请先打开串口"));
        QCOMPARE(win.jobs(), "");
    }
};

QTEST_MAIN(TestModuleWindow)
#include "tst_modulewindow.moc"
