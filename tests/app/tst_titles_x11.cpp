// The titles of the windows and message boxes as the window system shows
// them, on a real X server (the suite runs this test under xvfb-run): no
// window carries anything but its own title.
#include "acquisition/ModuleList.h"
#include "acquisition/ui/EditQx7.h"
#include "acquisition/ui/ModuleWindow.h"
#include "alarms/ui/AlarmLogWindow.h"
#include "app/MDImain.h"
#include "app/Main.h"
#include "app/Module1.h"
#include "bus/ui/Edit232.h"
#include "records/ui/AnaQx7.h"
#include "records/ui/DbaseWindow.h"
#include "support/FakeSerialPort.h"
#include "support/TestDatabase.h"

#include <QApplication>
#include <QMessageBox>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>

namespace {
// _NET_WM_NAME of a window, read with xprop as any X client would.
QString titleOnScreen(QWidget *w) {
    QProcess xprop;
    xprop.start(QStringLiteral("xprop"), {QStringLiteral("-id"), QString::number(w->winId()),
                                          QStringLiteral("_NET_WM_NAME")});
    if (!xprop.waitForFinished(5000))
        return QStringLiteral("(xprop did not answer: scripts/install-deps.sh installs it)");
    static const QRegularExpression value(QStringLiteral("= \"(.*)\"\\s*$"));
    const auto m = value.match(QString::fromUtf8(xprop.readAllStandardOutput()));
    return m.hasMatch() ? m.captured(1) : QStringLiteral("(no title)");
}

// Reads the title of the next modal box on screen, then closes it.
QStringList boxTitles;
void readNextBox() {
    QTimer::singleShot(50, [] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !QTest::qWaitForWindowExposed(box)) {
            readNextBox();
            return;
        }
        boxTitles << titleOnScreen(box);
        box->reject();
    });
}
}  // namespace

class TestTitlesX11 : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void titlesAsShown() {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("needs an X server (the suite runs this test under xvfb-run)");
        QTemporaryDir dir;
        auto *port = new FakeSerialPort();
        port->openResult = PortError::NoSuchPort;
        // The box of the missing port comes up during the start, with the
        // real modal message box.
        readNextBox();
        MDImain *frame = Main(dir.path(), port);
        QVERIFY(frame);
        QVERIFY(QTest::qWaitForWindowExposed(frame));
        QCOMPARE(titleOnScreen(frame), MDImain::caption());

        QStringList shown;
        const std::pair<const char *, std::function<QWidget *()>> windows[] = {
            {"rs232", [] { return static_cast<QWidget *>(Module1::edit232IfOpen()); }},
            {"analys", [] { return static_cast<QWidget *>(Module1::anaQx7IfOpen()); }},
            {"backup", [] { return static_cast<QWidget *>(Module1::dbaseIfOpen()); }},
            {"alarmlog", [] { return static_cast<QWidget *>(Module1::alarmLogIfOpen()); }}};
        for (const auto &[menu, window] : windows) {
            frame->findChild<QAction *>(QString::fromLatin1(menu))->trigger();
            QWidget *w = window();
            QVERIFY2(w && QTest::qWaitForWindowExposed(w), menu);
            shown << titleOnScreen(w);
        }
        QCOMPARE(shown, (QStringList{"串口设置", "提取温湿度采集记录", "数据库维护", "报警记录"}));

        // A question with an English title: the editor's save.
        Module1::dbconn().Execute("insert into dbQx7 (adr, name) values ('1', '0007')");
        frame->findChild<QAction *>(QStringLiteral("board"))->trigger();
        ModuleWindow *list = Module1::moduleIfOpen();
        QVERIFY(list);
        list->findChild<QTreeView *>(QStringLiteral("ListView1"))
            ->setCurrentIndex(list->modules()->index(0, 0));
        EditQx7 *editor = Module1::editQx7();
        Module1::showWindow(editor);
        QVERIFY(QTest::qWaitForWindowExposed(editor));
        QCOMPARE(titleOnScreen(editor), QStringLiteral("修改地址为1的模块参数"));
        readNextBox();
        editor->save();
        QCOMPARE(boxTitles, (QStringList{"设置错误！", "Edit Item"}));

        delete frame;
        Module1::resetState();
        Module1::dbconn().Close();
    }
};

QTEST_MAIN(TestTitlesX11)
#include "tst_titles_x11.moc"
