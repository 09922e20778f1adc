// The module editor: it acts on the module it shows (a double click on
// another row fills it anew), saves with the module's update, removes with
// its delete, refuses a record period that the list could not load back and
// a save the database refuses, and survives a second save and its own
// closing while a question is open.
#include "acquisition/ModuleList.h"
#include "acquisition/ui/EditQx7.h"
#include "acquisition/ui/ModuleWindow.h"
#include "support/AppFixture.h"

#include <QCheckBox>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeView>

namespace {
// The statements other than queries that the program runs while this object
// lives, as their texts.
struct StatementLog {
    QStringList writes;
    LiteConnection &db;
    explicit StatementLog(AppFixture &app) : db(app.services().db()) {
        db.setTrace([this](const QString &sql) {
            if (!sql.startsWith("select", Qt::CaseInsensitive))
                writes << sql;
        });
    }
    ~StatementLog() { db.setTrace({}); }
};

// The module list on modules registered at `addresses` (then `sql` run), row
// `selected` selected (0: none), and the editor opened by a double click.
struct Editor {
    AppFixture app;
    ModuleWindow *list = nullptr;
    EditQx7 *e = nullptr;

    Editor(const QList<int> &addresses, int selected, const QString &sql = {}) {
        for (int a : addresses) app.db().addModule(a);
        if (!sql.isEmpty())
            app.db().exec(sql);
        app.menu("board");
        list = app.windows().moduleIfOpen();
        reopen(selected);
    }
    void select(int position) const {
        auto *view = list->findChild<QTreeView *>("ListView1");
        if (position > 0)
            view->selectionModel()->select(
                view->model()->index(position - 1, 0),
                QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    EditQx7 *open() const {
        list->editRequested();
        return app.windows().editQx7IfOpen();
    }
    // Selects the row at `position` (0: the selection as it is) and opens the
    // editor on it.
    void reopen(int position) {
        select(position);
        e = open();
    }
    template <class T = QLineEdit>
    T *get(const char *name) const {
        return e->findChild<T *>(QString::fromLatin1(name));
    }
    // The period box and the two check boxes.
    QString shown() const {
        return get("Text1")->text() + (get<QCheckBox>("Check1")->isChecked() ? " 是" : " 否") +
               (get<QCheckBox>("Check2")->isChecked() ? " 是" : " 否");
    }
    bool isOpen() const {
        flushDeletes();
        return app.windows().editQx7IfOpen() != nullptr;
    }
};
}  // namespace

class TestEditQx7 : public QObject {
    Q_OBJECT
private Q_SLOTS:

    void actsOnTheModuleItShows() {
        Editor ed(
            {3}, 2,
            "insert into dbQx7 (adr, name, enorno, scan, alarm) values (' 5 ', 'X', '', 0, '是')");
        QVERIFY(ed.e && ed.e->isVisible());
        QCOMPARE(ed.e->windowTitle(), "修改地址为5的模块参数");
        QCOMPARE(ed.shown(), "0 否 是");  // anything but 是 leaves 启用 unticked

        // Another row selected later does not redirect it: the save names and
        // writes the module shown, and an unticked box writes 否.
        ed.select(1);
        StatementLog log(ed.app);
        ed.e->save();
        QCOMPARE(ed.app.boxes.texts(), QStringList{"确认要修改地址为：'5' 的模块参数吗?"});
        QCOMPARE(log.writes,
                 QStringList{"update dbQx7 set scan='0', enorno='否' , alarm='是' where adr ='5'"});
        QVERIFY(!ed.isOpen());

        // A double click on another row while it is open fills it anew for
        // that row. Saved: the worked example; the list reloads (the row shows
        // it) and the editor closes.
        ed.reopen(2);
        ed.get("Text1")->setText("7");
        ed.reopen(1);
        QCOMPARE(ed.e->windowTitle(), "修改地址为3的模块参数");
        QCOMPARE(ed.shown(), "60 是 否");
        ed.get("Text1")->setText(" 60 ");
        ed.get<QCheckBox>("Check1")->setChecked(true);
        ed.get<QCheckBox>("Check2")->setChecked(false);
        log.writes.clear();
        ed.app.boxes.clear();
        ed.e->save();
        QCOMPARE(ed.app.boxes.texts(), QStringList{"确认要修改地址为：'3' 的模块参数吗?"});
        QCOMPARE(
            log.writes,
            QStringList{"update dbQx7 set scan='60', enorno='是' , alarm='否' where adr ='3'"});
        QVERIFY(!ed.isOpen());
        const ModuleRow &row = ed.list->modules()->at(1);
        QCOMPARE(row.enabled + row.recordPeriod + row.alarm, "是60否");
    }

