#include "console/ui/Form1.h"

#include "bus/BusLink.h"
#include "bus/Frames.h"
#include "bus/SerialPort.h"
#include "console/ConsoleCommands.h"
#include "store/ValueText.h"
#include "widgets/Controls.h"
#include "widgets/MessageBoxes.h"

#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTcpSocket>
#include <QTextCursor>
#include <QTime>
#include <QTimer>
#include <QVBoxLayout>

using console::ConverterLink;
using console::ReplyMode;
using console::SerialReplyOutcome;

namespace {
using controls::button;
using controls::label;
const QString kStartAuto = QStringLiteral("开启自动采集");
const QString kStopAuto = QStringLiteral("关闭自动采集");
const QString kConnect = QStringLiteral("连接");
const QString kDisconnect = QStringLiteral("断开");
const QString kPortNotOpen = QStringLiteral("请先打开串口");
constexpr int kSerialPollMs = 1000;
constexpr int kNetworkPollMs = 2000;

QString stamped(const QString &text) {
    return QTime::currentTime().toString(QStringLiteral("HH:mm:ss ")) + text;
}
}  // namespace

Form1::Form1(BusLink *bus, QWidget *parent) : QWidget(parent), bus_(bus) {
    setObjectName(QStringLiteral("Form1"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("操作单模块"));
    buildControls();

    Timer2_ = new QTimer(this);
    Timer2_->setObjectName(QStringLiteral("Timer2"));
    Timer2_->setInterval(kSerialPollMs);
    connect(Timer2_, &QTimer::timeout, this, &Form1::Timer2_Timer);

    Timer1_ = new QTimer(this);
    Timer1_->setObjectName(QStringLiteral("Timer1"));
    Timer1_->setInterval(kNetworkPollMs);
    connect(Timer1_, &QTimer::timeout, this, &Form1::Timer1_Timer);

    Winsock1_ = new QTcpSocket(this);
    Winsock1_->setObjectName(QStringLiteral("Winsock1"));
    link_ = new ConverterLink(Winsock1_, this);
    connect(link_, &ConverterLink::stateChanged, this, &Form1::linkStateChanged);
    connect(link_, &ConverterLink::measured, this,
            [this](const Measurement &m) { showMeasurement(m, state().network); });
    connect(link_, &ConverterLink::rejected, this,
            [this](const QString &message) { showNetStatus(stamped(message)); });

    connect(Combo2_, &QComboBox::activated, this, &Form1::Combo2_Click);
    connect(Command1_, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(Command28_, &QPushButton::clicked, this, &Form1::Command28_Click);
    connect(Command30_, &QPushButton::clicked, this, &Form1::Command30_Click);
    connect(Command2_, &QPushButton::clicked, this, &Form1::Command2_Click);
    connect(Command3_, &QPushButton::clicked, this, &Form1::Command3_Click);
    Text3_->viewport()->installEventFilter(this);
    // The console is operated by a person: a lost port switches its
    // automatic polling off for good.
    connect(bus_, &BusLink::portLost, this, [this] {
        if (!Timer2_->isActive())
            return;
        stopAutomatic();
        showPollStatus(stamped(QStringLiteral("串口已断开，自动采集已关闭")));
    });
}

Form1::~Form1() {
    // The window takes its polling with it. When its automatic acquisition
    // still held the port, the port is free again: nothing polls it any more.
    if (Timer2_->isActive())
        bus_->release(BusJob::ConsolePolling);
    Timer2_->stop();
    Timer1_->stop();
    link_->detach();
    bus_->router().unregister(this);
}

void Form1::buildControls() {
    // Frame6: Modbus commands.
    Frame6_ = new QGroupBox(QStringLiteral("Modbus命令操作"), this);
    Frame6_->setObjectName(QStringLiteral("Frame6"));
    Combo2_ = new QComboBox(Frame6_);
    Combo2_->setObjectName(QStringLiteral("Combo2"));
    Combo2_->addItems(console::presetNames());
    Combo2_->setCurrentIndex(-1);
    Text4_ = controls::textBox(Frame6_, "Text4", QStringLiteral("01 04 00 00 00 01"));
    Command1_ = button(Frame6_, "Command1", QStringLiteral("显示CRC"));
    Text1_ = controls::textBox(Frame6_, "Text1", QStringLiteral("C1"), 40);
    Text1_->setToolTip(QStringLiteral("CRC低字节"));
    Text5_ = controls::textBox(Frame6_, "Text5", QStringLiteral("C2"), 40);
    Text5_->setToolTip(QStringLiteral("CRC高字节"));
    Command28_ = button(Frame6_, "Command28", QStringLiteral("发送"));
    Text3_ = new QPlainTextEdit(Frame6_);
    Text3_->setObjectName(QStringLiteral("Text3"));
    Text3_->setPlainText(QStringLiteral("读回的结果"));
    Text3_->setReadOnly(true);
    Text3_->setUndoRedoEnabled(false);
    Text3_->setToolTip(QStringLiteral("双击清空显示区"));

    auto *commands = new QGridLayout(Frame6_);
    commands->addWidget(label(Frame6_, "Label1", QStringLiteral("常用命令：")), 0, 0);
    commands->addWidget(Combo2_, 0, 1, 1, 4);
    commands->addWidget(label(Frame6_, "Label2", QStringLiteral("输入命令：")), 1, 0);
    commands->addWidget(Text4_, 1, 1, 1, 4);
    commands->addWidget(Command1_, 2, 1);
    commands->addWidget(Text1_, 2, 2);
    commands->addWidget(Text5_, 2, 3);
    commands->addWidget(Command28_, 2, 4);
    commands->addWidget(Text3_, 3, 0, 1, 5);
    commands->setColumnStretch(1, 1);

    // Frame2: results of the automatic acquisition.
    Frame2_ = new QGroupBox(QStringLiteral("显示采集结果"), this);
    Frame2_->setObjectName(QStringLiteral("Frame2"));
    Text6_ = controls::textBox(Frame2_, "Text6", QStringLiteral("温度"));
    Text7_ = controls::textBox(Frame2_, "Text7", QStringLiteral("湿度"));
    Text10_ = controls::textBox(Frame2_, "Text10", QStringLiteral("最高温度"));
    Text11_ = controls::textBox(Frame2_, "Text11", QStringLiteral("最低稳度"));
    Text14_ = controls::textBox(Frame2_, "Text14", QStringLiteral("最高湿度"));
    Text15_ = controls::textBox(Frame2_, "Text15", QStringLiteral("最低湿度"));
    Text16_ = controls::textBox(Frame2_, "Text16", QStringLiteral("1"));
    Text17_ = controls::textBox(Frame2_, "Text17", QStringLiteral("0"));
    Text18_ = controls::textBox(Frame2_, "Text18", QStringLiteral("0"));
    Command30_ = button(Frame2_, "Command30", kStartAuto);
    pollStatus_ = label(Frame2_, "pollStatus", QString());
    pollStatus_->setWordWrap(true);

    auto *results = new QGridLayout(Frame2_);
    const QList<QPair<QString, QLineEdit *>> rows = {
        {QStringLiteral("温度(摄氏)："), Text6_},    {QStringLiteral("相对湿度(%)："), Text7_},
        {QStringLiteral("最高温度："), Text10_},     {QStringLiteral("最低温度："), Text11_},
        {QStringLiteral("最高湿度："), Text14_},     {QStringLiteral("最低湿度："), Text15_},
        {QStringLiteral("模块地址："), Text16_},     {QStringLiteral("采集成功次数："), Text17_},
        {QStringLiteral("采集失败次数："), Text18_},
    };
    for (int i = 0; i < rows.size(); ++i) {
        const QByteArray name = "Label" + QByteArray::number(3 + i);
        results->addWidget(label(Frame2_, name.constData(), rows[i].first), i, 0);
        results->addWidget(rows[i].second, i, 1);
    }
    results->addWidget(Command30_, int(rows.size()), 0, 1, 2);
    results->addWidget(pollStatus_, int(rows.size()) + 1, 0, 1, 2);
    results->setRowStretch(int(rows.size()) + 2, 1);

    // Frame3: the QX-LAN converter. Its default address is a private LAN
    // address, as the converter leaves the factory.
    Frame3_ = new QGroupBox(QStringLiteral("网络口接QX-LAN采集(以太网转RS485总线)"), this);
    Frame3_->setObjectName(QStringLiteral("Frame3"));
    Text13_ = controls::textBox(Frame3_, "Text13", QStringLiteral("192"), 48);
    Text12_ = controls::textBox(Frame3_, "Text12", QStringLiteral("168"), 48);
    Text9_ = controls::textBox(Frame3_, "Text9", QStringLiteral("1"), 48);
    Text8_ = controls::textBox(Frame3_, "Text8", QStringLiteral("200"), 48);
    Text2_ = controls::textBox(Frame3_, "Text2", QStringLiteral("1234"), 64);
    Command3_ = button(Frame3_, "Command3", kConnect);
    netStatus_ = label(Frame3_, "netStatus", QString());
    netStatus_->setWordWrap(true);

    auto *net = new QGridLayout(Frame3_);
    net->addWidget(label(Frame3_, "Label12", QStringLiteral("输入QX-LAN的IP地址：")), 0, 0);
    auto *address = new QHBoxLayout();
    address->addWidget(Text13_);
    address->addWidget(label(Frame3_, "Label14", QStringLiteral(".")));
    address->addWidget(Text12_);
    address->addWidget(label(Frame3_, "Label15", QStringLiteral(".")));
    address->addWidget(Text9_);
    address->addWidget(label(Frame3_, "Label16", QStringLiteral(".")));
    address->addWidget(Text8_);
    address->addStretch(1);
    net->addLayout(address, 0, 1);
    net->addWidget(label(Frame3_, "Label13", QStringLiteral("输入QX-LAN的端口号：")), 1, 0);
    auto *portRow = new QHBoxLayout();
    portRow->addWidget(Text2_);
    portRow->addWidget(Command3_);
    portRow->addStretch(1);
    net->addLayout(portRow, 1, 1);
    net->addWidget(netStatus_, 2, 0, 1, 2);

    Command2_ = button(this, "Command2", QStringLiteral("退出"));
    rcv232_ = controls::textBox(this, "rcv232", QString());
    rcv232_->hide();

    auto *right = new QVBoxLayout();
    right->addWidget(Frame2_, 1);
    right->addWidget(Command2_);
    auto *top = new QHBoxLayout();
    top->addWidget(Frame6_, 3);
    top->addLayout(right, 1);
    auto *outer = new QVBoxLayout(this);
    outer->addLayout(top, 1);
    outer->addWidget(Frame3_);
}

bool Form1::eventFilter(QObject *watched, QEvent *event) {
    if (watched == Text3_->viewport() && event->type() == QEvent::MouseButtonDblClick) {
        Text3_DblClick();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

// ---- commands ----

void Form1::Combo2_Click(int index) {
    if (const auto command = console::presetCommand(index))
        Text4_->setText(*command);
}

std::optional<QByteArray> Form1::commandBytes() {
    QString text = Text4_->text();
    const console::CommandResult command = console::convertCommand(text);
    Text4_->setText(text);
    if (!command.ok()) {
        msgBox(this, command.error, MsgButtons::Ok, MsgIcon::Warning);
        return std::nullopt;
    }
    return command.bytes;
}

void Form1::Command1_Click() {
    const auto command = commandBytes();
    if (!command)
        return;
    const console::CrcTexts crc = console::crcTexts(*command);
    Text1_->setText(crc.low);
    Text5_->setText(crc.high);
}

void Form1::Command28_Click() {
    const auto command = commandBytes();
    if (!command)
        return;
    const SendResult result = bus_->send(assembleFrame(*command), this, this);
    if (result == SendResult::PortNotOpen || result == SendResult::PortLost) {
        msgBox(this, kPortNotOpen);
        bus_->releaseAny();
        return;
    }
    if (result != SendResult::Sent) {
        msgBox(this, QStringLiteral("发送失败：") + bus_->port()->errorString(), MsgButtons::Ok,
               MsgIcon::Warning);
        return;
    }
    state().rcvmode = ReplyMode::Command;
}

// ---- serial automatic acquisition ----

void Form1::Command30_Click() {
    if (!Timer2_->isActive()) {
        Timer2_->start();
        Command30_->setText(kStopAuto);
        bus_->seize(BusJob::ConsolePolling);
    } else {
        stopAutomatic();
    }
}

void Form1::stopAutomatic() {
    Timer2_->stop();
    Command30_->setText(kStartAuto);
    bus_->releaseAny();
}

std::optional<quint8> Form1::pollAddress() {
    const auto address = console::moduleAddress(Text16_->text());
    showPollStatus(address ? QString() : console::badAddressText());
    return address;
}

void Form1::showPollStatus(const QString &text) {
    if (pollStatus_->text() != text)
        pollStatus_->setText(text);
}

void Form1::Timer2_Timer() {
    const auto address = pollAddress();
    if (!address)
        return;  // said in the window; the polling goes on
    const SendResult result = bus_->send(measurementRequest(*address), this, this);
    if (result == SendResult::PortNotOpen || result == SendResult::PortLost) {
        // Off first: the box waits for the operator, the timer must not go on meanwhile.
        stopAutomatic();
        msgBox(this, kPortNotOpen);
        return;
    }
    if (result != SendResult::Sent) {
        showPollStatus(stamped(QStringLiteral("发送失败：") + bus_->port()->errorString()));
        return;
    }
    polledAddress_ = *address;
    state().rcvmode = ReplyMode::Poll;
}

void Form1::receiveText(const QString &text) {
    rcv232_->setText(text);
    // The module polled: the address box, unless it is being edited into
    // something that is no address.
    const int expected = console::moduleAddress(Text16_->text()).value_or(polledAddress_);
    const SerialReplyOutcome outcome =
        console::decideSerialReply(text, state().rcvmode, Timer2_->isActive(), expected);
    if (!outcome.logLine.isEmpty())
        appendLog(outcome.logLine);
    if (outcome.measurement)
        showMeasurement(*outcome.measurement, state().serial);
    if (outcome.count == SerialReplyOutcome::Count::Success)
        increaseCount(Text17_);
    else if (outcome.count == SerialReplyOutcome::Count::Failure)
        increaseCount(Text18_);
    if (!outcome.keepText)
        rcv232_->clear();
}

void Form1::showMeasurement(const Measurement &m, console::Extremes &extremes) {
    Text6_->setText(m.temperatureText());
    Text7_->setText(m.humidityText());
    extremes.add(m);
    Text10_->setText(extremes.tmax());
    Text11_->setText(extremes.tmin());
    Text14_->setText(extremes.hmax());
    Text15_->setText(extremes.hmin());
}

void Form1::increaseCount(QLineEdit *box) {
    if (const auto next = console::increasedCount(box->text()))
        box->setText(*next);
}

// ---- the log ----

void Form1::appendLog(const QString &line) {
    // Only the new text goes in, at the end: the log may hold hours of
    // replies and must not be rebuilt for each one.
    QTextCursor cursor(Text3_->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(line + QLatin1Char('\n'));
    Text3_->setTextCursor(cursor);
    Text3_->ensureCursorVisible();
}

void Form1::Text3_DblClick() {
    Text3_->clear();
}

void Form1::Command2_Click() {
    bus_->releaseAny();
    Timer2_->stop();
    close();
}

// ---- the network link ----

void Form1::Command3_Click() {
    if (Command3_->text() != kConnect) {
        link_->close();
        Command3_->setText(kConnect);
        Timer1_->stop();
        return;
    }
    const auto port = parseWholeNumber(Text2_->text(), 1, 65535);
    if (!port) {
        showNetStatus(QStringLiteral("端口号无效：请输入1到65535的整数"));
        return;
    }
    const QString host = Text13_->text() + QLatin1Char('.') + Text12_->text() + QLatin1Char('.') +
                         Text9_->text() + QLatin1Char('.') + Text8_->text();
    // Polling and caption first: a connection that fails at once puts them back.
    Timer1_->start();
    Command3_->setText(kDisconnect);
    link_->open(host, quint16(*port));
}

void Form1::linkStateChanged(ConverterLink::State linkState, const QString &text) {
    showNetStatus(text);
    if (linkState == ConverterLink::State::Closed) {
        Timer1_->stop();
        Command3_->setText(kConnect);
    }
}

void Form1::showNetStatus(const QString &text) {
    netStatus_->setText(text);
}

void Form1::Timer1_Timer() {
    const auto address = pollAddress();
    if (!address)
        return;
    // While the connection is still being made the tick is skipped; a
    // failure has already been reported and stopped this timer.
    link_->poll(*address);
}
