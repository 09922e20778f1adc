#include "records/ui/AnaQx7.h"

#include "app/Module1.h"
#include "records/BackgroundPass.h"
#include "records/Clock.h"
#include "records/FilterText.h"
#include "records/RecordCsv.h"
#include "records/RecordListPass.h"
#include "records/RecordModel.h"
#include "records/ui/GraphWindow.h"
#include "records/ui/RecordListView.h"
#include "widgets/Controls.h"
#include "widgets/MessageBoxes.h"

#include <QCheckBox>
#include <QFileDialog>
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
    RecordIndex index;
    QString path;
    CsvResult result;
};

AnaQx7::AnaQx7(QWidget *parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("AnaQx7"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("提取温湿度采集记录"));
    resize(760, 640);

    const char *checkNames[] = {"",        "Check1",  "Check2",  "Check3",  "Check4",
                                "Check5",  "Check6",  "Check7",  "Check8",  "Check9",
                                "Check10", "Check11", "Check12", "Check13", "Check14"};
    const QString checkTexts[] = {QString(),
                                  QStringLiteral("只看模块："),
                                  QStringLiteral("限制时间段，从："),
                                  QStringLiteral("<"),
                                  QStringLiteral(">="),
                                  QStringLiteral("<="),
                                  QStringLiteral(">"),
                                  QStringLiteral("<="),
                                  QStringLiteral("<"),
                                  QStringLiteral(">"),
                                  QStringLiteral(">="),
                                  QStringLiteral("每     秒自动更新"),
                                  QStringLiteral("今日"),
                                  QStringLiteral("本周"),
                                  QStringLiteral("本月")};
    for (int i = 1; i <= 14; ++i) Check[i] = named(new QCheckBox(checkTexts[i]), checkNames[i]);

    Text1 = controls::textBox(nullptr, "Text1", QStringLiteral("1"), 60);
    Text2 = controls::textBox(nullptr, "Text2", QStringLiteral("2010-01-01 00:00:00"), 150);
    Text3 = controls::textBox(nullptr, "Text3", QStringLiteral("2019-12-31 23:59:59"), 150);
    Text4 = controls::textBox(nullptr, "Text4", QStringLiteral("40.0"), 60);
    Text5 = controls::textBox(nullptr, "Text5", QStringLiteral("-40.0"), 60);
    Text6 = controls::textBox(nullptr, "Text6", QStringLiteral("99.9"), 60);
    Text7 = controls::textBox(nullptr, "Text7", QStringLiteral("0"), 60);
    Text8 = controls::textBox(nullptr, "Text8", QStringLiteral("60"));

    auto *filters = new QGridLayout();
    filters->addWidget(Check[1], 0, 0);
    filters->addWidget(Text1, 0, 1);
    filters->addWidget(Check[2], 1, 0);
    filters->addWidget(Text2, 1, 1, 1, 3);
    filters->addWidget(named(new QLabel(QStringLiteral("到")), "Label1"), 1, 4);
    filters->addWidget(Text3, 1, 5);
    auto *quick = new QHBoxLayout();
    quick->addWidget(Check[12]);
    quick->addWidget(Check[13]);
    quick->addWidget(Check[14]);
    filters->addLayout(quick, 2, 1, 1, 5);
    const struct {
        const char *label;
        QString caption;
        int first, second;
        QLineEdit *box;
    } bounds[] = {{"Label9", QStringLiteral("温度"), 3, 5, Text4},
                  {"Label10", QStringLiteral("温度"), 4, 6, Text5},
                  {"Label11", QStringLiteral("湿度"), 8, 7, Text6},
                  {"Label12", QStringLiteral("湿度"), 10, 9, Text7}};
    int row = 3;
    for (const auto &b : bounds) {
        filters->addWidget(named(new QLabel(b.caption), b.label), row, 0, Qt::AlignRight);
        filters->addWidget(Check[b.first], row, 1);
        filters->addWidget(Check[b.second], row, 2);
        filters->addWidget(b.box, row, 3);
        ++row;
    }
    filters->setColumnStretch(6, 1);

    Frame3 = named(new QGroupBox(QStringLiteral("统计")), "Frame3");
    auto *stats = new QVBoxLayout(Frame3);
    Label3 = named(new QLabel(QStringLiteral("合计")), "Label3");
    Label2 = named(new QLabel(QStringLiteral("最高温度：")), "Label2");
    Label4 = named(new QLabel(QStringLiteral("最低温度：")), "Label4");
    Label5 = named(new QLabel(QStringLiteral("平均温度：")), "Label5");
    Label6 = named(new QLabel(QStringLiteral("最高湿度：")), "Label6");
    Label7 = named(new QLabel(QStringLiteral("最低湿度：")), "Label7");
    Label8 = named(new QLabel(QStringLiteral("平均湿度：")), "Label8");
    for (QLabel *l : {Label3, Label2, Label4, Label5, Label6, Label7, Label8}) stats->addWidget(l);
    stats->addStretch();
    Frame3->setMinimumWidth(180);

    auto *top = new QHBoxLayout();
    top->addLayout(filters, 1);
    top->addWidget(Frame3);

    Command1 = named(new QPushButton(QStringLiteral("更新")), "Command1");
    Command2 = named(new QPushButton(QStringLiteral("列表")), "Command2");
    Command3 = named(new QPushButton(QStringLiteral("曲线")), "Command3");
    Command4 = named(new QPushButton(QStringLiteral("导出CSV")), "Command4");
    auto *buttons = new QHBoxLayout();
    buttons->addWidget(Check[11]);
    buttons->addStretch();
    for (QPushButton *b : {Command1, Command2, Command3, Command4}) buttons->addWidget(b);
    placeInGaps(Check[11], {Text8});

    model_ = new RecordModel(Module1::dbconn(), this);
    ListView1 = named(new RecordListView(model_), "ListView1");
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setAlternatingRowColors(true);
    ListView1->setWordWrap(false);
    ListView1->setCornerButtonEnabled(false);
    // One fixed row height and no row header: the view then needs nothing per
    // row beyond what the model computes for the rows on screen.
    ListView1->verticalHeader()->hide();
    ListView1->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    ListView1->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    ListView1->horizontalHeader()->setHighlightSections(false);
    ListView1->horizontalHeader()->setStretchLastSection(false);
    // The design widths in twips (15 to a pixel), widened where the font
    // needs more for the header or a typical cell.
    const int twips[] = {500, 2000, 550, 550};
    const QString widest[] = {QStringLiteral("255"), QStringLiteral("2024-12-31 23:59:59"),
                              QStringLiteral("-40.0"), QStringLiteral("100.0")};
    const QStringList headers = RecordModel::headers();
    for (int c = 0; c < 4; ++c) {
        const int text = qMax(fontMetrics().horizontalAdvance(headers[c]),
                              fontMetrics().horizontalAdvance(widest[c]));
        ListView1->setColumnWidth(c, qMax(twips[c] / 15, text + 24));
    }

    statusLine = named(new QLabel(), "statusLine");
    // Shown while a pass reads the records (the list with its statistics, or
    // an export).
    progress_ = named(new QProgressBar(), "progress");
    progress_->setRange(0, 1000);
    progress_->setTextVisible(false);
    progress_->setMaximumWidth(200);
    progress_->hide();
    cancelButton_ = named(new QPushButton(QStringLiteral("取消")), "cancel");
    cancelButton_->hide();
    pass_ = new BackgroundPass(this);
    Timer1 = named(new QTimer(this), "Timer1");
    Timer1->setInterval(60000);

    auto *status = new QHBoxLayout();
    status->addWidget(statusLine, 1);
    status->addWidget(progress_);
    status->addWidget(cancelButton_);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(buttons);
    layout->addWidget(ListView1, 1);
    layout->addLayout(status);

    for (int i = 1; i <= 10; ++i)
        connect(Check[i], &QCheckBox::clicked, this,
                [this, i](bool ticked) { conditionClicked(i, ticked); });
    connect(Check[11], &QCheckBox::clicked, this, &AnaQx7::Check11_Click);
    const std::pair<int, QuickPeriod> quickBoxes[] = {
        {12, QuickPeriod::Today}, {13, QuickPeriod::ThisWeek}, {14, QuickPeriod::ThisMonth}};
    for (const auto &[i, period] : quickBoxes) {
        connect(Check[i], &QCheckBox::clicked, this,
                [this, i, period](bool ticked) { quickClicked(Check[i], period, ticked); });
    }
    connect(Timer1, &QTimer::timeout, this, [this] { LoadGrid1(true); });
    connect(Command1, &QPushButton::clicked, this, [this] { LoadGrid1(); });
    connect(Command3, &QPushButton::clicked, this, &AnaQx7::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &AnaQx7::Command4_Click);
    connect(cancelButton_, &QPushButton::clicked, pass_, &BackgroundPass::cancel);
    connect(pass_, &BackgroundPass::progressChanged, this, [this](int permille) {
        progress_->setValue(permille);
        takeGrowth();
    });
    connect(pass_, &BackgroundPass::runningChanged, this, [this](bool running) {
        progress_->setVisible(running);
        cancelButton_->setVisible(running);
        // An export writes what the list shows; it waits for the list.
        Command4->setEnabled(!running);
    });

    // Load: no condition, every record listed.
    query_.clear();
    LoadGrid1();
}