    // While a question waits, a second save or delete is not started, and
    // the frame going (with the editor) under the question writes nothing and
    // crashes nothing.
    void questionOpenWhileHostileThingsHappen() {
        Editor ed({3}, 1);
        {
            StatementLog log(ed.app);
            ed.app.boxes.onShow = [&](const MsgRequest &) {
                ed.app.boxes.onShow = {};
                ed.e->save();
                ed.e->remove();
            };
            ed.e->save();
            QCOMPARE(ed.app.boxes.shown.size(), 1);
            QCOMPARE(log.writes.size(), 1);
            QVERIFY(!ed.isOpen());
        }

        ed.reopen(1);
        ed.app.boxes.onShow = [&](const MsgRequest &) {
            ed.app.boxes.onShow = {};
            delete ed.app.frame();
        };
        ed.e->remove();
        QVERIFY(!ed.app.frame());
        LiteConnection after;
        QVERIFY(after.Open(ed.app.db().path()));
        LiteStatement st = after.prepare("select count(*) from dbQx7");
        QVERIFY(st.Step());
        QCOMPARE(st.integer(0), 1);
    }

    void refusalsKeepTheEditorOpen() {
        Editor ed({3}, 1);
        StatementLog log(ed.app);
        // A period the list could not load back is said; no question is put.
        for (const char *period : {"abc", "-1", "32768", "1.5", "6 0", "60'", ""}) {
            ed.get("Text1")->setText(period);
            ed.e->save();
        }
        QCOMPARE(ed.app.boxes.texts(),
                 QStringList(7, "纪录周期必须是0到32767之间的整数（秒），请重新输入。"));

        // No to either question leaves the editor open with its values.
        ed.app.boxes.clear();
        ed.app.boxes.defaultAnswer = MsgAnswer::No;
        ed.get("Text1")->setText("5");
        ed.e->save();
        ed.e->remove();
        QCOMPARE(ed.app.boxes.shown.size(), 2);
        QVERIFY(log.writes.isEmpty());
        QVERIFY(ed.isOpen());
        QCOMPARE(ed.shown(), "5 是 否");
        ed.get<QPushButton>("Command3")->click();  // 退出
        QVERIFY(!ed.isOpen());
    }

