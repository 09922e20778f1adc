// The module editor: it reads the row selected in the module list at each
// action, saves with S7, removes with S8, and refuses a record period that
// the list could not load back.
#include "acquisition/EditQx7.h"
#include "acquisition/ModuleList.h"
#include "acquisition/ModuleWindow.h"
#include "app/MDImain.h"
#include "app/Module1.h"
#include "support/AppFixture.h"

#include <QCheckBox>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeView>

#include <sqlite3.h>

namespace {
// Every statement the connection runs, as its text.
class StatementLog {
public:
    StatementLog()
    {
        sqlite3_trace_v2(Module1::dbconn().handle(), SQLITE_TRACE_STMT, &StatementLog::trace, this);
    }
    ~StatementLog() { sqlite3_trace_v2(Module1::dbconn().handle(), 0, nullptr, nullptr); }
    QStringList writes() const
    {
        QStringList out;
        for (const QString &s : texts) {
            if (!s.startsWith(QStringLiteral("select"), Qt::CaseInsensitive))
                out << s;
        }
        return out;
    }
    QStringList texts;

private:
    static int trace(unsigned, void *self, void *stmt, void *)
    {
        static_cast<StatementLog *>(self)->texts
            << QString::fromUtf8(sqlite3_sql(static_cast<sqlite3_stmt *>(stmt)));
        return 0;
    }
};

struct Editor {
    AppFixture &app;
    ModuleWindow *list = nullptr;

    explicit Editor(AppFixture &a) : app(a)
    {
        app.menu("board");
        list = Module1::moduleIfOpen();
    }
    void select(int position) const
    {
        auto *view = list->findChild<QTreeView *>(QStringLiteral("ListView1"));
        view->selectionModel()->select(
            view->model()->index(position - 1, 0),
            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    EditQx7 *open() const
    {
        list->ListView1_DblClick();
        return Module1::editQx7IfOpen();
    }
    static QLineEdit *period(EditQx7 *e)
    {
        return e->findChild<QLineEdit *>(QStringLiteral("Text1"));
    }
    static QCheckBox *check(EditQx7 *e, const char *name)
    {
        return e->findChild<QCheckBox *>(QString::fromLatin1(name));
    }
    bool editorOpen() const
    {
        flushDeletes();
        return Module1::editQx7IfOpen() != nullptr;
    }
};
}  // namespace

class TestEditQx7 : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { ModuleWindow::resetState(); }

    void opensOnTheSelectedRow()
    {
        AppFixture app;
        app.db().addModule(3);
        app.db().exec(QStringLiteral(
            "insert into dbQx7 (adr, name, enorno, scan, alarm) values (' 5 ', 'X', '', 0, '是')"));
        Editor ed(app);
        ed.select(2);
        EditQx7 *e = ed.open();
        QVERIFY(e && e->isVisible());
        QCOMPARE(e->windowTitle(), QStringLiteral("修改地址为5的模块参数"));
        QCOMPARE(Editor::period(e)->text(), QStringLiteral("0"));
        QVERIFY(!Editor::check(e, "Check1")->isChecked());  // anything but 是 is unticked
        QVERIFY(Editor::check(e, "Check2")->isChecked());
        QCOMPARE(e->findChild<QLabel *>(QStringLiteral("Label3"))->text(),
                 QStringLiteral("纪录周期：          秒"));
        QCOMPARE(e->findChild<QPushButton *>(QStringLiteral("Command1"))->text(),
                 QStringLiteral("保存"));
        QCOMPARE(e->findChild<QPushButton *>(QStringLiteral("Command2"))->text(),
                 QStringLiteral("删除"));
        QCOMPARE(e->findChild<QPushButton *>(QStringLiteral("Command3"))->text(),
                 QStringLiteral("退出"));

        // A second double click on another row only brings it to the front.
        ed.select(1);
        QCOMPARE(ed.open(), e);
        QCOMPARE(e->windowTitle(), QStringLiteral("修改地址为5的模块参数"));
    }

    void saveWritesTheStatementAndCloses()
    {
        AppFixture app;
        app.db().addModule(3);
        app.db().exec(QStringLiteral("update dbQx7 set enorno='否', alarm='是'"));
        Editor ed(app);
        ed.select(1);
        EditQx7 *e = ed.open();
        Editor::period(e)->setText(QStringLiteral(" 60 "));
        Editor::check(e, "Check1")->setChecked(true);
        Editor::check(e, "Check2")->setChecked(false);
        StatementLog log;
        app.boxes.answers = {MsgAnswer::Yes};
        e->Command1_Click();
        QCOMPARE(app.boxes.shown.size(), 1);
        QCOMPARE(app.boxes.shown[0].text, QStringLiteral("确认要修改地址为：'3' 的模块参数吗?"));
        QCOMPARE(app.boxes.shown[0].title, QStringLiteral("Edit Item"));
        QCOMPARE(int(app.boxes.shown[0].icon), int(MsgIcon::Question));
        QCOMPARE(log.writes(),
                 QStringList{QStringLiteral(
                     "update dbQx7 set scan='60', enorno='是' , alarm='否' where adr ='3'")});
        QVERIFY(log.texts.contains(QStringLiteral("select * from dbQx7 ")));  // the list reloaded
        QVERIFY(!ed.editorOpen());
        const ModuleRow &row = ed.list->modules()->at(1);
        QCOMPARE(row.enabled + row.recordPeriod + row.alarm, QStringLiteral("是60否"));
    }

