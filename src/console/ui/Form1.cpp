#include "console/ui/Form1.h"

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
#include <QTextCursor>
#include <QVBoxLayout>

using console::ConsoleSession;

namespace {
const QString kStartAuto = QStringLiteral("开启自动采集");
const QString kStopAuto = QStringLiteral("关闭自动采集");
const QString kConnect = QStringLiteral("连接");
const QString kDisconnect = QStringLiteral("断开");
const QString kPortNotOpen = QStringLiteral("请先打开串口");
}  // namespace

Form1::Form1(BusLink *bus, console::ConsoleState *state, QWidget *parent)
    : QWidget(parent), state_(state), session_(new ConsoleSession(bus, state, this)) {
    setObjectName(QStringLiteral("Form1"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("操作单模块"));
    buildControls();

    connect(session_, &ConsoleSession::logLine, this, &Form1::appendLog);
    connect(session_, &ConsoleSession::measured, this, &Form1::showMeasurement);
    connect(session_, &ConsoleSession::countsChanged, this, &Form1::showCounts);
    connect(session_, &ConsoleSession::pollingChanged, this,
            [this](bool polling) { automaticButton_->setText(polling ? kStopAuto : kStartAuto); });
    connect(session_, &ConsoleSession::pollNote, this, [this](const QString &text) {
        if (pollStatus_->text() != text)
            pollStatus_->setText(text);
    });
    connect(session_, &ConsoleSession::portNotOpen, this, [this] { msgBox(this, kPortNotOpen); });
    connect(session_, &ConsoleSession::converterChanged, this,
            [this](bool on, const QString &text) {
                netStatus_->setText(text);
                connectButton_->setText(on ? kDisconnect : kConnect);
            });
    connect(session_, &ConsoleSession::converterNote, this,
            [this](const QString &text) { netStatus_->setText(text); });
    connect(session_, &ConsoleSession::receiveBoxChanged,
            findChild<QLineEdit *>(QStringLiteral("rcv232")), &QLineEdit::setText);
    connect(addressBox_, &QLineEdit::textChanged, session_, &ConsoleSession::setAddressText);
    session_->setAddressText(addressBox_->text());
    log_->viewport()->installEventFilter(this);
}

Form1::~Form1() = default;

void Form1::buildControls() {
    auto box = [](QWidget *parent, const char *name, const QString &text, int width = 0) {
        auto *edit = makeControl<QLineEdit>(parent, name, text);
        if (width > 0)
            edit->setFixedWidth(width);
        return edit;
    };
    // Frame6: Modbus commands.
    auto *commandFrame = makeControl<QGroupBox>(this, "Frame6", QStringLiteral("Modbus命令操作"));
    presetList_ = makeControl<QComboBox>(commandFrame, "Combo2");
    presetList_->addItems(console::presetNames());
    presetList_->setCurrentIndex(-1);
    commandBox_ = box(commandFrame, "Text4", QStringLiteral("01 04 00 00 00 01"));
    auto *crcButton = makeControl<QPushButton>(commandFrame, "Command1", QStringLiteral("显示CRC"));
    crcLowBox_ = box(commandFrame, "Text1", QStringLiteral("C1"), 40);
    crcLowBox_->setToolTip(QStringLiteral("CRC低字节"));
    crcHighBox_ = box(commandFrame, "Text5", QStringLiteral("C2"), 40);
    crcHighBox_->setToolTip(QStringLiteral("CRC高字节"));
    auto *sendButton = makeControl<QPushButton>(commandFrame, "Command28", QStringLiteral("发送"));
    log_ = makeControl<QPlainTextEdit>(commandFrame, "Text3");
    log_->setPlainText(QStringLiteral("读回的结果"));
    log_->setReadOnly(true);
    log_->setUndoRedoEnabled(false);
    log_->setToolTip(QStringLiteral("双击清空显示区"));

    auto *commands = new QGridLayout(commandFrame);
    commands->addWidget(makeControl<QLabel>(commandFrame, "Label1", QStringLiteral("常用命令：")),
                        0, 0);
    commands->addWidget(presetList_, 0, 1, 1, 4);
    commands->addWidget(makeControl<QLabel>(commandFrame, "Label2", QStringLiteral("输入命令：")),
                        1, 0);
    commands->addWidget(commandBox_, 1, 1, 1, 4);
    commands->addWidget(crcButton, 2, 1);
    commands->addWidget(crcLowBox_, 2, 2);
    commands->addWidget(crcHighBox_, 2, 3);
    commands->addWidget(sendButton, 2, 4);
    commands->addWidget(log_, 3, 0, 1, 5);
    commands->setColumnStretch(1, 1);

    // Frame2: results of the automatic acquisition. The counters are the
    // session's; their boxes only show them.
    auto *resultFrame = makeControl<QGroupBox>(this, "Frame2", QStringLiteral("显示采集结果"));
    temperatureBox_ = box(resultFrame, "Text6", QStringLiteral("温度"));
    humidityBox_ = box(resultFrame, "Text7", QStringLiteral("湿度"));
    highestTempBox_ = box(resultFrame, "Text10", QStringLiteral("最高温度"));
    lowestTempBox_ = box(resultFrame, "Text11", QStringLiteral("最低稳度"));
    highestHumBox_ = box(resultFrame, "Text14", QStringLiteral("最高湿度"));
    lowestHumBox_ = box(resultFrame, "Text15", QStringLiteral("最低湿度"));
    addressBox_ = box(resultFrame, "Text16", QStringLiteral("1"));
    successesBox_ = box(resultFrame, "Text17", QStringLiteral("0"));
    failuresBox_ = box(resultFrame, "Text18", QStringLiteral("0"));
    successesBox_->setReadOnly(true);
    failuresBox_->setReadOnly(true);
    automaticButton_ = makeControl<QPushButton>(resultFrame, "Command30", kStartAuto);
    pollStatus_ = makeControl<QLabel>(resultFrame, "pollStatus", QString());
    pollStatus_->setWordWrap(true);

    auto *results = new QGridLayout(resultFrame);
    const QList<QPair<QString, QLineEdit *>> rows = {
        {QStringLiteral("温度(摄氏)："), temperatureBox_},
        {QStringLiteral("相对湿度(%)："), humidityBox_},
        {QStringLiteral("最高温度："), highestTempBox_},
        {QStringLiteral("最低温度："), lowestTempBox_},
        {QStringLiteral("最高湿度："), highestHumBox_},
        {QStringLiteral("最低湿度："), lowestHumBox_},
        {QStringLiteral("模块地址："), addressBox_},
        {QStringLiteral("采集成功次数："), successesBox_},
        {QStringLiteral("采集失败次数："), failuresBox_},
    };
    for (int i = 0; i < rows.size(); ++i) {
        const QByteArray name = "Label" + QByteArray::number(3 + i);
        results->addWidget(makeControl<QLabel>(resultFrame, name.constData(), rows[i].first), i, 0);
        results->addWidget(rows[i].second, i, 1);
    }
    results->addWidget(automaticButton_, int(rows.size()), 0, 1, 2);
    results->addWidget(pollStatus_, int(rows.size()) + 1, 0, 1, 2);
    results->setRowStretch(int(rows.size()) + 2, 1);

    // Frame3: the QX-LAN converter. Its default address is a private LAN
    // address, as the converter leaves the factory.
    auto *netFrame = makeControl<QGroupBox>(
        this, "Frame3", QStringLiteral("网络口接QX-LAN采集(以太网转RS485总线)"));
    const char *ipNames[] = {"Text13", "Text12", "Text9", "Text8"};
    const char *ipParts[] = {"192", "168", "1", "200"};
    for (int i = 0; i < 4; ++i)
        ipBoxes_[i] = box(netFrame, ipNames[i], QString::fromLatin1(ipParts[i]), 48);
    tcpPortBox_ = box(netFrame, "Text2", QStringLiteral("1234"), 64);
    connectButton_ = makeControl<QPushButton>(netFrame, "Command3", kConnect);
    netStatus_ = makeControl<QLabel>(netFrame, "netStatus", QString());
    netStatus_->setWordWrap(true);

    auto *net = new QGridLayout(netFrame);
    net->addWidget(makeControl<QLabel>(netFrame, "Label12", QStringLiteral("输入QX-LAN的IP地址：")),
                   0, 0);
    auto *address = new QHBoxLayout();
    const char *dotNames[] = {"Label14", "Label15", "Label16"};
    for (int i = 0; i < 4; ++i) {
        address->addWidget(ipBoxes_[i]);
        if (i < 3)
            address->addWidget(makeControl<QLabel>(netFrame, dotNames[i], QStringLiteral(".")));
    }
    address->addStretch(1);
    net->addLayout(address, 0, 1);
    net->addWidget(makeControl<QLabel>(netFrame, "Label13", QStringLiteral("输入QX-LAN的端口号：")),
                   1, 0);
    auto *portRow = new QHBoxLayout();
    portRow->addWidget(tcpPortBox_);
    portRow->addWidget(connectButton_);
    portRow->addStretch(1);
    net->addLayout(portRow, 1, 1);
    net->addWidget(netStatus_, 2, 0, 1, 2);

    auto *exitButton = makeControl<QPushButton>(this, "Command2", QStringLiteral("退出"));
    box(this, "rcv232", QString())->hide();

    auto *right = new QVBoxLayout();
    right->addWidget(resultFrame, 1);
    right->addWidget(exitButton);
    auto *top = new QHBoxLayout();
    top->addWidget(commandFrame, 3);
    top->addLayout(right, 1);
    auto *outer = new QVBoxLayout(this);
    outer->addLayout(top, 1);
    outer->addWidget(netFrame);

    connect(presetList_, &QComboBox::activated, this, &Form1::choosePreset);
    connect(crcButton, &QPushButton::clicked, this, &Form1::showCrc);
    connect(sendButton, &QPushButton::clicked, this, &Form1::sendCommand);
    connect(automaticButton_, &QPushButton::clicked, this, &Form1::toggleAutomatic);
    connect(exitButton, &QPushButton::clicked, this, &Form1::exitWindow);
    connect(connectButton_, &QPushButton::clicked, this, &Form1::toggleConverter);
}

bool Form1::eventFilter(QObject *watched, QEvent *event) {
    if (watched == log_->viewport() && event->type() == QEvent::MouseButtonDblClick) {
        clearLog();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

// ---- commands ----

void Form1::choosePreset(int index) {
    if (const auto command = console::presetCommand(index))
        commandBox_->setText(*command);
}

std::optional<QByteArray> Form1::commandBytes() {
    QString text = commandBox_->text();
    const console::CommandResult command = console::convertCommand(text);
    commandBox_->setText(text);
    if (!command.ok()) {
        msgBox(this, command.error, MsgButtons::Ok, MsgIcon::Warning);
        return std::nullopt;
    }
    return command.bytes;
}

void Form1::showCrc() {
    const auto command = commandBytes();
    if (!command)
        return;
    const console::CrcTexts crc = console::crcTexts(*command);
    crcLowBox_->setText(crc.low);
    crcHighBox_->setText(crc.high);
}

void Form1::sendCommand() {
    const auto command = commandBytes();
    if (!command)
        return;
    switch (session_->sendCommand(*command)) {
        case ConsoleSession::SendOutcome::Sent:
        case ConsoleSession::SendOutcome::HeldOutside:  // said under the button
            break;
        case ConsoleSession::SendOutcome::PortNotOpen:
            msgBox(this, kPortNotOpen);
            break;
        case ConsoleSession::SendOutcome::Failed:
            msgBox(this, QStringLiteral("发送失败：") + session_->sendError(), MsgButtons::Ok,
                   MsgIcon::Warning);
            break;
    }
}

// ---- automatic acquisition ----

void Form1::toggleAutomatic() {
    if (session_->isPolling())
        session_->stopPolling();
    else
        session_->startPolling();
}

void Form1::showMeasurement(const Measurement &m, bool network) {
    const console::Extremes &extremes = network ? state().network : state().serial;
    temperatureBox_->setText(m.temperatureText());
    if (!m.humidityShowable())
        return;
    humidityBox_->setText(m.humidityText());
    highestTempBox_->setText(extremes.tmax());
    lowestTempBox_->setText(extremes.tmin());
    highestHumBox_->setText(extremes.hmax());
    lowestHumBox_->setText(extremes.hmin());
}

void Form1::showCounts() {
    successesBox_->setText(QString::number(session_->successes()));
    failuresBox_->setText(QString::number(session_->failures()));
}

// ---- the log ----

void Form1::appendLog(const QString &line) {
    // Only the new text goes in, at the end: the log may hold hours of
    // replies and must not be rebuilt for each one.
    QTextCursor cursor(log_->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(line + QLatin1Char('\n'));
    log_->setTextCursor(cursor);
    log_->ensureCursorVisible();
}

void Form1::clearLog() {
    log_->clear();
}

void Form1::exitWindow() {
    session_->stopPolling();
    close();
}

// ---- the converter ----

void Form1::toggleConverter() {
    if (session_->isConverterOn()) {
        session_->disconnectConverter();
        connectButton_->setText(kConnect);
        return;
    }
    const auto port = parseWholeNumber(tcpPortBox_->text(), 1, 65535);
    if (!port) {
        netStatus_->setText(QStringLiteral("端口号无效：请输入1到65535的整数"));
        return;
    }
    const QString host = ipBoxes_[0]->text() + QLatin1Char('.') + ipBoxes_[1]->text() +
                         QLatin1Char('.') + ipBoxes_[2]->text() + QLatin1Char('.') +
                         ipBoxes_[3]->text();
    session_->connectConverter(host, quint16(*port));
}
