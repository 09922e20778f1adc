// The serial settings dialog edit232, on an in-memory port and on the
// simulator's line.

#include "support/AppFixture.h"
#include "support/SimProcess.h"

#include "app/MDImain.h"
#include "app/Module1.h"
#include "bus/Edit232.h"
#include "bus/SerialPort.h"

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
        w = Module1::edit232IfOpen();
    }
    template <class T>
    T *get(const char *name) const {
        return w->findChild<T *>(QString::fromLatin1(name));
    }
    QComboBox *combo() const { return get<QComboBox>("Combo1"); }
    QLineEdit *speed() const { return get<QLineEdit>("Text20"); }
    QPushButton *toggle() const { return get<QPushButton>("Command4"); }
    QString device() const { return get<QLabel>("deviceLabel")->text(); }
    bool showsOpen() const {
        return toggle()->text() == QStringLiteral("关闭串口") && !combo()->isEnabled() &&
               !speed()->isEnabled();
    }
    bool showsClosed() const {
        return toggle()->text() == QStringLiteral("打开串口") && combo()->isEnabled() &&
               speed()->isEnabled();
    }
};

QString stored(AppFixture &app, const char *key) {
    return app.db()
        .scalar(QStringLiteral("select mysetting from syssetting where myitems='%1'")
                    .arg(QLatin1String(key)))
        .toString();
}
}  // namespace

class TestEdit232 : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void controls();
    void opensShowingAnOpenPort();
    void openPort3SavesIndexAndTrimmedSpeed();
    void closeSavesNothing();
    void speedIs9600OnEveryOpening();
    void badSpeedOpensNothing_data();
    void badSpeedOpensNothing();
    void speedRefusedByThePort();
    void openFailures_data();
    void openFailures();
    void choosingAPort();
    void onTheSimulatorsLine();
};

void TestEdit232::controls() {
    auto *port = new FakeSerialPort();
    AppFixture app(port);
    Dialog d(app);
    QVERIFY(d.w && d.w->isVisible());
    QCOMPARE(d.w->objectName(), QStringLiteral("edit232"));
    QCOMPARE(d.w->windowTitle(), QStringLiteral("串口设置"));
    QCOMPARE(d.get<QLabel>("Label1")->text(), QStringLiteral("选择串口："));
    QCOMPARE(d.get<QLabel>("Label17")->text(), QStringLiteral("串口速度："));
    QCOMPARE(d.combo()->count(), 9);
    for (int i = 0; i < 9; ++i) QCOMPARE(d.combo()->itemText(i), QString::number(i + 1));
    QCOMPARE(d.combo()->currentText(), QStringLiteral("1"));
    QCOMPARE(d.speed()->text(), QStringLiteral("9600"));
    QCOMPARE(d.get<QPushButton>("Command3")->text(), QStringLiteral("退出"));
    QVERIFY(d.showsClosed());
    QCOMPARE(d.device(), SerialPort::deviceNameFor(1));

    d.get<QPushButton>("Command3")->click();
    flushDeletes();
    QVERIFY(!Module1::edit232IfOpen());
    QVERIFY(!port->PortOpen());  // exit leaves the port as it was
}

void TestEdit232::opensShowingAnOpenPort() {
    auto *port = new FakeSerialPort();
    port->setCommPort(4);
    port->setOpen(true);
    AppFixture app(port);
    Dialog d(app);
    QCOMPARE(d.combo()->currentText(), QStringLiteral("4"));
    QVERIFY(d.showsOpen());
    // The handler does nothing while the port is open.
    d.combo()->setCurrentIndex(6);
    QCOMPARE(port->CommPort(), 4);

    d.toggle()->click();
    QVERIFY(!port->PortOpen());
    QVERIFY(d.showsClosed());
    QVERIFY(app.boxes.shown.isEmpty());
}

void TestEdit232::openPort3SavesIndexAndTrimmedSpeed() {
    auto *port = new FakeSerialPort();
    AppFixture app(port);
    Dialog d(app);
    d.combo()->setCurrentIndex(2);
    QCOMPARE(port->CommPort(), 3);
    d.speed()->setText(QStringLiteral("  19200 "));
    d.toggle()->click();
    QVERIFY(app.boxes.shown.isEmpty());
    QVERIFY(port->PortOpen());
    QVERIFY(d.showsOpen());
    QCOMPARE(stored(app, "rs232port"), QStringLiteral("2"));
    QCOMPARE(stored(app, "rs232speed"), QStringLiteral("19200"));
    QCOMPARE(port->Settings(), QStringLiteral("19200,n,8,1"));
}

void TestEdit232::closeSavesNothing() {
    auto *port = new FakeSerialPort();
    AppFixture app(port);
    Dialog d(app);
    d.combo()->setCurrentIndex(1);
    d.toggle()->click();  // opens port 2 at 9600, saved
    QVERIFY(port->PortOpen());
    app.db().exec(QStringLiteral("update syssetting set mysetting='5' where myitems='rs232port'"));
    d.toggle()->click();
    QVERIFY(!port->PortOpen());
    QVERIFY(d.showsClosed());
    QCOMPARE(stored(app, "rs232port"), QStringLiteral("5"));
    QCOMPARE(stored(app, "rs232speed"), QStringLiteral("9600"));
}

void TestEdit232::speedIs9600OnEveryOpening() {
    auto *port = new FakeSerialPort();
    AppFixture app(port);
    {
        Dialog d(app);
        d.speed()->setText(QStringLiteral("4800"));
        d.toggle()->click();
        QCOMPARE(port->Settings(), QStringLiteral("4800,n,8,1"));
        d.w->close();
        flushDeletes();
    }
    Dialog again(app);
    QCOMPARE(again.speed()->text(), QStringLiteral("9600"));
    QVERIFY(again.showsOpen());
}

