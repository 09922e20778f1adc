#include "records/ui/AnaQx7.h"

#include "records/BackgroundPass.h"
#include "records/FilterText.h"
#include "records/RecordCsv.h"
#include "records/RecordListPass.h"
#include "records/RecordModel.h"
#include "records/ui/RecordListView.h"
#include "records/ui/WindowParts.h"
#include "widgets/Controls.h"
#include "widgets/MessageBoxes.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

// A list pass and what it found, shared by the window and the pass's thread.
struct AnaQx7::ListJob {
    QString databasePath;
    QString statement;
    ListPass pass;
    ListResult result;
};

// An export and its outcome.
struct AnaQx7::CsvJob {
    QString databasePath;
    PageIndex index;
    QString path;
    CsvResult result;
};

AnaQx7::AnaQx7(LiteConnection *db, QString *query, const Clock &clock, QWidget *parent)
    : QWidget(parent, Qt::Window), db_(db), lastQuery_(query), clock_(clock) {
    setObjectName(QStringLiteral("AnaQx7"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("提取温湿度采集记录"));
    resize(760, 640);
    buildControls();
    // Load: no condition, every record listed.
    query_.clear();
    LoadGrid1();
}

void AnaQx7::buildControls() {
    auto box = [this](const char *name, const QString &text, int width = 0) {
        auto *edit = makeControl<QLineEdit>(this, name, text);
        if (width > 0)
            edit->setFixedWidth(width);
        return edit;
    };
    // The ten condition boxes, in the order of RecordCondition.
    const std::pair<const char *, QString> conditions[kRecordConditions] = {
        {"Check1", QStringLiteral("只看模块：")}, {"Check2", QStringLiteral("限制时间段，从：")},
        {"Check3", QStringLiteral("<")},          {"Check4", QStringLiteral(">=")},
        {"Check5", QStringLiteral("<=")},         {"Check6", QStringLiteral(">")},
        {"Check7", QStringLiteral("<=")},         {"Check8", QStringLiteral("<")},
        {"Check9", QStringLiteral(">")},          {"Check10", QStringLiteral(">=")}};
    for (int i = 0; i < kRecordConditions; ++i)
        conditionBoxes_[i] =
            makeControl<QCheckBox>(this, conditions[i].first, conditions[i].second);
    autoRefreshBox_ = makeControl<QCheckBox>(this, "Check11", QStringLiteral("每     秒自动更新"));
    const std::pair<const char *, QString> quick[3] = {{"Check12", QStringLiteral("今日")},
                                                       {"Check13", QStringLiteral("本周")},
                                                       {"Check14", QStringLiteral("本月")}};
    for (int i = 0; i < 3; ++i)
        quickBoxes_[i] = makeControl<QCheckBox>(this, quick[i].first, quick[i].second);

    addressBox_ = box("Text1", QStringLiteral("1"), 60);
    fromBox_ = box("Text2", QStringLiteral("2010-01-01 00:00:00"), 150);
    toBox_ = box("Text3", QStringLiteral("2019-12-31 23:59:59"), 150);
    boundBoxes_[0] = box("Text4", QStringLiteral("40.0"), 60);
    boundBoxes_[1] = box("Text5", QStringLiteral("-40.0"), 60);
    boundBoxes_[2] = box("Text6", QStringLiteral("99.9"), 60);
    boundBoxes_[3] = box("Text7", QStringLiteral("0"), 60);
    refreshPeriodBox_ = box("Text8", QStringLiteral("60"));

    auto *filters = new QGridLayout();
    filters->addWidget(conditionBoxes_[int(RecordCondition::Module)], 0, 0);
    filters->addWidget(addressBox_, 0, 1);
    filters->addWidget(conditionBoxes_[int(RecordCondition::Period)], 1, 0);
    filters->addWidget(fromBox_, 1, 1, 1, 3);
    filters->addWidget(makeControl<QLabel>(this, "Label1", QStringLiteral("到")), 1, 4);
    filters->addWidget(toBox_, 1, 5);
    auto *quickRow = new QHBoxLayout();
    for (QCheckBox *b : quickBoxes_) quickRow->addWidget(b);
    filters->addLayout(quickRow, 2, 1, 1, 5);
    // Each bound's row: its caption, its two comparisons, its box.
    const struct {
        const char *label;
        QString caption;
        RecordCondition first, second;
    } bounds[] = {
        {"Label9", QStringLiteral("温度"), RecordCondition::TempBelow, RecordCondition::TempAtMost},
        {"Label10", QStringLiteral("温度"), RecordCondition::TempAtLeast,
         RecordCondition::TempAbove},
        {"Label11", QStringLiteral("湿度"), RecordCondition::HumBelow, RecordCondition::HumAtMost},
        {"Label12", QStringLiteral("湿度"), RecordCondition::HumAtLeast,
         RecordCondition::HumAbove}};
    for (int i = 0; i < 4; ++i) {
        filters->addWidget(makeControl<QLabel>(this, bounds[i].label, bounds[i].caption), i + 3, 0,
                           Qt::AlignRight);
        filters->addWidget(conditionBoxes_[int(bounds[i].first)], i + 3, 1);
        filters->addWidget(conditionBoxes_[int(bounds[i].second)], i + 3, 2);
        filters->addWidget(boundBoxes_[i], i + 3, 3);
    }
    filters->setColumnStretch(6, 1);

    auto *statsFrame = makeControl<QGroupBox>(this, "Frame3", QStringLiteral("统计"));
    auto *stats = new QVBoxLayout(statsFrame);
    const char *figureNames[] = {"Label3", "Label2", "Label4", "Label5",
                                 "Label6", "Label7", "Label8"};
    for (int i = 0; i < 7; ++i) {
        figureLabels_[i] = makeControl<QLabel>(statsFrame, figureNames[i]);
        stats->addWidget(figureLabels_[i]);
    }
    showBareStatistics();
    stats->addStretch();
    statsFrame->setMinimumWidth(180);

    auto *top = new QHBoxLayout();
    top->addLayout(filters, 1);
    top->addWidget(statsFrame);

    auto *refreshButton = makeControl<QPushButton>(this, "Command1", QStringLiteral("更新"));
    auto *listButton = makeControl<QPushButton>(this, "Command2", QStringLiteral("列表"));
    auto *chartButton = makeControl<QPushButton>(this, "Command3", QStringLiteral("曲线"));
    exportButton_ = makeControl<QPushButton>(this, "Command4", QStringLiteral("导出CSV"));
    auto *buttons = new QHBoxLayout();
    buttons->addWidget(autoRefreshBox_);
    buttons->addStretch();
    for (QPushButton *b : {refreshButton, listButton, chartButton, exportButton_})
        buttons->addWidget(b);
    placeInGaps(autoRefreshBox_, {refreshPeriodBox_});

    model_ = new RecordModel(db_->path(), this);
    recordList_ = makeControl<RecordListView>(this, "ListView1", model_);
    setUpRecordTable(recordList_);
    recordList_->setCornerButtonEnabled(false);
    recordList_->horizontalHeader()->setHighlightSections(false);
    recordList_->horizontalHeader()->setStretchLastSection(false);
    // The design widths in twips (15 to a pixel), widened where the font
    // needs more for the header or a typical cell.
    const int twips[] = {500, 2000, 550, 550};
    const QString widest[] = {QStringLiteral("255"), QStringLiteral("2024-12-31 23:59:59"),
                              QStringLiteral("-40.0"), QStringLiteral("100.0")};
    const QStringList headers = RecordModel::columnHeaders();
    for (int c = 0; c < 4; ++c) {
        const int text = qMax(fontMetrics().horizontalAdvance(headers[c]),
                              fontMetrics().horizontalAdvance(widest[c]));
        recordList_->setColumnWidth(c, qMax(twips[c] / 15, text + 24));
    }

    statusLine_ = makeControl<QLabel>(this, "statusLine");
    // Shown while a pass reads the records (the list with its statistics, or
    // an export).
    progress_ = makeControl<QProgressBar>(this, "progress");
    progress_->setRange(0, 1000);
    progress_->setTextVisible(false);
    progress_->setMaximumWidth(200);
    progress_->hide();
    cancelButton_ = makeControl<QPushButton>(this, "cancel", QStringLiteral("取消"));
    cancelButton_->hide();
    pass_ = new BackgroundPass(this);
    refreshTimer_ = makeControl<QTimer>(this, "Timer1");
    refreshTimer_->setInterval(60000);

    auto *status = new QHBoxLayout();
    status->addWidget(statusLine_, 1);
    status->addWidget(progress_);
    status->addWidget(cancelButton_);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(buttons);
    layout->addWidget(recordList_, 1);
    layout->addLayout(status);

    for (int i = 0; i < kRecordConditions; ++i)
        connect(conditionBoxes_[i], &QCheckBox::clicked, this,
                [this, i](bool ticked) { conditionClicked(RecordCondition(i), ticked); });
    connect(autoRefreshBox_, &QCheckBox::clicked, this, &AnaQx7::setAutoRefresh);
    for (int i = 0; i < 3; ++i)
        connect(quickBoxes_[i], &QCheckBox::clicked, this,
                [this, i](bool ticked) { quickClicked(i, ticked); });
    connect(refreshTimer_, &QTimer::timeout, this, [this] { LoadGrid1(true); });
    connect(refreshButton, &QPushButton::clicked, this, [this] { LoadGrid1(); });
    connect(chartButton, &QPushButton::clicked, this, &AnaQx7::chartRequested);
    connect(exportButton_, &QPushButton::clicked, this, &AnaQx7::chooseExportFile);
    connect(cancelButton_, &QPushButton::clicked, pass_, &BackgroundPass::cancel);
    connect(pass_, &BackgroundPass::progressChanged, this, [this](int permille) {
        progress_->setValue(permille);
        takeGrowth();
    });
    connect(pass_, &BackgroundPass::runningChanged, this, [this](bool running) {
        progress_->setVisible(running);
        cancelButton_->setVisible(running);
        // An export writes what the list shows; it waits for the list.
        exportButton_->setEnabled(!running);
    });
}

RecordQuery::Texts AnaQx7::texts() const {
    return {addressBox_->text(),    fromBox_->text(),       toBox_->text(),
            boundBoxes_[0]->text(), boundBoxes_[1]->text(), boundBoxes_[2]->text(),
            boundBoxes_[3]->text()};
}

void AnaQx7::conditionClicked(RecordCondition condition, bool ticked) {
    const QString error = query_.click(condition, ticked, texts());
    if (!error.isEmpty()) {
        // The condition stays as it was, and so does the list.
        conditionBoxes_[int(condition)]->setChecked(false);
        msgBox(this, error, MsgButtons::Ok, MsgIcon::Warning);
        return;
    }
    if (condition == RecordCondition::Period) {
        for (QCheckBox *b : quickBoxes_) b->setChecked(false);
    }
    LoadGrid1();
}

void AnaQx7::quickClicked(int which, bool ticked) {
    for (int i = 0; i < 3; ++i) {
        if (i != which)
            quickBoxes_[i]->setChecked(false);
    }
    QCheckBox *periodBox = conditionBoxes_[int(RecordCondition::Period)];
    if (ticked) {
        const QuickPeriod periods[] = {QuickPeriod::Today, QuickPeriod::ThisWeek,
                                       QuickPeriod::ThisMonth};
        const PeriodTexts p = quickPeriod(periods[which], clock_.now());
        fromBox_->setText(p.from);
        toBox_->setText(p.to);
        query_.setPeriod(p.from, p.to);
        periodBox->setChecked(true);
    } else {
        query_.click(RecordCondition::Period, false, texts());
        periodBox->setChecked(false);
    }
    LoadGrid1();
}

bool AnaQx7::isBusy() const {
    return pass_->isRunning();
}

void AnaQx7::reportFailure(const QString &error, bool fromTimer) {
    const QString text = QStringLiteral("无法读取记录：") + error;
    if (fromTimer)
        statusLine_->setText(QTime::currentTime().toString(QStringLiteral("HH:mm:ss ")) + text);
    else
        msgBox(this, text, MsgButtons::Ok, MsgIcon::Critical);
}

void AnaQx7::showBareStatistics() {
    const QString captions[] = {QStringLiteral("合计"),       QStringLiteral("最高温度："),
                                QStringLiteral("最低温度："), QStringLiteral("平均温度："),
                                QStringLiteral("最高湿度："), QStringLiteral("最低湿度："),
                                QStringLiteral("平均湿度：")};
    for (int i = 0; i < 7; ++i) figureLabels_[i]->setText(captions[i]);
}

bool AnaQx7::LoadGrid1(bool fromTimer) {
    const RefreshAction action = refreshAction(pass_->isRunning(), fromTimer);
    if (action == RefreshAction::Skip)
        return true;
    const QString statement = query_.statement();
    *lastQuery_ = statement;
    // A query that cannot run is told at once; the list stays.
    if (const QString error = recordQueryProblem(*db_, statement); !error.isEmpty()) {
        reportFailure(error, fromTimer);
        return false;
    }
    statusLine_->clear();
    if (action == RefreshAction::Replace) {
        superseding_ = true;
        pass_->cancel();
        superseding_ = false;
    }

    auto job = std::make_shared<ListJob>();
    job->databasePath = db_->path();
    job->statement = statement;
    // Another query: its rows show as they are counted. The same query again
    // (更新, Timer1): the list stays as it is until the new count is complete.
    following_ = model_->pageIndex().statement != statement || model_->totalRows() == 0;
    generation_ = 0;
    if (following_) {
        PageIndex empty;
        empty.statement = statement;
        model_->setIndex(std::move(empty));
        showBareStatistics();
    }
    listJob_ = job;
    pass_->start(
        [job](PassControl &control) {
            job->result = runListPass(job->databasePath, job->statement, job->pass, control);
        },
        [this, job, fromTimer](bool completed) { listPassEnded(*job, completed, fromTimer); });
    return true;
}

void AnaQx7::takeGrowth() {
    if (listJob_ && following_)
        ::takeGrowth(*model_, listJob_->pass, listJob_->statement, &generation_);
}

void AnaQx7::listPassEnded(ListJob &job, bool completed, bool fromTimer) {
    if (!completed && !superseding_)
        takeGrowth();  // the rows counted until the cancel
    listJob_.reset();
    if (!completed) {
        // Never shown as final: the figures stay as they were (their captions
        // alone for a list that was filling).
        if (!superseding_) {
            statusLine_->setText(following_
                                     ? QStringLiteral("已取消：只列出了前%1个记录，统计未完成。")
                                           .arg(model_->totalRows())
                                     : QStringLiteral("已取消：列表和统计未更新。"));
        }
        return;
    }
    ListResult &r = job.result;
    if (!r.error.isEmpty()) {
        reportFailure(r.error, fromTimer);
        return;
    }
    if (following_)
        completeIndex(*model_, std::move(r.index));  // keeps the place scrolled to
    else
        model_->setIndex(std::move(r.index), true);
    if (r.stats.count > 0) {
        fromBox_->setText(r.firstTime);
        toBox_->setText(r.lastTime);
    }
    showStatistics(r.stats);
}

void AnaQx7::showStatistics(const RecordStats &stats) {
    const QStringList captions = statisticsCaptions(stats);
    for (int i = 0; i < 7; ++i) figureLabels_[i]->setText(captions.at(i));
}

void AnaQx7::setAutoRefresh(bool ticked) {
    switchAutoUpdate(ticked, this, autoRefreshBox_, refreshPeriodBox_, refreshTimer_);
}

bool AnaQx7::exportCsv(const QString &path) {
    if (pass_->isRunning())
        return false;
    auto job = std::make_shared<CsvJob>();
    job->databasePath = db_->path();
    job->index = model_->pageIndex();
    job->path = path;
    statusLine_->clear();
    pass_->start(
        [job](PassControl &control) {
            job->result = ::exportCsv(job->databasePath, job->index, job->path, control);
        },
        [this, job](bool completed) { exportEnded(*job, completed); });
    return true;
}

void AnaQx7::exportEnded(const CsvJob &job, bool completed) {
    if (!completed || job.result.cancelled) {
        statusLine_->setText(QStringLiteral("导出已取消，没有写入文件。"));
        return;
    }
    if (job.result.error.isEmpty())
        msgBox(this, QStringLiteral("已导出%1个记录。").arg(job.result.rows), MsgButtons::Ok,
               MsgIcon::Information, QStringLiteral("导出CSV"));
    else
        msgBox(this, QStringLiteral("导出失败：") + job.result.error, MsgButtons::Ok,
               MsgIcon::Critical, QStringLiteral("导出CSV"));
}

void AnaQx7::chooseExportFile() {
    chooseCsvFile(this, [this](const QString &path) { exportCsv(path); });
}
