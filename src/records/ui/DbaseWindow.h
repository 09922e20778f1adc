#pragma once

#include "records/Maintenance.h"
#include "store/Clock.h"

#include <QWidget>

class LiteConnection;
class QCheckBox;
class QLineEdit;
class RecordWriter;

// The window "dbase" (数据库维护): backup of the database and deletion of records.
class DbaseWindow : public QWidget {
    Q_OBJECT
public:
    // `writer` (may be null) is held while the backup copies the file;
    // `clock` gives the backup's file name its time.
    DbaseWindow(LiteConnection *db, RecordWriter *writer, const QString &databasePath,
                const Clock &clock, QWidget *parent = nullptr);

    const DeletionConditions &conditions() const { return conditions_; }

    // 删除: asks, then deletes with the conditions fixed by the last clicks.
    void deleteRecords();
    // 数据库备份.
    void backup();

private:
    void boxClicked(DeletionBox box, QCheckBox *check, bool ticked);

    LiteConnection *db_;
    RecordWriter *writer_;
    const Clock &clock_;
    QString databasePath_;
    DeletionConditions conditions_;
    QLineEdit *firstTimeBox_;   // Text1
    QLineEdit *secondTimeBox_;  // Text2
    QLineEdit *addressBox_;     // Text3
};
