#pragma once

#include "records/Maintenance.h"

#include <QWidget>

class QCheckBox;
class QLineEdit;
class QPushButton;

// The window "dbase" (数据库维护): backup of the database and deletion of records.
class DbaseWindow : public QWidget {
    Q_OBJECT
public:
    explicit DbaseWindow(QWidget *parent = nullptr);

    const DeletionConditions &conditions() const { return conditions_; }

    // 删除: asks, then deletes with the conditions fixed by the last clicks.
    void Command3_Click();
    // 数据库备份.
    void Command1_Click();

private:
    void checkClicked(int number, bool ticked);

    DeletionConditions conditions_;
    QCheckBox *Check[5] = {};  // Check1 .. Check4
    QLineEdit *Text1, *Text2, *Text3;
    QPushButton *Command1, *Command2, *Command3;
};
