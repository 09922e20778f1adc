#include "acquisition/ui/EditQx7.h"

#include "acquisition/ModuleList.h"
#include "store/LiteConnection.h"
#include "store/Statements.h"
#include "widgets/Controls.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

namespace {
const QString kYes = QStringLiteral("是");
}  // namespace

EditQx7::EditQx7(LiteConnection *db, Selection selection, QWidget *parent)
    : QWidget(parent, Qt::Window), db_(db), selection_(std::move(selection)) {
    setObjectName(QStringLiteral("EditQx7"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("修改QX-7参数"));
    setFixedSize(330, 170);

    makeControl<QLabel>(this, "Label1", QStringLiteral("是否启用："))->setGeometry(24, 20, 90, 24);
    enabledBox_ = makeControl<QCheckBox>(this, "Check1", QString());
    enabledBox_->setGeometry(120, 20, 24, 24);
    makeControl<QLabel>(this, "Label2", QStringLiteral("是否报警："))->setGeometry(24, 52, 90, 24);
    alarmBox_ = makeControl<QCheckBox>(this, "Check2", QString());
    alarmBox_->setGeometry(120, 52, 24, 24);
    // The period box sits in the gap of the label's text.
    auto *periodLabel =
        makeControl<QLabel>(this, "Label3", QStringLiteral("纪录周期：          秒"));
    periodLabel->setGeometry(24, 86, 280, 24);
    const QFontMetrics metrics(periodLabel->font());
    const int gapStart = metrics.horizontalAdvance(QStringLiteral("纪录周期："));
    const int gapWidth = metrics.horizontalAdvance(QStringLiteral("          "));
    periodBox_ = makeControl<QLineEdit>(this, "Text1", QStringLiteral("Text1"));
    periodBox_->setGeometry(24 + gapStart + 2, 84, std::max(28, gapWidth - 4), 28);
    auto *saveButton = makeControl<QPushButton>(this, "Command1", QStringLiteral("保存"));
    saveButton->setGeometry(24, 126, 80, 28);
    auto *deleteButton = makeControl<QPushButton>(this, "Command2", QStringLiteral("删除"));
    deleteButton->setGeometry(124, 126, 80, 28);
    auto *exitButton = makeControl<QPushButton>(this, "Command3", QStringLiteral("退出"));
    exitButton->setGeometry(224, 126, 80, 28);

    connect(saveButton, &QPushButton::clicked, this, &EditQx7::save);
    connect(deleteButton, &QPushButton::clicked, this, &EditQx7::remove);
    connect(exitButton, &QPushButton::clicked, this, &QWidget::close);

    fillFromSelection();
}

bool EditQx7::haveSelection(const std::optional<ModuleRow> &row) {
    if (row)
        return true;
    msgBox(this, QStringLiteral("请先在模块列表中选择一个模块。"), MsgButtons::Ok,
           MsgIcon::Information);
    return false;
}

void EditQx7::fillFromSelection() {
    const auto row = selection_();
    if (!row)
        return;
    setWindowTitle(QStringLiteral("修改地址为") + row->address.trimmed() +
                   QStringLiteral("的模块参数"));
    periodBox_->setText(row->recordPeriod);
    enabledBox_->setChecked(row->enabled == kYes);
    alarmBox_->setChecked(row->alarm == kYes);
}

void EditQx7::confirmAndRun(const QString &question, MsgIcon icon, const QString &title,
                            const QString &statement, const QString &failure) {
    QPointer<EditQx7> self(this);
    if (!askYesNo(this, question, icon, title) || !self)
        return;
    if (!db_->Execute(statement)) {
        msgBox(this, failure + db_->lastError(), MsgButtons::Ok, MsgIcon::Warning);
        return;
    }
    Q_EMIT modulesChanged();
    close();
}

void EditQx7::save() {
    const auto row = selection_();
    if (!haveSelection(row))
        return;
    // A period the list could not take back is refused here, before anything
    // is written.
    const auto seconds = parseRecordSeconds(periodBox_->text());
    if (!seconds) {
        msgBox(this, QStringLiteral("纪录周期必须是0到32767之间的整数（秒），请重新输入。"),
               MsgButtons::Ok, MsgIcon::Warning);
        return;
    }
    const QString address = row->address.trimmed();
    confirmAndRun(
        QStringLiteral("确认要修改地址为：'") + address + QStringLiteral("' 的模块参数吗?"),
        MsgIcon::Question, QStringLiteral("Edit Item"),
        sql::updateModule(QString::number(*seconds), enabledBox_->isChecked(),
                          alarmBox_->isChecked(), address),
        QStringLiteral("保存失败："));
}

void EditQx7::remove() {
    const auto row = selection_();
    if (!haveSelection(row))
        return;
    const QString address = row->address.trimmed();
    confirmAndRun(QStringLiteral("确认要删除地址为：") + address + QStringLiteral(" 的模块吗?"),
                  MsgIcon::Critical, QStringLiteral("Remove Item"), sql::deleteModule(address),
                  QStringLiteral("删除失败："));
}
