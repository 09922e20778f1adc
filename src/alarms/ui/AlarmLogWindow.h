#pragma once

#include "alarms/AlarmLog.h"

#include <QWidget>

class LiteConnection;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;

// The window "AlarmLog" (报警记录): every start and end of an alarm from
// table alarmlog, filtered by module and time as the record list is, and
// exported to CSV. It only reads; a file without the table shows an empty
// log.
class AlarmLogWindow : public QWidget {
    Q_OBJECT
public:
    explicit AlarmLogWindow(LiteConnection *db, QWidget *parent = nullptr);

    // Lists the log through the filters that are ticked. False (the list as
    // it was) when a filter text is refused or the log cannot be read; the
    // reason is shown in a box.
    bool reload();
    // Writes the listed rows to a CSV file; empty on success, otherwise what
    // failed.
    QString exportCsv(const QString &path) const;

    AlarmLogModel *model() const { return model_; }
    AlarmLogFilter filter() const;

private:
    void filterClicked(QCheckBox *box);
    void quickPeriod(int which);
    void exportClicked();
    void exportTo(const QString &path);

    LiteConnection *db_;
    AlarmLogModel *model_ = nullptr;
    QCheckBox *moduleCheck_ = nullptr;
    QLineEdit *moduleBox_ = nullptr;
    QCheckBox *periodCheck_ = nullptr;
    QLineEdit *fromBox_ = nullptr;
    QLineEdit *toBox_ = nullptr;
    QTableView *list_ = nullptr;
    QLabel *totalLabel_ = nullptr;
};
