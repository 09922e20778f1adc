#include "records/ui/DbaseWindow.h"

#include "app/Module1.h"
#include "records/Clock.h"
#include "widgets/Controls.h"
#include "widgets/MessageBoxes.h"

#include <QCheckBox>
#include <QDir>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

DbaseWindow::DbaseWindow(QWidget *parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("dbase"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("数据库维护"));

    Check[1] = named(new QCheckBox(QStringLiteral("将此时间之前的数据删除")), "Check1");
    Check[2] = named(new QCheckBox(QStringLiteral("将此时间之后的数据删除")), "Check2");
    Check[3] = named(new QCheckBox(QStringLiteral("将上面两时间之间的数据删除")), "Check3");
    Check[4] = named(new QCheckBox(QStringLiteral("以上操作只对模块：")), "Check4");
    Text1 = named(new QLineEdit(QStringLiteral("2010-01-01 00:00:00")), "Text1");
    Text2 = named(new QLineEdit(QStringLiteral("2019-12-31 23:59:59")), "Text2");
    Text3 = named(new QLineEdit(QStringLiteral("1")), "Text3");
    Command3 = named(new QPushButton(QStringLiteral("删除")), "Command3");
    Command1 = named(new QPushButton(QStringLiteral("数据库备份")), "Command1");
    Command2 = named(new QPushButton(QStringLiteral("退出")), "Command2");
    Text1->setMinimumWidth(160);
    Text2->setMinimumWidth(160);
    Text3->setMaximumWidth(60);

    auto *grid = new QGridLayout();
    grid->addWidget(Text1, 0, 0);
    grid->addWidget(Check[1], 0, 1);
    grid->addWidget(Text2, 1, 0);
    grid->addWidget(Check[2], 1, 1);
    grid->addWidget(Check[3], 2, 0, 1, 2);
    auto *module = new QHBoxLayout();
    module->addWidget(Check[4]);
    module->addWidget(Text3);
    module->addStretch();
    auto *buttons = new QHBoxLayout();
    buttons->addWidget(Command3);
    buttons->addWidget(Command1);
    buttons->addWidget(Command2);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(module);
    layout->addLayout(buttons);

    for (int i = 1; i <= 4; ++i)
        connect(Check[i], &QCheckBox::clicked, this,
                [this, i](bool ticked) { checkClicked(i, ticked); });
    connect(Command3, &QPushButton::clicked, this, &DbaseWindow::Command3_Click);
    connect(Command1, &QPushButton::clicked, this, &DbaseWindow::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &QWidget::close);
}

void DbaseWindow::checkClicked(int number, bool ticked) {
    const QString error =
        conditions_.click(number, ticked, {Text1->text(), Text2->text(), Text3->text()});
    if (!error.isEmpty()) {
        Check[number]->setChecked(false);
        msgBox(this, error, MsgButtons::Ok, MsgIcon::Warning);
    }
}

void DbaseWindow::Command3_Click() {
    if (!askYesNo(this, deletionQuestion(Check[4]->isChecked(), Text3->text()), MsgIcon::Critical,
                  QStringLiteral("Delete Records")))
        return;
    LiteConnection &db = Module1::dbconn();
    const QString statement = conditions_.statement();
    if (!db.Execute(statement)) {
        // One statement: when it fails, nothing was deleted.
        msgBox(this,
               QStringLiteral("删除记录失败，没有删除任何记录。\n\n%1\n\n%2")
                   .arg(db.lastError(), statement),
               MsgButtons::Ok, MsgIcon::Critical, QStringLiteral("删除失败"));
        return;
    }
    close();
}

void DbaseWindow::Command1_Click() {
    const BackupResult r = backupDatabase(Module1::dbconn(), Module1::databasePath(),
                                          recordsclock::now().toLocalTime());
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
