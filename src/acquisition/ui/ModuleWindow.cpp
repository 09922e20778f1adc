#include "acquisition/ui/ModuleWindow.h"

#include "acquisition/ModuleList.h"
#include "alarms/AlarmRecorder.h"
#include "widgets/Controls.h"
#include "widgets/MessageBoxes.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

namespace {
const QString kAcquire = QStringLiteral("采集");
const QString kStop = QStringLiteral("停止");
const QString kSearch = QStringLiteral("搜索模块");
const QString kPortNotOpen = QStringLiteral("请先打开串口");

constexpr int kTwipsPerPixel = 15;
}  // namespace

ModuleWindow::ModuleWindow(AcquisitionJobs *jobs, AlarmRecorder *alarms, std::function<void()> beep,
                           QWidget *parent)
    : QWidget(parent), jobs_(jobs), alarms_(alarms) {
    setObjectName(QStringLiteral("module"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("多模块采集"));
    // While the window is open its timers (Timer1, Timer2, Timer4) are found
    // under it by name, as the window's own; the jobs go back to their owner
    // when it closes.
    jobs_->setParent(this);
    buildControls();

    connect(jobs_, &AcquisitionJobs::activityChanged, this, &ModuleWindow::showActivity);
    connect(jobs_, &AcquisitionJobs::notesChanged, this, &ModuleWindow::showNotes);
    connect(alarms_, &AlarmRecorder::noteChanged, this, &ModuleWindow::showNotes);
    connect(alarms_, &AlarmRecorder::alarmsChanged, this, &ModuleWindow::showAlarms);
    // Nothing waits for an answer: the program usually runs unattended.
    connect(alarms_, &AlarmRecorder::alarmChanged, this, [beep](const AlarmEvent &e) {
        if (e.started && beep)
            beep();
    });
    connect(jobs_, &AcquisitionJobs::receiveBoxChanged, receiveBox_, &QLineEdit::setText);
    connect(jobs_, &AcquisitionJobs::pollSent, this, [this](const QString &address) {
        pollingLabel_->setText(AcquisitionCycle::pollingText(address));
        countersLabel_->setText(jobs_->counterText());
    });
    connect(jobs_, &AcquisitionJobs::clockTicked, this,
            [this] { runTimeLabel_->setText(jobs_->runTimeText()); });
    // A logger acquires: its counters and run time, as it says them.
    connect(jobs_, &AcquisitionJobs::outsideChanged, this, &ModuleWindow::showCounters);
    connect(jobs_, &AcquisitionJobs::searchProbed, this,
            [this](int address) { searchButton_->setText(BusSearch::caption(address)); });
    connect(jobs_, &AcquisitionJobs::moduleFound, this, &ModuleWindow::askAboutModule);
    connect(jobs_, &AcquisitionJobs::portNotOpen, this, [this] { msgBox(this, kPortNotOpen); });
    connect(jobs_, &AcquisitionJobs::listLoaded, this, [this] {
        for (int c = 0; c < ModuleListModel::ColumnCount; ++c)
            moduleList_->setColumnWidth(c, ModuleListModel::headerTwips(c) / kTwipsPerPixel);
        moduleCountLabel_->setText(QStringLiteral("系统中现有") +
                                   QString::number(jobs_->modules()->count()) +
                                   QStringLiteral("个模块"));
    });

    LoadGrid1();
    showActivity();
    showAlarms();
    if (jobs_->isOutside())
        showCounters();
}

ModuleWindow::~ModuleWindow() {
    if (jobs_)
        jobs_->setParent(nullptr);
}

void ModuleWindow::buildControls() {
    moduleCountLabel_ = makeControl<QLabel>(this, "Label4", QStringLiteral("系统中现有模块"));
    moduleList_ = makeControl<QTreeView>(this, "ListView1");
    moduleList_->setToolTip(QStringLiteral("双击修改模块参数"));
    moduleList_->setRootIsDecorated(false);
    moduleList_->setItemsExpandable(false);
    moduleList_->setUniformRowHeights(true);
    moduleList_->setAllColumnsShowFocus(true);
    moduleList_->setSelectionBehavior(QAbstractItemView::SelectRows);
    moduleList_->setSelectionMode(QAbstractItemView::SingleSelection);
    moduleList_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    moduleList_->setModel(jobs_->modules());
    // Each column keeps its width; the last one does not stretch over the window.
    moduleList_->header()->setStretchLastSection(false);
    moduleList_->viewport()->installEventFilter(this);
    alarmLabel_ = makeControl<QLabel>(this, "alarmText", QString());
    alarmLabel_->setStyleSheet(QStringLiteral("color: #b00000; font-weight: bold"));
    alarmLabel_->setWordWrap(true);
    alarmLabel_->hide();

    receiveBox_ = makeControl<QLineEdit>(this, "rcv232", QStringLiteral("Text1"));
    receiveBox_->hide();

    auto *pollPeriodLabel =
        makeControl<QLabel>(this, "Label2", QStringLiteral("采集周期（毫秒）："));
    pollPeriodBox_ = makeControl<QLineEdit>(this, "Text2", QStringLiteral("600"));
    pollPeriodBox_->setFixedWidth(70);
    acquireButton_ = makeControl<QPushButton>(this, "Command3", kAcquire);
    resetButton_ = makeControl<QPushButton>(this, "Command4", QStringLiteral("计数清零"));
    countersLabel_ = makeControl<QLabel>(this, "Label6", AcquisitionCycle::resetCounterText());
    auto *runTimeCaption = makeControl<QLabel>(this, "Label8", QStringLiteral("已累计采集："));
    runTimeLabel_ = makeControl<QLabel>(this, "Label7", QStringLiteral("0小时0分0秒"));
    pollingLabel_ = makeControl<QLabel>(this, "Label1", QStringLiteral("现在采集模块：0"));
    notesLabel_ = makeControl<QLabel>(this, "statusText", QString());
    notesLabel_->setStyleSheet(QStringLiteral("color: #b00000"));
    notesLabel_->setWordWrap(true);
    notesLabel_->hide();

    auto *quickFrame = makeControl<QGroupBox>(this, "Frame1", QStringLiteral("快速操作"));
    auto *changeFromLabel = makeControl<QLabel>(quickFrame, "Label5", QStringLiteral("将模块："));
    changeFromBox_ = makeControl<QLineEdit>(quickFrame, "Text16", QStringLiteral("1"));
    changeFromBox_->setFixedWidth(50);
    auto *changeToLabel =
        makeControl<QLabel>(quickFrame, "Label3", QStringLiteral("的地址，更换为："));
    changeToBox_ = makeControl<QLineEdit>(quickFrame, "Text1", QStringLiteral("2"));
    changeToBox_->setFixedWidth(50);
    changeButton_ = makeControl<QPushButton>(quickFrame, "Command2", QStringLiteral("更换"));
    searchButton_ = makeControl<QPushButton>(quickFrame, "Command5", kSearch);
    auto *searchPeriodLabel =
        makeControl<QLabel>(quickFrame, "Label16", QStringLiteral("搜索周期（毫秒）："));
    searchPeriodBox_ = makeControl<QLineEdit>(quickFrame, "Text19", QStringLiteral("500"));
    searchPeriodBox_->setFixedWidth(70);
    exitButton_ = makeControl<QPushButton>(this, "Command1", QStringLiteral("退出"));

    auto *changeRow = new QHBoxLayout;
    for (QWidget *w : std::initializer_list<QWidget *>{changeFromLabel, changeFromBox_,
                                                       changeToLabel, changeToBox_, changeButton_})
        changeRow->addWidget(w);
    changeRow->addStretch();
    auto *searchRow = new QHBoxLayout;
    searchRow->addWidget(searchButton_);
    searchRow->addWidget(searchPeriodLabel);
    searchRow->addWidget(searchPeriodBox_);
    searchRow->addStretch();
    auto *frameLayout = new QVBoxLayout(quickFrame);
    frameLayout->addLayout(changeRow);
    frameLayout->addLayout(searchRow);

    auto *periodRow = new QHBoxLayout;
    periodRow->addWidget(pollPeriodLabel);
    periodRow->addWidget(pollPeriodBox_);
    periodRow->addWidget(acquireButton_);
    periodRow->addWidget(resetButton_);
    periodRow->addSpacing(16);
    periodRow->addWidget(countersLabel_);
    periodRow->addStretch();
    auto *timeRow = new QHBoxLayout;
    timeRow->addWidget(runTimeCaption);
    timeRow->addWidget(runTimeLabel_);
    timeRow->addSpacing(16);
    timeRow->addWidget(pollingLabel_);
    timeRow->addStretch();
    auto *exitRow = new QHBoxLayout;
    exitRow->addStretch();
    exitRow->addWidget(exitButton_);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(moduleCountLabel_);
    layout->addWidget(moduleList_, 1);
    layout->addWidget(alarmLabel_);
    layout->addLayout(periodRow);
    layout->addLayout(timeRow);
    layout->addWidget(notesLabel_);
    layout->addWidget(quickFrame);
    layout->addLayout(exitRow);

    connect(acquireButton_, &QPushButton::clicked, this, &ModuleWindow::toggleAcquisition);
    connect(resetButton_, &QPushButton::clicked, this, &ModuleWindow::resetCounters);
    connect(exitButton_, &QPushButton::clicked, this, &ModuleWindow::exitWindow);
    connect(searchButton_, &QPushButton::clicked, this, &ModuleWindow::toggleSearch);
    connect(changeButton_, &QPushButton::clicked, this, &ModuleWindow::changeAddress);
    // A period typed while the timer runs takes effect at once; a text that is
    // not a period leaves the timer as it is.
    connect(pollPeriodBox_, &QLineEdit::textChanged, this, [this](const QString &text) {
        if (const auto ms = parsePeriodMs(text))
            jobs_->setPollPeriod(*ms);
    });
    connect(searchPeriodBox_, &QLineEdit::textChanged, this, [this](const QString &text) {
        if (const auto ms = parsePeriodMs(text))
            jobs_->setSearchPeriod(*ms);
    });
}

void ModuleWindow::LoadGrid1() {
    jobs_->loadList();
}

ModuleListModel *ModuleWindow::modules() const {
    return jobs_->modules();
}

std::optional<int> ModuleWindow::selectedPosition() const {
    const QModelIndexList rows = moduleList_->selectionModel()->selectedRows();
    if (rows.isEmpty())
        return std::nullopt;
    return rows.first().row() + 1;
}

std::optional<ModuleRow> ModuleWindow::selectedRow() const {
    const auto position = selectedPosition();
    if (!position || !modules()->hasPosition(*position))
        return std::nullopt;
    return modules()->at(*position);
}

QString ModuleWindow::statusText() const {
    QStringList notes = jobs_->notes();
    if (!alarms_->note().isEmpty())
        notes << alarms_->note();
    return notes.join(QLatin1Char('\n'));
}

void ModuleWindow::showNotes() {
    const QString text = statusText();
    notesLabel_->setText(text);
    notesLabel_->setVisible(!text.isEmpty());
}

QString ModuleWindow::alarmText() const {
    return alarms_->activeText();
}

void ModuleWindow::showAlarms() {
    const QString text = alarmText();
    alarmLabel_->setText(text);
    alarmLabel_->setVisible(!text.isEmpty());
}

void ModuleWindow::showCounters() {
    countersLabel_->setText(jobs_->counterText());
    runTimeLabel_->setText(jobs_->runTimeText());
}

void ModuleWindow::showActivity() {
    const AcquisitionJobs::Activity activity = jobs_->activity();
    const bool idle = activity == AcquisitionJobs::Activity::Idle;
    // Waiting for a lost port is still acquiring: 停止 ends it.
    acquireButton_->setText(jobs_->isAcquiring() ? kStop : kAcquire);
    acquireButton_->setEnabled(activity != AcquisitionJobs::Activity::Searching);
    changeButton_->setEnabled(idle);
    searchButton_->setEnabled(!jobs_->isAcquiring());
    if (activity != AcquisitionJobs::Activity::Searching)
        searchButton_->setText(kSearch);
}

std::optional<int> ModuleWindow::periodOrSay(QLineEdit *box, const QString &what) {
    const auto period = parsePeriodMs(box->text());
    if (!period)
        msgBox(this, what + QStringLiteral("必须是大于0的整数（毫秒），请重新输入。"),
               MsgButtons::Ok, MsgIcon::Warning);
    return period;
}

void ModuleWindow::toggleAcquisition() {
    if (jobs_->isAcquiring()) {
        jobs_->stopAcquisition();
        return;
    }
    // While another job holds the port nothing happens, as the operator
    // sees from the caption that stays.
    if (jobs_->activity() != AcquisitionJobs::Activity::Idle)
        return;
    const auto period = periodOrSay(pollPeriodBox_, QStringLiteral("采集周期"));
    if (!period)
        return;
    jobs_->startAcquisition(*period);
}

void ModuleWindow::resetCounters() {
    jobs_->cycle().resetCounters();
    countersLabel_->setText(AcquisitionCycle::resetCounterText());
}

void ModuleWindow::exitWindow() {
    jobs_->stopAcquisition();
    jobs_->stopSearch();
    close();
}

void ModuleWindow::toggleSearch() {
    if (jobs_->isSearching()) {
        jobs_->stopSearch();
        return;
    }
    if (jobs_->activity() != AcquisitionJobs::Activity::Idle)
        return;
    const auto period = periodOrSay(searchPeriodBox_, QStringLiteral("搜索周期"));
    if (!period)
        return;
    jobs_->startSearch(*period);
}

void ModuleWindow::askAboutModule(quint8 address, const QString &model) {
    QPointer<ModuleWindow> self(this);
    const bool add = askYesNo(this, BusSearch::question(address, model), MsgIcon::Question,
                              QStringLiteral("Add Device"));
    if (!self)
        return;
    QString error;
    if (!jobs_->answerFound(add, address, model, &error))
        msgBox(this,
               QStringLiteral("无法添加地址为") + QString::number(address) +
                   QStringLiteral("的模块：") + error,
               MsgButtons::Ok, MsgIcon::Warning);
}

void ModuleWindow::changeAddress() {
    const auto from = parseBusAddress(changeFromBox_->text());
    const auto to = parseBusAddress(changeToBox_->text());
    if (!from || !to) {
        msgBox(this,
               QStringLiteral("模块地址必须是0到255之间的整数，请检查“") +
                   (from ? QStringLiteral("更换为") : QStringLiteral("将模块")) +
                   QStringLiteral("”后的地址。"),
               MsgButtons::Ok, MsgIcon::Warning);
        return;
    }
    if (jobs_->changeAddress(*from, *to) == AcquisitionJobs::SendOutcome::PortNotOpen)
        msgBox(this, kPortNotOpen);
}

bool ModuleWindow::eventFilter(QObject *watched, QEvent *event) {
    if (watched == moduleList_->viewport() && event->type() == QEvent::MouseButtonDblClick) {
        // The press before it has already selected the row under the pointer.
        Q_EMIT editRequested();
    }
    return QWidget::eventFilter(watched, event);
}

void ModuleWindow::closeEvent(QCloseEvent *event) {
    // However the window goes (退出, the close box, a menu command that puts
    // another window in its place), its jobs end and the port is free again.
    jobs_->stopAcquisition();
    jobs_->stopSearch();
    event->accept();
}
