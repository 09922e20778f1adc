#pragma once

#include "alarms/AlarmLog.h"
#include "store/Clock.h"

#include <QWidget>

#include <memory>

class BackgroundPass;
class LiteConnection;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class RecordListView;

// The window "AlarmLog" (报警记录): every start and end of an alarm from
// table alarmlog, filtered by module and time as the record list is, with
// whether its messages went out, and exported to CSV. It only reads; a file
// without the table shows an empty log. However long the log, the window
// reads it as the record list reads the records: the rows counted by a pass
// on a thread of its own, shown page by page as they scroll into view.
class AlarmLogWindow : public QWidget {
    Q_OBJECT
public:
    // `clock` gives the quick periods (今日, 本周, 本月) their day.
    AlarmLogWindow(LiteConnection *db, const Clock &clock, QWidget *parent = nullptr);

    // Starts listing the log through the filters that are ticked (replacing a
    // pass still running); the list fills while the pass runs and shows its
    // last rows when it ends. False (the list as it was) when a filter text
    // is refused; the reason is shown in a box, as is a failure to read.
    bool reload();
    // Writes the listed rows to a CSV file in the background; a box tells the
    // outcome. False when another pass is running.
    bool exportCsv(const QString &path);

    AlarmLogModel *model() const { return model_; }
    AlarmLogFilter filter() const;
    BackgroundPass *pass() const { return pass_; }
    bool isBusy() const;

private:
    struct ListJob;
    void filterClicked(QCheckBox *box);
    void quickPeriod(int which);
    void listEnded(ListJob &job, bool completed);

    LiteConnection *db_;
    const Clock &clock_;
    AlarmLogModel *model_ = nullptr;
    BackgroundPass *pass_ = nullptr;
    std::shared_ptr<ListJob> listJob_;  // the list pass under way
    int generation_ = 0;                // of the pass's growth taken so far
    QCheckBox *moduleCheck_ = nullptr;
    QLineEdit *moduleBox_ = nullptr;
    QCheckBox *periodCheck_ = nullptr;
    QLineEdit *fromBox_ = nullptr;
    QLineEdit *toBox_ = nullptr;
    QPushButton *exportButton_ = nullptr;
    RecordListView *list_ = nullptr;
    QLabel *totalLabel_ = nullptr;
};