RecordQuery::Texts AnaQx7::texts() const {
    return {Text1->text(), Text2->text(), Text3->text(), Text4->text(),
            Text5->text(), Text6->text(), Text7->text()};
}

void AnaQx7::conditionClicked(int number, bool ticked) {
    const QString error = query_.click(number, ticked, texts());
    if (!error.isEmpty()) {
        // The condition stays as it was, and so does the list.
        Check[number]->setChecked(false);
        msgBox(this, error, MsgButtons::Ok, MsgIcon::Warning);
        return;
    }
    if (number == 2) {
        for (int i = 12; i <= 14; ++i) Check[i]->setChecked(false);
    }
    LoadGrid1();
}

void AnaQx7::quickClicked(QCheckBox *box, QuickPeriod period, bool ticked) {
    for (int i = 12; i <= 14; ++i) {
        if (Check[i] != box)
            Check[i]->setChecked(false);
    }
    if (ticked) {
        const PeriodTexts p = quickPeriod(period, recordsclock::now());
        Text2->setText(p.from);
        Text3->setText(p.to);
        query_.setPeriod(p.from, p.to);
        Check[2]->setChecked(true);
    } else {
        query_.click(2, false, texts());
        Check[2]->setChecked(false);
    }
    LoadGrid1();
}

bool AnaQx7::isBusy() const {
    return pass_->isRunning();
}

