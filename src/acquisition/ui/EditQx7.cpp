#include "acquisition/ui/EditQx7.h"

#include "acquisition/ModuleList.h"
#include "acquisition/ui/ModuleWindow.h"
#include "app/Module1.h"
#include "store/Statements.h"
#include "widgets/MessageBoxes.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

namespace {
const QString kYes = QStringLiteral("是");

template <class W>
W *control(QWidget *parent, const char *name, const QString &text, QRect geometry) {
    auto *w = new W(text, parent);
    w->setObjectName(QString::fromLatin1(name));
    w->setGeometry(geometry);
    return w;
}
}  // namespace

EditQx7::EditQx7(QWidget *parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("EditQx7"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("修改QX-7参数"));
    setFixedSize(330, 170);

    Label1_ = control<QLabel>(this, "Label1", QStringLiteral("是否启用："), {24, 20, 90, 24});
    Check1_ = control<QCheckBox>(this, "Check1", QString(), {120, 20, 24, 24});
    Label2_ = control<QLabel>(this, "Label2", QStringLiteral("是否报警："), {24, 52, 90, 24});
    Check2_ = control<QCheckBox>(this, "Check2", QString(), {120, 52, 24, 24});
    // The period box sits in the gap of the label's text.
    const QString periodText = QStringLiteral("纪录周期：          秒");
    Label3_ = control<QLabel>(this, "Label3", periodText, {24, 86, 280, 24});
    const QFontMetrics metrics(Label3_->font());
    const int gapStart = metrics.horizontalAdvance(QStringLiteral("纪录周期："));
    const int gapWidth = metrics.horizontalAdvance(QStringLiteral("          "));
    Text1_ = control<QLineEdit>(this, "Text1", QStringLiteral("Text1"),
                                {24 + gapStart + 2, 84, std::max(28, gapWidth - 4), 28});
    Command1_ = control<QPushButton>(this, "Command1", QStringLiteral("保存"), {24, 126, 80, 28});
    Command2_ = control<QPushButton>(this, "Command2", QStringLiteral("删除"), {124, 126, 80, 28});
    Command3_ = control<QPushButton>(this, "Command3", QStringLiteral("退出"), {224, 126, 80, 28});

    connect(Command1_, &QPushButton::clicked, this, &EditQx7::Command1_Click);
    connect(Command2_, &QPushButton::clicked, this, &EditQx7::Command2_Click);
    connect(Command3_, &QPushButton::clicked, this, &EditQx7::Command3_Click);

    Form_Load();
}

std::optional<ModuleRow> EditQx7::selectedRow() const {
    ModuleWindow *list = Module1::moduleIfOpen();
    return list ? list->selectedRow() : std::nullopt;
}

bool EditQx7::haveSelection(const std::optional<ModuleRow> &row) {
    if (row)
        return true;
    msgBox(this, QStringLiteral("请先在模块列表中选择一个模块。"), MsgButtons::Ok,
           MsgIcon::Information);
    return false;
}

void EditQx7::reloadList() {
    if (ModuleWindow *list = Module1::moduleIfOpen())
        list->LoadGrid1();
}

void EditQx7::Form_Load() {
    const auto row = selectedRow();
    if (!row)
        return;
    setWindowTitle(QStringLiteral("修改地址为") + row->address.trimmed() +
                   QStringLiteral("的模块参数"));
    Text1_->setText(row->recordPeriod);
    Check1_->setChecked(row->enabled == kYes);
    Check2_->setChecked(row->alarm == kYes);
}

void EditQx7::confirmAndRun(const QString &question, MsgIcon icon, const QString &title,
                            const QString &statement, const QString &failure) {
    QPointer<EditQx7> self(this);
    if (!askYesNo(this, question, icon, title) || !self)
        return;
    LiteConnection &db = Module1::dbconn();
    if (!db.Execute(statement)) {
        msgBox(this, failure + db.lastError(), MsgButtons::Ok, MsgIcon::Warning);
        return;
    }
    reloadList();
    close();
}

void EditQx7::Command1_Click() {
    const auto row = selectedRow();
    if (!haveSelection(row))
        return;
    // A period the list could not take back is refused here, before anything
    // is written.
    const auto seconds = parseRecordSeconds(Text1_->text());
    if (!seconds) {
        msgBox(this, QStringLiteral("纪录周期必须是0到32767之间的整数（秒），请重新输入。"),
               MsgButtons::Ok, MsgIcon::Warning);
        return;
    }
    const QString address = row->address.trimmed();
    confirmAndRun(
        QStringLiteral("确认要修改地址为：'") + address + QStringLiteral("' 的模块参数吗?"),
        MsgIcon::Question, QStringLiteral("Edit Item"),
        sql::updateModule(QString::number(*seconds), Check1_->isChecked(), Check2_->isChecked(),
                          address),
        QStringLiteral("保存失败："));
}

void EditQx7::Command2_Click() {
    const auto row = selectedRow();
    if (!haveSelection(row))
        return;
    const QString address = row->address.trimmed();
    confirmAndRun(QStringLiteral("确认要删除地址为：") + address + QStringLiteral(" 的模块吗?"),
                  MsgIcon::Critical, QStringLiteral("Remove Item"), sql::deleteModule(address),
                  QStringLiteral("删除失败："));
}

void EditQx7::Command3_Click() {
    close();
}