    // The four limit boxes below the design's controls: read with the module,
    // checked, and stored in the same transaction as the module's update
    // (the table created then); emptied, the module's row goes; a failed save
    // stores nothing; the delete takes the limits with the module.
    void limitsSavedWithTheModule() {
        Editor ed({3, 4}, 1);
        const char *boxes[] = {"tempLow", "tempHigh", "humLow", "humHigh"};
        for (const char *name : boxes)
            QVERIFY(ed.get(name)->text().isEmpty() && ed.get(name)->isEnabled());
        auto type = [&](const QStringList &texts) {
            for (int i = 0; i < 4; ++i) ed.get(boxes[i])->setText(texts[i]);
        };
        auto shownLimits = [&] {
            QStringList out;
            for (const char *name : boxes) out << ed.get(name)->text();
            return out.join("/");
        };

        // Refused before the question, naming the box; nothing written.
        StatementLog log(ed.app);
        type({"", "abc", "", ""});
        ed.e->save();
        QCOMPARE(ed.app.boxes.texts(),
                 QStringList{"温度上限“abc”不是数字，请输入一个数，或留空表示不设限。"});
        QVERIFY(log.writes.isEmpty() && ed.isOpen());

        ed.app.boxes.clear();
        type({" -4.0 ", "", "", "90"});
        ed.e->save();
        QCOMPARE(ed.app.boxes.texts(), QStringList{"确认要修改地址为：'3' 的模块参数吗?"});
        QCOMPARE(log.writes.first() + ' ' + log.writes.last(), "BEGIN COMMIT");
        QCOMPARE(log.writes.size(), 5);  // the module, the table, its row
        QVERIFY(!ed.isOpen());
        ed.reopen(1);
        QCOMPARE(shownLimits(), "-4///90");

        // A save that the database refuses is said; it stores neither the
        // module nor its limits, and the editor stays open.
        ed.app.db().exec(
            "create trigger locked before update on dbQx7 "
            "begin select raise(abort, 'database is locked'); end");
        type({"", "30", "", ""});
        ed.e->save();
        QVERIFY(ed.app.boxes.texts().last().startsWith("保存失败：") && ed.isOpen());
        QCOMPARE(ed.app.db().rows("select adr, tlow, thigh from alarmlimit"),
                 (QList<QVariantList>{{"3", -4.0, QVariant()}}));
        ed.app.db().exec("drop trigger locked");
        ed.e->close();
        QVERIFY(!ed.isOpen());

        // Emptied, the row of the module goes; deleted, the module takes its
        // limits along.
        ed.reopen(1);
        type({"", "", "", ""});
        ed.e->save();
        QCOMPARE(ed.app.db().scalar("select count(*) from alarmlimit").toInt(), 0);
        QVERIFY(!ed.isOpen());
        ed.app.db().exec("insert into alarmlimit (adr, hlow) values ('3', 10)");
        ed.reopen(1);
        QCOMPARE(shownLimits(), "//10/");
        log.writes.clear();
        ed.e->remove();
        QCOMPARE(log.writes.first() + ' ' + log.writes.last(), "BEGIN COMMIT");
        QCOMPARE(ed.app.db().scalar("select count(*) from alarmlimit").toInt(), 0);
    }

    void deleteKeepsTheRecords() {
        Editor ed({3, 4}, 0);
        ed.app.db().addRecord(3, "2024-01-01 00:00:00", "20", "50");
        // Nothing selected: the design contents, and save and delete say why
        // they do nothing.
        QCOMPARE(ed.e->windowTitle(), "修改QX-7参数");
        QCOMPARE(ed.shown(), "Text1 否 否");
        StatementLog log(ed.app);
        ed.e->save();
        ed.e->remove();
        QCOMPARE(ed.app.boxes.texts(), QStringList(2, "请先在模块列表中双击一个模块。"));
        QCOMPARE(int(ed.app.boxes.shown[0].buttons), int(MsgButtons::Ok));
        QVERIFY(log.writes.isEmpty() && ed.isOpen());

        ed.reopen(1);
        ed.e->remove();
        QCOMPARE(ed.app.boxes.shown[2].text, "确认要删除地址为：3 的模块吗?");
        QCOMPARE(int(ed.app.boxes.shown[2].buttons), int(MsgButtons::YesNo));
        QCOMPARE(log.writes, QStringList{"delete from dbQx7 where adr ='3'"});
        QVERIFY(!ed.isOpen());
        QCOMPARE(ed.list->modules()->count(), 1);
        QCOMPARE(ed.list->modules()->at(1).address, "4");
        QCOMPARE(ed.app.db().scalar("select count(*) from th where adr=3").toInt(), 1);
    }
};

QTEST_MAIN(TestEditQx7)
#include "tst_editqx7.moc"
