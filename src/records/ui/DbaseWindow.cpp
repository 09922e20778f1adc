#include "records/ui/DbaseWindow.h"

#include "store/LiteConnection.h"
#include "store/RecordWriter.h"
#include "widgets/Controls.h"
#include "widgets/MessageBoxes.h"

#include <QCheckBox>
#include <QDir>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

DbaseWindow::DbaseWindow(LiteConnection *db, RecordWriter *writer, const QString &databasePath,
                         const Clock &clock, QWidget *parent)
    : QWidget(parent, Qt::Window),
      db_(db),
      writer_(writer),
      clock_(clock),
      databasePath_(databasePath) {
    setObjectName(QStringLiteral("dbase"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("数据库维护"));

    auto *beforeBox =
        makeControl<QCheckBox>(this, "Check1", QStringLiteral("将此时间之前的数据删除"));
    auto *afterBox =
        makeControl<QCheckBox>(this, "Check2", QStringLiteral("将此时间之后的数据删除"));
    auto *betweenBox =
        makeControl<QCheckBox>(this, "Check3", QStringLiteral("将上面两时间之间的数据删除"));
    auto *moduleBox = makeControl<QCheckBox>(this, "Check4", QStringLiteral("以上操作只对模块："));
    firstTimeBox_ = makeControl<QLineEdit>(this, "Text1", QStringLiteral("2010-01-01 00:00:00"));
    secondTimeBox_ = makeControl<QLineEdit>(this, "Text2", QStringLiteral("2019-12-31 23:59:59"));
    addressBox_ = makeControl<QLineEdit>(this, "Text3", QStringLiteral("1"));
    auto *deleteButton = makeControl<QPushButton>(this, "Command3", QStringLiteral("删除"));
    auto *backupButton = makeControl<QPushButton>(this, "Command1", QStringLiteral("数据库备份"));
    auto *exitButton = makeControl<QPushButton>(this, "Command2", QStringLiteral("退出"));
    firstTimeBox_->setMinimumWidth(160);
    secondTimeBox_->setMinimumWidth(160);
    addressBox_->setMaximumWidth(60);

    auto *grid = new QGridLayout();
    grid->addWidget(firstTimeBox_, 0, 0);
    grid->addWidget(beforeBox, 0, 1);
    grid->addWidget(secondTimeBox_, 1, 0);
    grid->addWidget(afterBox, 1, 1);
    grid->addWidget(betweenBox, 2, 0, 1, 2);
    auto *moduleRow = new QHBoxLayout();
    moduleRow->addWidget(moduleBox);
    moduleRow->addWidget(addressBox_);
    moduleRow->addStretch();
    auto *buttons = new QHBoxLayout();
    buttons->addWidget(deleteButton);
    buttons->addWidget(backupButton);
    buttons->addWidget(exitButton);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(moduleRow);
    layout->addLayout(buttons);

    const std::pair<DeletionBox, QCheckBox *> boxes[] = {{DeletionBox::Before, beforeBox},
                                                         {DeletionBox::After, afterBox},
                                                         {DeletionBox::Between, betweenBox},
                                                         {DeletionBox::Module, moduleBox}};
    for (const auto &[box, check] : boxes) {
        connect(check, &QCheckBox::clicked, this,
                [this, box = box, check = check](bool ticked) { boxClicked(box, check, ticked); });
    }
    connect(deleteButton, &QPushButton::clicked, this, &DbaseWindow::deleteRecords);
    connect(backupButton, &QPushButton::clicked, this, &DbaseWindow::backup);
    connect(exitButton, &QPushButton::clicked, this, &QWidget::close);
}

void DbaseWindow::boxClicked(DeletionBox box, QCheckBox *check, bool ticked) {
    const QString error = conditions_.click(
        box, ticked, {firstTimeBox_->text(), secondTimeBox_->text(), addressBox_->text()});
    if (!error.isEmpty()) {
        // Refused: the box shows what the condition still is.
        check->setChecked(false);
        msgBox(this, error, MsgButtons::Ok, MsgIcon::Warning);
    }
}

void DbaseWindow::deleteRecords() {
    if (!askYesNo(this, conditions_.question(), MsgIcon::Critical,
                  QStringLiteral("Delete Records")))
        return;
    QString error;
    if (!::deleteRecords(*db_, conditions_, &error)) {
        msgBox(this,
               QStringLiteral("删除记录失败，没有删除任何记录。\n\n%1\n\n%2")
                   .arg(error, conditions_.statement()),
               MsgButtons::Ok, MsgIcon::Critical, QStringLiteral("删除失败"));
        return;
    }
    close();
}

void DbaseWindow::backup() {
    // The record writer waits while the file is copied, so that the copy
    // never holds half of a write.
    if (writer_)
        writer_->suspend();
    const BackupResult r = backupDatabase(*db_, databasePath_, clock_.now().toLocalTime());
    if (writer_)
        writer_->resume();
    switch (r.outcome) {
        case BackupResult::Done:
            msgBox(this, QStringLiteral("数据库mydb.db备份成功！"), MsgButtons::Ok,
                   MsgIcon::Information, QStringLiteral("完成"));
            break;
        case BackupResult::MissingDirectory:
            msgBox(this, QStringLiteral("请在软件安装目录中，建立backup子目录！"), MsgButtons::Ok,
                   MsgIcon::Critical, QStringLiteral("备份失败"));
            break;
        case BackupResult::CopyFailed:
            msgBox(this,
                   QStringLiteral("无法写入备份文件%1：%2")
                       .arg(QDir::toNativeSeparators(r.target), r.detail),
                   MsgButtons::Ok, MsgIcon::Critical, QStringLiteral("备份失败"));
            break;
        case BackupResult::ReopenFailed:
            msgBox(this, QStringLiteral("备份后无法重新打开数据库：") + r.detail, MsgButtons::Ok,
                   MsgIcon::Critical, QStringLiteral("备份失败"));
            break;
    }
}
