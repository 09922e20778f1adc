#include "alarms/ui/AlarmLogWindow.h"

#include "records/Clock.h"
#include "records/RecordQuery.h"
#include "records/ui/WindowParts.h"
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
#include <QTableView>
#include <QVBoxLayout>

AlarmLogWindow::AlarmLogWindow(LiteConnection *db, QWidget *parent)
    : QWidget(parent, Qt::Window), db_(db) {
    setObjectName(QStringLiteral("AlarmLog"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("报警记录"));
    resize(640, 480);

    // The filters as in the record list: a module, a period (today by
    // default), and the quick periods.
    const PeriodTexts today = ::quickPeriod(QuickPeriod::Today, recordsclock::now());
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
    auto *exportButton = makeControl<QPushButton>(this, "exportCsv", QStringLiteral("导出CSV"));

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
    buttons->addWidget(exportButton);
    filters->addLayout(buttons, 2, 0, 1, 2);
    filters->setColumnStretch(1, 1);

    model_ = new AlarmLogModel(this);
    list_ = makeControl<QTableView>(this, "alarmList");
    list_->setModel(model_);
    setUpRecordTable(list_);
    list_->horizontalHeader()->setStretchLastSection(true);
    const QString widest[] = {QStringLiteral("地址 "), QStringLiteral("2024-12-31 23:59:59"),
                              QStringLiteral("报警类型"), QStringLiteral("-40.0"),
                              QStringLiteral("状态")};
    for (int c = 0; c < 5; ++c)
        list_->setColumnWidth(c, fontMetrics().horizontalAdvance(widest[c]) + 24);
    totalLabel_ = makeControl<QLabel>(this, "total", QString());

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(filters);
    layout->addWidget(list_, 1);
    layout->addWidget(totalLabel_);

    connect(moduleCheck_, &QCheckBox::clicked, this, [this] { filterClicked(moduleCheck_); });
    connect(periodCheck_, &QCheckBox::clicked, this, [this] { filterClicked(periodCheck_); });
    for (int i = 0; i < 3; ++i)
        connect(quick[i], &QPushButton::clicked, this, [this, i] { quickPeriod(i); });
    connect(refresh, &QPushButton::clicked, this, &AlarmLogWindow::reload);
    connect(exportButton, &QPushButton::clicked, this, &AlarmLogWindow::exportClicked);

    reload();
}

AlarmLogFilter AlarmLogWindow::filter() const {
    return {moduleCheck_->isChecked(), moduleBox_->text(), periodCheck_->isChecked(),
            fromBox_->text(), toBox_->text()};
}

bool AlarmLogWindow::reload() {
    const AlarmLogFilter f = filter();
    const QString problem = alarmlog::check(f);
    if (!problem.isEmpty()) {
        msgBox(this, problem, MsgButtons::Ok, MsgIcon::Warning);
        return false;
    }
    QList<AlarmLogRow> rows;
    QString error;
    if (!alarmlog::load(*db_, alarmlog::statement(f), &rows, &error)) {
        msgBox(this, QStringLiteral("无法读取报警记录：") + error, MsgButtons::Ok,
               MsgIcon::Critical);
        return false;
    }
    totalLabel_->setText(QStringLiteral("合计：%1条报警记录").arg(rows.size()));
    model_->setRows(std::move(rows));
    list_->scrollToBottom();
    return true;
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
    const PeriodTexts p = ::quickPeriod(periods[which], recordsclock::now());
    fromBox_->setText(p.from);
    toBox_->setText(p.to);
    periodCheck_->setChecked(true);
    reload();
}

QString AlarmLogWindow::exportCsv(const QString &path) const {
    return alarmlog::exportCsv(model_->rows(), path);
}

void AlarmLogWindow::exportClicked() {
    chooseCsvFile(this, [this](const QString &path) { exportTo(path); });
}

void AlarmLogWindow::exportTo(const QString &path) {
    const QString error = exportCsv(path);
    if (error.isEmpty())
        msgBox(this, QStringLiteral("已导出%1条报警记录。").arg(model_->rows().size()),
               MsgButtons::Ok, MsgIcon::Information, QStringLiteral("导出CSV"));
    else
        msgBox(this, QStringLiteral("导出失败：") + error, MsgButtons::Ok, MsgIcon::Critical,
               QStringLiteral("导出CSV"));
}
