#pragma once

#include "records/Maintenance.h"
#include "store/Clock.h"

#include <QWidget>

class BackgroundPass;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class RecordWriter;

// The window "dbase" (数据库维护): backup of the database and deletion of records.
// Both run on a thread of their own, with a progress text in the window, which
// keeps answering meanwhile; the questions before and the messages after are
// the window's own.
class DbaseWindow : public QWidget {
    Q_OBJECT
public:
    // `writer` (may be null) is held while the backup copies the file;
    // `clock` gives the backup's file name its time.
    DbaseWindow(RecordWriter *writer, const QString &databasePath, const Clock &clock,
                QWidget *parent = nullptr);

    const DeletionConditions &conditions() const { return conditions_; }

    // 删除: asks, then deletes with the conditions fixed by the last clicks;
    // the window closes when they are deleted.
    void deleteRecords();
    // 数据库备份.
    void backup();

    bool isBusy() const;
    BackgroundPass *pass() const { return pass_; }

private:
    void boxClicked(DeletionBox box, QCheckBox *check, bool ticked);
    void backupEnded(const BackupResult &r);

    RecordWriter *writer_;
    const Clock &clock_;
    QString databasePath_;
    DeletionConditions conditions_;
    QLineEdit *firstTimeBox_;    // Text1
    QLineEdit *secondTimeBox_;   // Text2
    QLineEdit *addressBox_;      // Text3
    QPushButton *deleteButton_;  // Command3
    QPushButton *backupButton_;  // Command1
    QLabel *progress_;
    BackgroundPass *pass_;
};
