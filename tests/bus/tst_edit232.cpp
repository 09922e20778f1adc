// The serial settings dialog edit232, on an in-memory port.
#include "bus/SerialPort.h"
#include "bus/ui/Edit232.h"
#include "support/AppFixture.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace {
struct Dialog {
    Edit232 *w;
    explicit Dialog(AppFixture &app) {
        app.menu("rs232");
        w = app.windows().edit232IfOpen();
    }
    template <class T>
    T *get(const char *name) const {
        return w->findChild<T *>(name);
    }
    QComboBox *combo() const { return get<QComboBox>("Combo1"); }
    QLineEdit *speed() const { return get<QLineEdit>("Text20"); }
    QPushButton *toggle() const { return get<QPushButton>("Command4"); }
    QString device() const { return get<QLabel>("deviceLabel")->text(); }
    // The button's caption and the boxes' states for an open or a closed port.
    bool shows(bool open) const {
        return toggle()->text() ==
                   (open ? QStringLiteral("关闭串口") : QStringLiteral("打开串口")) &&
               combo()->isEnabled() != open && speed()->isEnabled() != open;
    }
};

QString stored(AppFixture &app, const char *key) {
    return app.db()
        .scalar(QStringLiteral("select mysetting from syssetting where myitems='%1'")
                    .arg(QLatin1String(key)))
        .toString();
}
}  // namespace

Q_DECLARE_METATYPE(PortError)

class TestEdit232 : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void controls() {
        qputenv("QX7_COM7", "/dev/ttyQX7test");
        auto *port = new FakeSerialPort();
        AppFixture app(port);
        Dialog d(app);
        QVERIFY(d.w && d.w->isVisible());
        QCOMPARE(d.combo()->count(), 9);  // ports 1 to 9
        QCOMPARE(d.combo()->currentText() + ' ' + d.speed()->text(), QStringLiteral("1 9600"));
        QVERIFY(d.shows(false));
        // Choosing a port sets it and shows the device it means.
        d.combo()->setCurrentIndex(6);
        QCOMPARE(port->CommPort(), 7);
        QCOMPARE(d.device(), QStringLiteral("/dev/ttyQX7test"));
        qunsetenv("QX7_COM7");

        d.get<QPushButton>("Command3")->click();  // 退出
        flushDeletes();
        QVERIFY(!app.windows().edit232IfOpen());
        QVERIFY(!port->PortOpen());  // exit leaves the port as it was
    }

    void openCloseAndReopen() {
        auto *port = new FakeSerialPort();
        port->setCommPort(4);
        port->setOpen(true);
        AppFixture app(port);
        {
            Dialog d(app);
            QCOMPARE(d.combo()->currentText(), QStringLiteral("4"));
            QVERIFY(d.shows(true));
            d.combo()->setCurrentIndex(6);  // does nothing while the port is open
            QCOMPARE(port->CommPort(), 4);
            d.toggle()->click();
            QVERIFY(!port->PortOpen());
            QVERIFY(d.shows(false));

            d.combo()->setCurrentIndex(1);
            d.speed()->setText(QStringLiteral(" 4800 "));
            d.toggle()->click();
            QVERIFY(port->PortOpen() && d.shows(true));
            QCOMPARE(port->CommPort(), 2);
            QCOMPARE(port->Settings(), QStringLiteral("4800,n,8,1"));
            // Saved as the next start reads them: port 2 is stored as 1.
            QCOMPARE(stored(app, "rs232port") + ' ' + stored(app, "rs232speed"),
                     QStringLiteral("1 4800"));
            port->close();
            port->setCommPort(5);
            app.frame()->openSavedPort();
            QVERIFY(port->PortOpen() && port->CommPort() == 2);
            d.w->close();
            flushDeletes();
        }
        app.db().exec(
            QStringLiteral("update syssetting set mysetting='5' where myitems='rs232port'"));
        Dialog again(app);
        QCOMPARE(again.speed()->text(), QStringLiteral("9600"));  // on every opening
        QCOMPARE(again.combo()->currentText(), QStringLiteral("2"));
        QVERIFY(again.shows(true));
        again.toggle()->click();
        QVERIFY(!port->PortOpen());
        // Closing saves nothing, neither the port nor the speed in the box.
        QCOMPARE(stored(app, "rs232port") + ' ' + stored(app, "rs232speed"),
                 QStringLiteral("5 4800"));
        QVERIFY(app.boxes.shown.isEmpty());
    }

    // Each refusal: one box, nothing open, nothing saved. `speedRefused`: the
    // port, once open, refuses the speed.
    void refusals_data() {
        QTest::addColumn<QString>("speed");
        QTest::addColumn<PortError>("openResult");
        QTest::addColumn<bool>("speedRefused");
        QTest::addColumn<QString>("message");
        // A bad speed is refused before anything is opened.
        for (const char *speed :
             {"fast", "  ", "0", "-9600", "9600.5", "96 00", "9600'", "99999999999"})
            QTest::addRow("speed '%s'", speed)
                << speed << PortError::None << false << "串口速度无效，请输入正整数，如9600";
        QTest::newRow("speed the port refuses")
            << "123" << PortError::None << true << "该串口不支持速度123，请输入其他速度";
        QTest::newRow("no such port")
            << "9600" << PortError::NoSuchPort << false << "该串口不存在，请选择其他串口";
        QTest::newRow("port in use")
            << "9600" << PortError::PortInUse << false << "该串口被占用，请选择其他串口";
    }
    void refusals() {
        QFETCH(QString, speed);
        QFETCH(PortError, openResult);
        QFETCH(bool, speedRefused);
        auto *port = new FakeSerialPort();
        port->openResult = openResult;
        if (speedRefused)
            port->settingsResult = PortError::BadSettings;
        AppFixture app(port);
        Dialog d(app);
        d.combo()->setCurrentIndex(2);
        d.speed()->setText(speed);
        d.toggle()->click();
        QTEST(app.boxes.texts().join('\n'), "message");
        QVERIFY(!port->PortOpen());
        QVERIFY(d.shows(false));
        QCOMPARE(stored(app, "rs232port") + ' ' + stored(app, "rs232speed"), "0 9600");
        QCOMPARE(port->Settings(), QStringLiteral("9600,n,8,1"));
    }
};

QTEST_MAIN(TestEdit232)
#include "tst_edit232.moc"