void AnaQx7::reportFailure(const QString &error, bool fromTimer) {
    const QString text = QStringLiteral("无法读取记录：") + error;
    if (fromTimer)
        statusLine->setText(QTime::currentTime().toString(QStringLiteral("HH:mm:ss ")) + text);
    else
        msgBox(this, text, MsgButtons::Ok, MsgIcon::Critical);
}

void AnaQx7::showBareStatistics() {
    const QString captions[] = {QStringLiteral("合计"),       QStringLiteral("最高温度："),
                                QStringLiteral("最低温度："), QStringLiteral("平均温度："),
                                QStringLiteral("最高湿度："), QStringLiteral("最低湿度："),
                                QStringLiteral("平均湿度：")};
    QLabel *labels[] = {Label3, Label2, Label4, Label5, Label6, Label7, Label8};
    for (int i = 0; i < 7; ++i) labels[i]->setText(captions[i]);
}

bool AnaQx7::LoadGrid1(bool fromTimer) {
    const RefreshAction action = refreshAction(pass_->isRunning(), fromTimer);
    if (action == RefreshAction::Skip)
        return true;
    const QString statement = query_.statement();
    Module1::thsql() = statement;
    {
        // A query that cannot run is told at once, as before; the list stays.
        LiteStatement probe = Module1::dbconn().prepare(statement);
        const QString error = !probe.isValid()          ? probe.error()
                              : probe.columnCount() < 5 ? QStringLiteral("查询结果少于5列")
                                                        : QString();
        if (!error.isEmpty()) {
            reportFailure(error, fromTimer);
            return false;
        }
    }
    statusLine->clear();
    if (action == RefreshAction::Replace) {
        superseding_ = true;
        pass_->cancel();
        superseding_ = false;
    }

    auto job = std::make_shared<ListJob>();
    job->databasePath = Module1::dbconn().path();
    job->statement = statement;
    // Another query: its rows show as they are counted. The same query again
    // (更新, Timer1): the list stays as it is until the new count is complete.
    following_ = model_->recordIndex().statement != statement || model_->totalRows() == 0;
    generation_ = 0;
    if (following_) {
        RecordIndex empty;
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
    if (!listJob_ || !following_)
        return;
    const RecordIndex &shown = model_->recordIndex();
    IndexGrowth g = listJob_->pass.growth(generation_, shown.pageStarts.size());
    if (g.idColumn.isEmpty())
        return;
    if (g.generation != generation_ || shown.idColumn.isEmpty()) {
        // The pass started over (or its first rows): the list starts over too.
        RecordIndex fresh;
        fresh.statement = listJob_->statement;
        fresh.idColumn = g.idColumn;
        fresh.pageRows = listJob_->pass.pageRows();
        model_->setIndex(std::move(fresh));
        generation_ = g.generation;
        g = listJob_->pass.growth(generation_, 0);
    }
    if (g.rows > model_->totalRows() || !g.moreStarts.empty())
        model_->grow(g.rows, g.lastId, g.moreStarts);
}

void AnaQx7::listPassEnded(ListJob &job, bool completed, bool fromTimer) {
    if (!completed && !superseding_)
        takeGrowth();  // the rows counted until the cancel
    listJob_.reset();
    if (!completed) {
        // Never shown as final: the figures stay as they were (their captions
        // alone for a list that was filling).
        if (!superseding_) {
            statusLine->setText(following_
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
    if (following_) {
        // The rows shown are the complete index's already; keep the place the
        // operator scrolled to.
        const RecordIndex &shown = model_->recordIndex();
        const size_t known = shown.pageStarts.size();
        const bool prefix =
            !shown.idColumn.isEmpty() && shown.rows <= r.index.rows &&
            known <= r.index.pageStarts.size() &&
            (known == 0 || shown.pageStarts[known - 1] == r.index.pageStarts[known - 1]);
        if (!prefix) {
            model_->setIndex(std::move(r.index));
        } else {
            model_->grow(r.index.rows, r.index.lastId,
                         std::vector<qint64>(r.index.pageStarts.begin() + qsizetype(known),
                                             r.index.pageStarts.end()));
        }
    } else {
        model_->setIndex(std::move(r.index), true);
    }
    if (r.stats.count > 0) {
        Text2->setText(r.firstTime);
        Text3->setText(r.lastTime);
    }
    showStatistics(r.stats);
}

void AnaQx7::showStatistics(const RecordStats &stats) {
    const QStringList captions = statisticsCaptions(stats);
    QLabel *labels[] = {Label3, Label2, Label4, Label5, Label6, Label7, Label8};
    for (int i = 0; i < 7; ++i) labels[i]->setText(captions.at(i));
}

void AnaQx7::Check11_Click(bool ticked) {
    if (!ticked) {
        Timer1->stop();
        return;
    }
    const auto ms = periodMilliseconds(Text8->text());
    if (!ms) {
        Check[11]->setChecked(false);
        msgBox(this, filtertext::checkPeriod(Text8->text(), QStringLiteral("每…秒自动更新")),
               MsgButtons::Ok, MsgIcon::Warning);
        return;
    }
    Timer1->start(*ms);
}

void AnaQx7::Command3_Click() {
    Module1::showWindow(Module1::graph());
}

bool AnaQx7::exportCsv(const QString &path) {
    if (pass_->isRunning())
        return false;
    auto job = std::make_shared<CsvJob>();
    job->databasePath = Module1::dbconn().path();
    job->index = model_->recordIndex();
    job->path = path;
    statusLine->clear();
    pass_->start(
        [job](PassControl &control) {
            job->result = ::exportCsv(job->databasePath, job->index, job->path, control);
        },
        [this, job](bool completed) { exportEnded(*job, completed); });
    return true;
}

void AnaQx7::exportEnded(const CsvJob &job, bool completed) {
    if (!completed || job.result.cancelled) {
        statusLine->setText(QStringLiteral("导出已取消，没有写入文件。"));
        return;
    }
    if (job.result.error.isEmpty())
        msgBox(this, QStringLiteral("已导出%1个记录。").arg(job.result.rows), MsgButtons::Ok,
               MsgIcon::Information, QStringLiteral("导出CSV"));
    else
        msgBox(this, QStringLiteral("导出失败：") + job.result.error, MsgButtons::Ok,
               MsgIcon::Critical, QStringLiteral("导出CSV"));
}

void AnaQx7::Command4_Click() {
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("导出CSV"), QString(),
                                                      QStringLiteral("CSV 文件 (*.csv)"));
    if (path.isEmpty())
        return;
    exportCsv(path);
}
