#include "acquisition/ModuleWindow.h"

#include "acquisition/EditQx7.h"
#include "acquisition/ModuleList.h"
#include "acquisition/RecordStore.h"
#include "app/Controls.h"
#include "app/MessageBoxes.h"
#include "app/Module1.h"
#include "bus/Frames.h"
#include "bus/SerialPort.h"
#include "mqtt/MqttFormat.h"
#include "mqtt/MqttPublisher.h"
#include "records/Clock.h"
#include "store/Statements.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

namespace {
using controls::button;
using controls::label;
using controls::textBox;
using controls::timer;
const QString kAcquire = QStringLiteral("采集");
const QString kStop = QStringLiteral("停止");
const QString kSearch = QStringLiteral("搜索模块");

constexpr int kTwipsPerPixel = 15;

}  // namespace

ModuleWindow::State &ModuleWindow::state() {
    static State s;
    return s;
}

void ModuleWindow::resetState() {
    state() = State();
}

ModuleWindow::ModuleWindow(QWidget *parent) : QWidget(parent) {
    setObjectName(QStringLiteral("module"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("多模块采集"));
    buildControls();
    LoadGrid1();
}

ModuleWindow::~ModuleWindow() {
    stopJobs();
    Module1::rs232target().unregister(this);
}

void ModuleWindow::buildControls() {
    model_ = new ModuleListModel(this);

    Label4_ = label(this, "Label4", QStringLiteral("系统中现有模块"));
    ListView1_ = new QTreeView(this);
    ListView1_->setObjectName(QStringLiteral("ListView1"));
    ListView1_->setToolTip(QStringLiteral("双击修改模块参数"));
    ListView1_->setRootIsDecorated(false);
    ListView1_->setItemsExpandable(false);
    ListView1_->setUniformRowHeights(true);
    ListView1_->setAllColumnsShowFocus(true);
    ListView1_->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1_->setSelectionMode(QAbstractItemView::SingleSelection);
    ListView1_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1_->setModel(model_);
    ListView1_->viewport()->installEventFilter(this);

    rcv232_ = new QLineEdit(QStringLiteral("Text1"), this);
    rcv232_->setObjectName(QStringLiteral("rcv232"));
    rcv232_->hide();

    Label2_ = label(this, "Label2", QStringLiteral("采集周期（毫秒）："));
    Text2_ = textBox(this, "Text2", QStringLiteral("600"), 70);
    Command3_ = button(this, "Command3", kAcquire);
    Command4_ = button(this, "Command4", QStringLiteral("计数清零"));
    Label6_ = label(this, "Label6", AcquisitionCycle::resetCounterText());
    Label8_ = label(this, "Label8", QStringLiteral("已累计采集："));
    Label7_ = label(this, "Label7", QStringLiteral("0小时0分0秒"));
    Label1_ = label(this, "Label1", QStringLiteral("现在采集模块：0"));
    statusText_ = label(this, "statusText", QString());
    statusText_->setStyleSheet(QStringLiteral("color: #b00000"));
    statusText_->setWordWrap(true);
    statusText_->hide();

    Frame1_ = new QGroupBox(QStringLiteral("快速操作"), this);
    Frame1_->setObjectName(QStringLiteral("Frame1"));
    Label5_ = label(Frame1_, "Label5", QStringLiteral("将模块："));
    Text16_ = textBox(Frame1_, "Text16", QStringLiteral("1"), 50);
    Label3_ = label(Frame1_, "Label3", QStringLiteral("的地址，更换为："));
    Text1_ = textBox(Frame1_, "Text1", QStringLiteral("2"), 50);
    Command2_ = button(Frame1_, "Command2", QStringLiteral("更换"));
    Command5_ = button(Frame1_, "Command5", kSearch);
    Label16_ = label(Frame1_, "Label16", QStringLiteral("搜索周期（毫秒）："));
    Text19_ = textBox(Frame1_, "Text19", QStringLiteral("500"), 70);
    Command1_ = button(this, "Command1", QStringLiteral("退出"));

    Timer1_ = timer(this, "Timer1", 600);
    Timer1_->setTimerType(Qt::PreciseTimer);
    Timer2_ = timer(this, "Timer2", 1000);
    Timer2_->setTimerType(Qt::PreciseTimer);
    Timer4_ = timer(this, "Timer4", 500);

    auto *changeRow = new QHBoxLayout;
    for (QWidget *w : {static_cast<QWidget *>(Label5_), static_cast<QWidget *>(Text16_),
                       static_cast<QWidget *>(Label3_), static_cast<QWidget *>(Text1_),
                       static_cast<QWidget *>(Command2_)})
        changeRow->addWidget(w);
    changeRow->addStretch();
    auto *searchRow = new QHBoxLayout;
    searchRow->addWidget(Command5_);
    searchRow->addWidget(Label16_);
    searchRow->addWidget(Text19_);
    searchRow->addStretch();
    auto *frameLayout = new QVBoxLayout(Frame1_);
    frameLayout->addLayout(changeRow);
    frameLayout->addLayout(searchRow);

    auto *periodRow = new QHBoxLayout;
    periodRow->addWidget(Label2_);
    periodRow->addWidget(Text2_);
    periodRow->addWidget(Command3_);
    periodRow->addWidget(Command4_);
    periodRow->addSpacing(16);
    periodRow->addWidget(Label6_);
    periodRow->addStretch();
    auto *timeRow = new QHBoxLayout;
    timeRow->addWidget(Label8_);
    timeRow->addWidget(Label7_);
    timeRow->addSpacing(16);
    timeRow->addWidget(Label1_);
    timeRow->addStretch();
    auto *exitRow = new QHBoxLayout;
    exitRow->addStretch();
    exitRow->addWidget(Command1_);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(Label4_);
    layout->addWidget(ListView1_, 1);
    layout->addLayout(periodRow);
    layout->addLayout(timeRow);
    layout->addWidget(statusText_);
    layout->addWidget(Frame1_);
    layout->addLayout(exitRow);

    connect(Command3_, &QPushButton::clicked, this, &ModuleWindow::Command3_Click);
    connect(Command4_, &QPushButton::clicked, this, &ModuleWindow::Command4_Click);
    connect(Command1_, &QPushButton::clicked, this, &ModuleWindow::Command1_Click);
    connect(Timer1_, &QTimer::timeout, this, &ModuleWindow::Timer1_Timer);
    connect(Timer2_, &QTimer::timeout, this, &ModuleWindow::Timer2_Timer);
    connect(Command5_, &QPushButton::clicked, this, &ModuleWindow::Command5_Click);
    connect(Timer4_, &QTimer::timeout, this, &ModuleWindow::Timer4_Timer);
    connect(Command2_, &QPushButton::clicked, this, &ModuleWindow::Command2_Click);
    // A period typed while the timer runs takes effect at once; a text that is
    // not a period leaves the timer as it is.
    connect(Text2_, &QLineEdit::textChanged, this, [this](const QString &text) {
        if (const auto ms = parsePeriodMs(text))
            Timer1_->setInterval(*ms);
    });
    connect(Text19_, &QLineEdit::textChanged, this, [this](const QString &text) {
        if (const auto ms = parsePeriodMs(text))
            Timer4_->setInterval(*ms);
    });
}

void ModuleWindow::LoadGrid1() {
    QString error;
    const bool ok = model_->load(Module1::dbconn(), &error);
    for (int c = 0; c < ModuleListModel::ColumnCount; ++c)
        ListView1_->setColumnWidth(c, ModuleListModel::headerTwips(c) / kTwipsPerPixel);
    state().cycle.schedule.reset(model_->recordPeriods());
    Label4_->setText(QStringLiteral("系统中现有") + QString::number(model_->count()) +
                     QStringLiteral("个模块"));
    if (!ok) {
        statusText_->setText(QStringLiteral("无法读取模块列表：") + error);
        statusText_->show();
    }
}

std::optional<int> ModuleWindow::selectedPosition() const {
    const QModelIndexList rows = ListView1_->selectionModel()->selectedRows();
    if (rows.isEmpty())
        return std::nullopt;
    return rows.first().row() + 1;
}

std::optional<ModuleRow> ModuleWindow::selectedRow() const {
    const auto position = selectedPosition();
    if (!position || !model_->hasPosition(*position))
        return std::nullopt;
    return model_->at(*position);
}

bool ModuleWindow::isAcquiring() const {
    return Timer1_->isActive();
}

QString ModuleWindow::statusText() const {
    return statusText_->text();
}

void ModuleWindow::Command3_Click() {
    if (Command3_->text() != kAcquire) {
        Command3_->setText(kAcquire);
        Timer1_->stop();
        Timer2_->stop();
        Command5_->setEnabled(true);
        Command2_->setEnabled(true);
        releasePort();
        return;
    }
    if (Module1::rs232busy())
        return;
    const auto period = periodOrSay(Text2_, QStringLiteral("采集周期"));
    if (!period)
        return;
    rcv232_->clear();
    Module1::rs232target().registerTarget(this, this);
    Timer1_->setInterval(*period);
    Timer1_->start();
    Command5_->setEnabled(false);
    Command2_->setEnabled(false);
    Module1::rs232busy() = true;
    holdsPort_ = true;
    Command3_->setText(kStop);
    Timer2_->start();
    state().cycle.start();
}

std::optional<int> ModuleWindow::periodOrSay(QLineEdit *box, const QString &what) {
    const auto period = parsePeriodMs(box->text());
    if (!period)
        msgBox(this, what + QStringLiteral("必须是大于0的整数（毫秒），请重新输入。"),
               MsgButtons::Ok, MsgIcon::Warning);
    return period;
}

void ModuleWindow::Command4_Click() {
    state().cycle.resetCounters();
    Label6_->setText(AcquisitionCycle::resetCounterText());
}

void ModuleWindow::Command1_Click() {
    stopJobs();
    Module1::rs232busy() = false;
    close();
}

void ModuleWindow::Timer1_Timer() {
    AcquisitionCycle &cycle = state().cycle;
    const PollStep step = cycle.tick(*model_);
    if (!step.sends())
        return;
    SerialPort *port = Module1::MSComm1();
    const PortError e =
        port ? port->Output(measurementRequest(step.address)) : PortError::PortNotOpen;
    if (e == PortError::PortNotOpen) {
        portNotOpen();
        return;
    }
    if (e != PortError::None)
        return;
    cycle.requestSent(step);
    Label1_->setText(AcquisitionCycle::pollingText(model_->at(step.position).address));
    Label6_->setText(cycle.counterText());
}

void ModuleWindow::Timer2_Timer() {
    AcquisitionCycle &cycle = state().cycle;
    const QList<DueRecord> records = cycle.secondTick(*model_);
    Label7_->setText(cycle.runTime.text());
    if (records.isEmpty())
        return;
    QString error;
    if (storeRecords(Module1::dbconn(), records, &error)) {
        if (storeFailed_) {
            storeFailed_ = false;
            statusText_->clear();
            statusText_->hide();
        }
        return;
    }
    // Tried again at the next tick; the acquisition goes on meanwhile.
    QList<int> positions;
    for (const DueRecord &r : records) positions.append(r.position);
    cycle.schedule.retry(positions);
    statusText_->setText(QStringLiteral("记录保存失败，采集继续：") + error);
    storeFailed_ = true;
    statusText_->show();
}

void ModuleWindow::receiveText(const QString &text) {
    rcv232_->setText(text);
    rcv232_Change();
}

void ModuleWindow::rcv232_Change() {
    const QString text = rcv232_->text().trimmed();
    if (text.isEmpty())
        return;
    const bool acquiring = Timer1_->isActive();
    const bool searching = Timer4_->isActive();
    if (!acquiring && !searching)
        return;  // stays in the box until the next start clears it
    const AcquisitionReply reply = analyseReply(text);
    switch (reply.kind) {
        case ReplyKind::Reading:
            // A reading that does not answer the poll outstanding is not believed
            // and stays in the box; the poll then counts as failed.
            if (acquiring && state().cycle.takeReading(*model_, reply.address, reply.reading)) {
                rcv232_->clear();
                if (MqttPublisher *mqtt = Module1::mqtt())
                    mqtt->publishReading(reply.address, reply.reading.temperature(),
                                         reply.reading.humidity(),
                                         mqttformat::recordTime(recordsclock::now()));
            }
            return;
        case ReplyKind::Other:
            rcv232_->clear();
            return;
        case ReplyKind::SearchAnswer:
            if (searching) {
                rcv232_->clear();
                searchAnswer(reply);
            }
            return;
        case ReplyKind::Empty:
        case ReplyKind::BadReading:
        case ReplyKind::BadSearch:
            return;
    }
}

void ModuleWindow::Command5_Click() {
    if (Command5_->text() != kSearch) {
        stopSearch();
        return;
    }
    if (Module1::rs232busy())
        return;
    const auto period = periodOrSay(Text19_, QStringLiteral("搜索周期"));
    if (!period)
        return;
    rcv232_->clear();
    state().search.start();
    Module1::rs232target().registerTarget(this, this);
    Timer4_->setInterval(*period);
    Timer4_->start();
    Command3_->setEnabled(false);
    Command2_->setEnabled(false);
    Module1::rs232busy() = true;
    holdsPort_ = true;
    searching_ = true;
}

void ModuleWindow::stopSearch() {
    Command5_->setText(kSearch);
    Timer4_->stop();
    searching_ = false;
    Command3_->setEnabled(true);
    Command2_->setEnabled(true);
    releasePort();
}

void ModuleWindow::Timer4_Timer() {
    BusSearch &search = state().search;
    const int address = search.address;
    SerialPort *port = Module1::MSComm1();
    const QByteArray probe = readRegisterRequest(quint8(address), modbus::kRegModel);
    const PortError e = port ? port->Output(probe) : PortError::PortNotOpen;
    if (e == PortError::PortNotOpen) {
        portNotOpen();
        return;
    }
    if (e != PortError::None)
        return;
    const BusSearch::Probe sent = search.next();
    Command5_->setText(BusSearch::caption(sent.address));
    if (sent.last)
        stopSearch();
}

void ModuleWindow::searchAnswer(const AcquisitionReply &reply) {
    // No probe goes out while the operator decides.
    Timer4_->stop();
    if (!model_->isRegistered(reply.address)) {
        QPointer<ModuleWindow> self(this);
        const bool add = askYesNo(this, BusSearch::question(reply.address, reply.model),
                                  MsgIcon::Question, QStringLiteral("Add Device"));
        if (!self)
            return;
        if (add) {
            LiteConnection &db = Module1::dbconn();
            if (db.Execute(sql::insertModule(QString::number(reply.address), reply.model))) {
                LoadGrid1();
            } else {
                msgBox(this,
                       QStringLiteral("无法添加地址为") + QString::number(reply.address) +
                           QStringLiteral("的模块：") + db.lastError(),
                       MsgButtons::Ok, MsgIcon::Warning);
                if (!self)
                    return;
            }
        }
    }
    // The search goes on with the next address, one full period later,
    // unless it was stopped meanwhile.
    if (searching_)
        Timer4_->start();
}

void ModuleWindow::Command2_Click() {
    const auto from = parseBusAddress(Text16_->text());
    const auto to = parseBusAddress(Text1_->text());
    if (!from || !to) {
        msgBox(this,
               QStringLiteral("模块地址必须是0到255之间的整数，请检查“") +
                   (from ? QStringLiteral("更换为") : QStringLiteral("将模块")) +
                   QStringLiteral("”后的地址。"),
               MsgButtons::Ok, MsgIcon::Warning);
        return;
    }
    SerialPort *port = Module1::MSComm1();
    const QByteArray frame = writeRegisterRequest(*from, modbus::kRegAddress, *to);
    const PortError e = port ? port->Output(frame) : PortError::PortNotOpen;
    if (e == PortError::PortNotOpen) {
        Timer4_->stop();
        searching_ = false;
        releasePort();
        msgBox(this, QStringLiteral("请先打开串口"));
    }
}

void ModuleWindow::ListView1_DblClick() {
    Module1::showWindow(Module1::editQx7());
}

bool ModuleWindow::eventFilter(QObject *watched, QEvent *event) {
    if (watched == ListView1_->viewport() && event->type() == QEvent::MouseButtonDblClick) {
        // The press before it has already selected the row under the pointer.
        ListView1_DblClick();
    }
    return QWidget::eventFilter(watched, event);
}

void ModuleWindow::portNotOpen() {
    Timer1_->stop();
    Timer4_->stop();
    searching_ = false;
    Command2_->setEnabled(true);
    Command3_->setEnabled(true);
    Command5_->setEnabled(true);
    releasePort();
    msgBox(this, QStringLiteral("请先打开串口"));
}

void ModuleWindow::releasePort() {
    if (Timer1_->isActive() || searching_)
        return;
    Module1::rs232busy() = false;
    holdsPort_ = false;
}

void ModuleWindow::stopJobs() {
    if (Timer1_)
        Timer1_->stop();
    if (Timer2_)
        Timer2_->stop();
    if (Timer4_)
        Timer4_->stop();
    searching_ = false;
    if (holdsPort_) {
        Module1::rs232busy() = false;
        holdsPort_ = false;
    }
}

void ModuleWindow::closeEvent(QCloseEvent *event) {
    // However the window goes (退出, the close box, a menu command that puts
    // another window in its place), its jobs end and the port is free again.
    stopJobs();
    event->accept();
}
