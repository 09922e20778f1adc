#include "acquisition/ui/EditQx7.h"

#include "alarms/AlarmLimits.h"
#include "store/LiteConnection.h"
#include "store/Statements.h"
#include "widgets/Controls.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

namespace {
const QString kYes = QStringLiteral("是");
}  // namespace

EditQx7::EditQx7(LiteConnection *db, QWidget *parent) : QWidget(parent, Qt::Window), db_(db) {
    setObjectName(QStringLiteral("EditQx7"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("修改QX-7参数"));
    setFixedSize(330, 262);

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

    buildLimitBoxes();

    connect(saveButton, &QPushButton::clicked, this, &EditQx7::save);
    connect(deleteButton, &QPushButton::clicked, this, &EditQx7::remove);
    connect(exitButton, &QPushButton::clicked, this, &QWidget::close);
}

void EditQx7::buildLimitBoxes() {
    auto *frame =
        makeControl<QGroupBox>(this, "alarmLimits", QStringLiteral("报警限值（空为不设限）"));
    frame->setGeometry(14, 166, 302, 84);
    struct Box {
        const char *name;
        const char *labelName;
        QString label;
        int x, y;
        QLineEdit **box;
    };
    const Box boxes[] = {
        {"tempLow", "tempLowLabel", QStringLiteral("温度下限"), 10, 22, &tempLowBox_},
        {"tempHigh", "tempHighLabel", QStringLiteral("温度上限"), 156, 22, &tempHighBox_},
        {"humLow", "humLowLabel", QStringLiteral("湿度下限"), 10, 52, &humLowBox_},
        {"humHigh", "humHighLabel", QStringLiteral("湿度上限"), 156, 52, &humHighBox_},
    };
    for (const Box &b : boxes) {
        makeControl<QLabel>(frame, b.labelName, b.label)->setGeometry(b.x, b.y, 64, 24);
        *b.box = makeControl<QLineEdit>(frame, b.name, QString());
        (*b.box)->setGeometry(b.x + 66, b.y, 66, 24);
        (*b.box)->setEnabled(false);  // until the limits of a module are read
    }
    tempLowBox_->setToolTip(QStringLiteral("°C，低于此值报警；空为不设限"));
    tempHighBox_->setToolTip(QStringLiteral("°C，高于此值报警；空为不设限"));
    humLowBox_->setToolTip(QStringLiteral("%RH，低于此值报警；空为不设限"));
    humHighBox_->setToolTip(QStringLiteral("%RH，高于此值报警；空为不设限"));
}

void EditQx7::loadLimits(const QString &address) {
    QHash<QString, AlarmLimits> all;
    QString error;
    limitsUnknown_ = !alarmlimits::loadAll(*db_, &all, &error);
    const AlarmLimitTexts texts = alarmlimits::texts(all.value(address));
    tempLowBox_->setText(texts.tempLow);
    tempHighBox_->setText(texts.tempHigh);
    humLowBox_->setText(texts.humLow);
    humHighBox_->setText(texts.humHigh);
    for (QLineEdit *box : {tempLowBox_, tempHighBox_, humLowBox_, humHighBox_}) {
        box->setEnabled(!limitsUnknown_);
        if (limitsUnknown_)
            box->setToolTip(QStringLiteral("无法读取报警限值：") + error);
    }
}

bool EditQx7::haveModule() {
    if (module_)
        return true;
    msgBox(this, QStringLiteral("请先在模块列表中双击一个模块。"), MsgButtons::Ok,
           MsgIcon::Information);
    return false;
}

void EditQx7::showModule(const std::optional<ModuleRow> &row) {
    if (!row || asking_)
        return;
    module_ = row;
    setWindowTitle(QStringLiteral("修改地址为") + row->address.trimmed() +
                   QStringLiteral("的模块参数"));
    periodBox_->setText(row->recordPeriod);
    enabledBox_->setChecked(row->enabled == kYes);
    alarmBox_->setChecked(row->alarm == kYes);
    loadLimits(row->address.trimmed());
}

void EditQx7::confirmAndRun(const QString &question, MsgIcon icon, const QString &title,
                            const QStringList &statements, const QString &failure) {
    if (asking_)
        return;
    QPointer<EditQx7> self(this);
    asking_ = true;
    const bool yes = askYesNo(this, question, icon, title);
    if (!self)
        return;
    asking_ = false;
    if (!yes)
        return;
    QString error;
    if (!executeTogether(*db_, statements, &error)) {
        msgBox(this, failure + error, MsgButtons::Ok, MsgIcon::Warning);
        return;
    }
    Q_EMIT modulesChanged();
    close();
}

void EditQx7::save() {
    if (asking_ || !haveModule())
        return;
    // A period the list could not take back is refused here, before anything
    // is written.
    const auto seconds = parseRecordSeconds(periodBox_->text());
    if (!seconds) {
        msgBox(this, QStringLiteral("纪录周期必须是0到32767之间的整数（秒），请重新输入。"),
               MsgButtons::Ok, MsgIcon::Warning);
        return;
    }
    AlarmLimits limits;
    if (!limitsUnknown_) {
        const QString problem = alarmlimits::parse(
            {tempLowBox_->text(), tempHighBox_->text(), humLowBox_->text(), humHighBox_->text()},
            &limits);
        if (!problem.isEmpty()) {
            msgBox(this, problem, MsgButtons::Ok, MsgIcon::Warning);
            return;
        }
    }
    const QString address = module_->address.trimmed();
    QStringList statements{sql::updateModule(QString::number(*seconds), enabledBox_->isChecked(),
                                             alarmBox_->isChecked(), address)};
    if (!limitsUnknown_)
        statements << alarmlimits::saveStatements(*db_, address, limits);
    confirmAndRun(
        QStringLiteral("确认要修改地址为：'") + address + QStringLiteral("' 的模块参数吗?"),
        MsgIcon::Question, QStringLiteral("Edit Item"), statements, QStringLiteral("保存失败："));
}

void EditQx7::remove() {
    if (asking_ || !haveModule())
        return;
    const QString address = module_->address.trimmed();
    // The module's limits go with it; its records stay.
    confirmAndRun(
        QStringLiteral("确认要删除地址为：") + address + QStringLiteral(" 的模块吗?"),
        MsgIcon::Critical, QStringLiteral("Remove Item"),
        QStringList{sql::deleteModule(address)} + alarmlimits::removeStatements(*db_, address),
        QStringLiteral("删除失败："));
}
