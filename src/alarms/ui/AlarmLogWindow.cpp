#include "alarms/ui/AlarmLogWindow.h"

#include "records/BackgroundPass.h"
#include "records/RecordListPass.h"
#include "records/RecordQuery.h"
#include "records/ui/RecordListView.h"
#include "records/ui/WindowParts.h"
#include "store/LiteConnection.h"
#include "store/Schema.h"
#include "widgets/Controls.h"
#include "widgets/MessageBoxes.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>

// A list pass and what it found, shared by the window and the pass's thread.
struct AlarmLogWindow::ListJob {
    QString databasePath;
    QString statement;
    IndexPass pass;
    IndexResult result;
};

AlarmLogWindow::AlarmLogWindow(LiteConnection *db, const Clock &clock, QWidget *parent)
    : QWidget(parent, Qt::Window), db_(db), clock_(clock) {
    setObjectName(QStringLiteral("AlarmLog"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("报警记录"));
    resize(700, 480);

    // The filters as in the record list: a module, a period (today by
    // default), and the quick periods.
    const PeriodTexts today = ::quickPeriod(QuickPeriod::Today, clock_.now());
    moduleCheck_ = makeControl<QCheckBox>(this, "onlyModule", QStringLiteral("只看模块："));
    moduleBox_ = makeControl<QLineEdit>(this, "moduleBox", QStringLiteral("1"));
    moduleBox_->setFixedWidth(60);
    periodCheck_ = makeControl<QCheckBox>(this, "onlyPeriod", QStringLiteral("限制时间段，从："));
    fromBox_ = makeControl<QLineEdit>(this, "fromBox", today.from);
    fromBox_->setFixedWidth(150);
    toBox_ = makeControl<QLineEdit>(this, "toBox", today.to);
    toBox_->setFixedWidth(150);
    QPushButton *quick[] = {makeControl<QPushButton>(this, "today", QStringLiteral("今日")),
                            makeControl<QPushButton>(this, "thisWeek", QStringLiteral("本周")),
                            makeControl<QPushButton>(this, "thisMonth", QStringLiteral("本月"))};
    auto *refresh = makeControl<QPushButton>(this, "refresh", QStringLiteral("更新"));
    exportButton_ = makeControl<QPushButton>(this, "exportCsv", QStringLiteral("导出CSV"));

    auto *filters = new QGridLayout();
    filters->addWidget(moduleCheck_, 0, 0);
    filters->addWidget(moduleBox_, 0, 1, Qt::AlignLeft);
    filters->addWidget(periodCheck_, 1, 0);
    auto *period = new QHBoxLayout();
    period->addWidget(fromBox_);
    period->addWidget(makeControl<QLabel>(this, "toLabel", QStringLiteral("到")));
    period->addWidget(toBox_);
    period->addStretch();
    filters->addLayout(period, 1, 1);
    auto *buttons = new QHBoxLayout();
    for (QPushButton *b : quick) buttons->addWidget(b);
    buttons->addStretch();
    buttons->addWidget(refresh);
    buttons->addWidget(exportButton_);
    filters->addLayout(buttons, 2, 0, 1, 2);
    filters->setColumnStretch(1, 1);

    model_ = new AlarmLogModel(db_->path(), this);
    list_ = makeControl<RecordListView>(this, "alarmList", model_);
    setUpRecordTable(list_);
    list_->setCornerButtonEnabled(false);
    list_->horizontalHeader()->setStretchLastSection(true);
    const QString widest[] = {QStringLiteral("地址 "),    QStringLiteral("2024-12-31 23:59:59"),
                              QStringLiteral("报警类型"), QStringLiteral("-40.0"),
                              QStringLiteral("状态"),     QStringLiteral("已发送2，失败1")};
    for (int c = 0; c < 6; ++c)
        list_->setColumnWidth(c, fontMetrics().horizontalAdvance(widest[c]) + 24);
    totalLabel_ = makeControl<QLabel>(this, "total", QStringLiteral("合计：0条报警记录"));
    pass_ = new BackgroundPass(this);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(filters);
    layout->addWidget(list_, 1);
    layout->addWidget(totalLabel_);

    connect(moduleCheck_, &QCheckBox::clicked, this, [this] { filterClicked(moduleCheck_); });
    connect(periodCheck_, &QCheckBox::clicked, this, [this] { filterClicked(periodCheck_); });
    for (int i = 0; i < 3; ++i)
        connect(quick[i], &QPushButton::clicked, this, [this, i] { quickPeriod(i); });
    connect(refresh, &QPushButton::clicked, this, &AlarmLogWindow::reload);
    connect(exportButton_, &QPushButton::clicked, this,
            [this] { chooseCsvFile(this, [this](const QString &path) { exportCsv(path); }); });
    connect(model_, &PagedListModel::totalChanged, this, [this](qint64 rows) {
        totalLabel_->setText(QStringLiteral("合计：%1条报警记录").arg(rows));
    });
    connect(pass_, &BackgroundPass::progressChanged, this, [this] {
        if (listJob_)
            takeGrowth(*model_, listJob_->pass, listJob_->statement, &generation_);
    });
    // An export writes what the list shows; it waits for the list.
    connect(pass_, &BackgroundPass::runningChanged, exportButton_, &QWidget::setDisabled);

    reload();
}

AlarmLogFilter AlarmLogWindow::filter() const {
    return {moduleCheck_->isChecked(), moduleBox_->text(), periodCheck_->isChecked(),
            fromBox_->text(), toBox_->text()};
}

bool AlarmLogWindow::isBusy() const {
    return pass_->isRunning();
}

bool AlarmLogWindow::reload() {
    const AlarmLogFilter f = filter();
    if (const QString problem = alarmlog::check(f); !problem.isEmpty()) {
        msgBox(this, problem, MsgButtons::Ok, MsgIcon::Warning);
        return false;
    }
    pass_->cancel();  // a pass still running is replaced
    PageIndex empty;
    empty.statement = alarmlog::statement(f);
    generation_ = 0;
    model_->setIndex(empty);
    QString error;
    const auto exists = schema::hasTable(*db_, QStringLiteral("alarmlog"), &error);
    if (!exists) {
        msgBox(this, QStringLiteral("无法读取报警记录：") + error, MsgButtons::Ok,
               MsgIcon::Critical);
        return true;
    }
    if (!*exists)
        return true;  // no alarm yet: an empty log
    auto job = std::make_shared<ListJob>();
    job->databasePath = db_->path();
    job->statement = empty.statement;
    listJob_ = job;
    pass_->start(
        [job](PassControl &control) {
            job->result = runIndexPass(job->databasePath, job->statement,
                                       QStringLiteral("alarmlog"), job->pass, {}, control);
        },
        [this, job](bool completed) { listEnded(*job, completed); });
    return true;
}

void AlarmLogWindow::listEnded(ListJob &job, bool completed) {
    listJob_.reset();
    if (!completed)
        return;  // replaced, or the window is going
    if (!job.result.error.isEmpty()) {
        msgBox(this, QStringLiteral("无法读取报警记录：") + job.result.error, MsgButtons::Ok,
               MsgIcon::Critical);
        return;
    }
    completeIndex(*model_, std::move(job.result.index));
    // The latest alarms are at the end.
    list_->showRecord(model_->totalRows() - 1);
}

void AlarmLogWindow::filterClicked(QCheckBox *box) {
    // A filter whose text is refused is not ticked (unless the window went
    // while the refusal was shown).
    const QPointer<QCheckBox> guard(box);
    if (!reload() && guard && box->isChecked()) {
        box->setChecked(false);
        reload();
    }
}

void AlarmLogWindow::quickPeriod(int which) {
    const QuickPeriod periods[] = {QuickPeriod::Today, QuickPeriod::ThisWeek,
                                   QuickPeriod::ThisMonth};
    const PeriodTexts p = ::quickPeriod(periods[which], clock_.now());
    fromBox_->setText(p.from);
    toBox_->setText(p.to);
    periodCheck_->setChecked(true);
    reload();
}

bool AlarmLogWindow::exportCsv(const QString &path) {
    if (pass_->isRunning())
        return false;
    struct CsvJob {
        QString databasePath;
        PageIndex index;
        QString path;
        CsvResult result;
    };
    auto job = std::make_shared<CsvJob>(CsvJob{db_->path(), model_->pageIndex(), path, {}});
    pass_->start(
        [job](PassControl &control) {
            job->result = alarmlog::exportCsv(job->databasePath, job->index, job->path, control);
        },
        [this, job](bool completed) {
            if (!completed || job->result.cancelled)
                return;
            if (job->result.error.isEmpty())
                msgBox(this, QStringLiteral("已导出%1条报警记录。").arg(job->result.rows),
                       MsgButtons::Ok, MsgIcon::Information, QStringLiteral("导出CSV"));
            else
                msgBox(this, QStringLiteral("导出失败：") + job->result.error, MsgButtons::Ok,
                       MsgIcon::Critical, QStringLiteral("导出CSV"));
        });
    return true;
}