    void noKeepsTheEditorOpen()
    {
        AppFixture app;
        app.db().addModule(3);
        Editor ed(app);
        ed.select(1);
        EditQx7 *e = ed.open();
        Editor::period(e)->setText(QStringLiteral("5"));
        StatementLog log;
        app.boxes.defaultAnswer = MsgAnswer::No;
        e->Command1_Click();
        e->Command2_Click();
        QCOMPARE(app.boxes.shown.size(), 2);
        QVERIFY(log.writes().isEmpty());
        QVERIFY(ed.editorOpen());
        QCOMPARE(Editor::period(e)->text(), QStringLiteral("5"));
        e->findChild<QPushButton *>(QStringLiteral("Command3"))->click();  // 退出: nothing saved
        QVERIFY(!ed.editorOpen());
        QVERIFY(log.writes().isEmpty());
    }

    void deleteKeepsTheRecords()
    {
        AppFixture app;
        app.db().addModule(3);
        app.db().addModule(4);
        app.db().addRecord(3, QStringLiteral("2024-01-01 00:00:00"), QStringLiteral("20"),
                           QStringLiteral("50"));
        Editor ed(app);
        ed.select(1);
        EditQx7 *e = ed.open();
        StatementLog log;
        e->Command2_Click();
        QCOMPARE(app.boxes.shown[0].text, QStringLiteral("确认要删除地址为：3 的模块吗?"));
        QCOMPARE(app.boxes.shown[0].title, QStringLiteral("Remove Item"));
        QCOMPARE(int(app.boxes.shown[0].icon), int(MsgIcon::Critical));
        QCOMPARE(log.writes(), QStringList{QStringLiteral("delete from dbQx7 where adr ='3'")});
        QVERIFY(!ed.editorOpen());
        QCOMPARE(ed.list->modules()->count(), 1);
        QCOMPARE(ed.list->modules()->at(1).address, QStringLiteral("4"));
        QCOMPARE(app.db().scalar(QStringLiteral("select count(*) from th where adr=3")).toInt(), 1);
    }

    void invalidPeriodRefused_data()
    {
        QTest::addColumn<QString>("period");
        QTest::newRow("letters") << "abc";
        QTest::newRow("negative") << "-1";
        QTest::newRow("too large") << "32768";
        QTest::newRow("decimal") << "1.5";
        QTest::newRow("inner blank") << "6 0";
        QTest::newRow("quote") << "60'";
        QTest::newRow("empty") << "";
    }

    void invalidPeriodRefused()
    {
        QFETCH(QString, period);
        AppFixture app;
        app.db().addModule(3);
        Editor ed(app);
        ed.select(1);
        EditQx7 *e = ed.open();
        Editor::period(e)->setText(period);
        StatementLog log;
        e->Command1_Click();
        QCOMPARE(app.boxes.shown.size(), 1);  // the message, no question
        QVERIFY(app.boxes.shown[0].text.contains(QStringLiteral("0到32767")));
        QVERIFY(log.writes().isEmpty());
        QVERIFY(ed.editorOpen());
    }

    void actsOnTheRowSelectedNow()
    {
        AppFixture app;
        app.db().addModule(3);
        app.db().addModule(4);
        Editor ed(app);
        ed.select(1);
        EditQx7 *e = ed.open();
        Editor::period(e)->setText(QStringLiteral("30"));
        ed.select(2);  // another row while the editor is open
        StatementLog log;
        e->Command1_Click();
        QCOMPARE(e->windowTitle(), QStringLiteral("修改地址为3的模块参数"));
        QCOMPARE(app.boxes.shown[0].text, QStringLiteral("确认要修改地址为：'4' 的模块参数吗?"));
        QCOMPARE(log.writes(),
                 QStringList{QStringLiteral(
                     "update dbQx7 set scan='30', enorno='是' , alarm='否' where adr ='4'")});
    }

    void nothingSelected()
    {
        AppFixture app;
        app.db().addModule(3);
        Editor ed(app);
        EditQx7 *e = ed.open();
        QCOMPARE(e->windowTitle(), QStringLiteral("修改QX-7参数"));
        QCOMPARE(Editor::period(e)->text(), QStringLiteral("Text1"));
        QVERIFY(!Editor::check(e, "Check1")->isChecked());
        StatementLog log;
        e->Command1_Click();
        e->Command2_Click();
        QCOMPARE(app.boxes.shown.size(), 2);
        QVERIFY(app.boxes.shown[0].text.contains(QStringLiteral("选择")));
        QCOMPARE(int(app.boxes.shown[0].buttons), int(MsgButtons::Ok));
        QVERIFY(log.writes().isEmpty());
        QVERIFY(ed.editorOpen());
    }

    void failedSaveSaysSo()
    {
        AppFixture app;
        app.db().addModule(3);
        app.db().exec(
            QStringLiteral("create trigger locked before update on dbQx7 "
                           "begin select raise(abort, 'database is locked'); end"));
        Editor ed(app);
        ed.select(1);
        EditQx7 *e = ed.open();
        Editor::period(e)->setText(QStringLiteral("10"));
        e->Command1_Click();
        QCOMPARE(app.boxes.shown.size(), 2);
        QVERIFY(app.boxes.shown[1].text.startsWith(QStringLiteral("保存失败：")));
        QVERIFY(ed.editorOpen());
    }
};

QTEST_MAIN(TestEditQx7)
#include "tst_editqx7.moc"