void TestEdit232::badSpeedOpensNothing_data() {
    QTest::addColumn<QString>("speed");
    QTest::newRow("letters") << QStringLiteral("fast");
    QTest::newRow("empty") << QStringLiteral("  ");
    QTest::newRow("zero") << QStringLiteral("0");
    QTest::newRow("negative") << QStringLiteral("-9600");
    QTest::newRow("decimal") << QStringLiteral("9600.5");
    QTest::newRow("inner blank") << QStringLiteral("96 00");
    QTest::newRow("quote") << QStringLiteral("9600'");
    QTest::newRow("too fast") << QStringLiteral("99999999999");
}

void TestEdit232::badSpeedOpensNothing() {
    QFETCH(QString, speed);
    auto *port = new FakeSerialPort();
    AppFixture app(port);
    Dialog d(app);
    d.combo()->setCurrentIndex(2);
    d.speed()->setText(speed);
    d.toggle()->click();
    QCOMPARE(app.boxes.texts(), QStringList{QStringLiteral("串口速度无效，请输入正整数，如9600")});
    QCOMPARE(app.boxes.shown.first().icon, MsgIcon::None);
    QVERIFY(!port->PortOpen());
    QVERIFY(d.showsClosed());
    QCOMPARE(stored(app, "rs232port"), QStringLiteral("0"));
    QCOMPARE(stored(app, "rs232speed"), QStringLiteral("9600"));
    QCOMPARE(port->Settings(), QStringLiteral("9600,n,8,1"));
}

void TestEdit232::speedRefusedByThePort() {
    auto *port = new FakeSerialPort();
    port->settingsResult = PortError::BadSettings;
    AppFixture app(port);
    Dialog d(app);
    d.speed()->setText(QStringLiteral("123"));
    d.toggle()->click();
    QCOMPARE(app.boxes.texts(), QStringList{QStringLiteral("该串口不支持速度123，请输入其他速度")});
    QVERIFY(!port->PortOpen());  // closed again
    QVERIFY(d.showsClosed());
    QCOMPARE(stored(app, "rs232speed"), QStringLiteral("9600"));
}

void TestEdit232::openFailures_data() {
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("text");
    QTest::newRow("missing") << int(PortError::NoSuchPort)
                             << QStringLiteral("该串口不存在，请选择其他串口");
    QTest::newRow("in use") << int(PortError::PortInUse)
                            << QStringLiteral("该串口被占用，请选择其他串口");
}

void TestEdit232::openFailures() {
    QFETCH(int, error);
    QFETCH(QString, text);
    auto *port = new FakeSerialPort();
    port->openResult = PortError(error);
    AppFixture app(port);
    Dialog d(app);
    d.combo()->setCurrentIndex(5);
    d.toggle()->click();
    QCOMPARE(app.boxes.texts(), QStringList{text});
    QCOMPARE(app.boxes.shown.first().icon, MsgIcon::None);
    QCOMPARE(app.boxes.shown.first().buttons, MsgButtons::Ok);
    QCOMPARE(app.boxes.shown.first().title, defaultMessageTitle());
    QVERIFY(!port->PortOpen());
    QVERIFY(d.showsClosed());
    QCOMPARE(stored(app, "rs232port"), QStringLiteral("0"));
}

void TestEdit232::choosingAPort() {
    qputenv("QX7_COM7", "/dev/ttyQX7test");
    auto *port = new FakeSerialPort();
    AppFixture app(port);
    Dialog d(app);
    d.combo()->setCurrentIndex(6);
    QCOMPARE(port->CommPort(), 7);
    QCOMPARE(d.device(), QStringLiteral("/dev/ttyQX7test"));
    d.combo()->setCurrentIndex(1);
    QCOMPARE(d.device(), SerialPort::deviceNameFor(2));
    qunsetenv("QX7_COM7");
}

void TestEdit232::onTheSimulatorsLine() {
    SimProcess sim;
    QVERIFY2(sim.start(), qPrintable(sim.errorString()));
    sim.attach(3);
    auto *port = new SerialPort();
    AppFixture app(port);
    Dialog d(app);
    d.combo()->setCurrentIndex(2);
    QCOMPARE(d.device(), sim.linkPath());
    d.speed()->setText(QStringLiteral(" 19200 "));
    d.toggle()->click();
    QVERIFY2(app.boxes.shown.isEmpty(), qPrintable(app.boxes.texts().join(u'\n')));
    QVERIFY(port->PortOpen());
    QCOMPARE(port->deviceName(), sim.linkPath());
    QCOMPARE(stored(app, "rs232port"), QStringLiteral("2"));
    QCOMPARE(stored(app, "rs232speed"), QStringLiteral("19200"));
    QCOMPARE(port->Settings(), QStringLiteral("19200,n,8,1"));

    // A second opening of the same line elsewhere is refused while we hold it.
    auto *other = new SerialPort();
    other->setCommPort(3);
    QCOMPARE(other->open(), PortError::PortInUse);
    delete other;

    // The next start opens the port saved here.
    port->close();
    app.frame()->Form_Load();
    QVERIFY(port->PortOpen());
    QCOMPARE(port->CommPort(), 3);
    QVERIFY(app.boxes.shown.isEmpty());
}

QTEST_MAIN(TestEdit232)
#include "tst_edit232.moc"
