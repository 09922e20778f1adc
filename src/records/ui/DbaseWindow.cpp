#include "records/ui/DbaseWindow.h"

#include "records/BackgroundPass.h"
#include "store/RecordWriter.h"
#include "widgets/Controls.h"
#include "widgets/MessageBoxes.h"

#include <QCheckBox>
#include <QDir>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

DbaseWindow::DbaseWindow(RecordWriter *writer, const QString &databasePath, const Clock &clock,
                         QWidget *parent)
    : QWidget(parent, Qt::Window), writer_(writer), clock_(clock), databasePath_(databasePath) {
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
    deleteButton_ = makeControl<QPushButton>(this, "Command3", QStringLiteral("删除"));
    backupButton_ = makeControl<QPushButton>(this, "Command1", QStringLiteral("数据库备份"));
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
    buttons->addWidget(deleteButton_);
    buttons->addWidget(backupButton_);
    buttons->addWidget(exitButton);
    // Says what runs while a backup or a deletion is under way.
    progress_ = makeControl<QLabel>(this, "progress");
    pass_ = new BackgroundPass(this);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(moduleRow);
    layout->addLayout(buttons);
    layout->addWidget(progress_);

    const std::pair<DeletionBox, QCheckBox *> boxes[] = {{DeletionBox::Before, beforeBox},
                                                         {DeletionBox::After, afterBox},
                                                         {DeletionBox::Between, betweenBox},
                                                         {DeletionBox::Module, moduleBox}};
    for (const auto &[box, check] : boxes) {
        connect(check, &QCheckBox::clicked, this,
                [this, box = box, check = check](bool ticked) { boxClicked(box, check, ticked); });
    }
    connect(deleteButton_, &QPushButton::clicked, this, &DbaseWindow::deleteRecords);
    connect(backupButton_, &QPushButton::clicked, this, &DbaseWindow::backup);
    connect(exitButton, &QPushButton::clicked, this, &QWidget::close);
    connect(pass_, &BackgroundPass::runningChanged, this, [this](bool running) {
        deleteButton_->setDisabled(running);
        backupButton_->setDisabled(running);
        if (!running)
            progress_->clear();
    });
    connect(pass_, &BackgroundPass::progressChanged, this, [this](int permille) {
        if (progress_->text().startsWith(QStringLiteral("正在备份")))
            progress_->setText(QStringLiteral("正在备份数据库…%1%").arg(permille / 10));
    });
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

bool DbaseWindow::isBusy() const {
    return pass_->isRunning();
}

void DbaseWindow::deleteRecords() {
    if (pass_->isRunning() || !askYesNo(this, conditions_.question(), MsgIcon::Critical,
                                        QStringLiteral("Delete Records")))
        return;
    struct Job {
        QString path;
        DeletionConditions conditions;
        QString error;
        bool deleted = false;
    };
    auto job = std::make_shared<Job>(Job{databasePath_, conditions_, {}, false});
    progress_->setText(QStringLiteral("正在删除记录…"));
    pass_->start(
        [job](PassControl &) {
            job->deleted = ::deleteRecords(job->path, job->conditions, &job->error);
        },
        [this, job](bool completed) {
            if (!completed)
                return;
            if (job->deleted) {
                close();
                return;
            }
            msgBox(this,
                   QStringLiteral("删除记录失败，没有删除任何记录。\n\n%1\n\n%2")
                       .arg(job->error, job->conditions.statement()),
                   MsgButtons::Ok, MsgIcon::Critical, QStringLiteral("删除失败"));
        });
}

void DbaseWindow::backup() {
    if (pass_->isRunning())
        return;
    struct Job {
        QString path;
        QDateTime localTime;
        RecordWriter *writer;
        BackupResult result;
    };
    auto job = std::make_shared<Job>(Job{databasePath_, clock_.now().toLocalTime(), writer_, {}});
    progress_->setText(QStringLiteral("正在备份数据库…"));
    pass_->start(
        [job](PassControl &control) {
            // The program's own writer waits quietly while the file is read
            // for the copy (other programs' commits wait for the read).
            if (job->writer)
                job->writer->suspend();
            job->result = backupDatabase(job->path, job->localTime, control);
            if (job->writer)
                job->writer->resume();
        },
        [this, job](bool completed) {
            if (completed)
                backupEnded(job->result);
        });
}

void DbaseWindow::backupEnded(const BackupResult &r) {
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
        case BackupResult::Cancelled:
            break;
    }
}
