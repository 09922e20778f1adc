#pragma once

#include "acquisition/AcquisitionJobs.h"

#include <QPointer>
#include <QWidget>

#include <functional>
#include <optional>

class AlarmRecorder;
class ModuleListModel;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeView;
struct ModuleRow;

// The window "module" (多模块采集): the registry list, the polling with its
// counters and run time, the bus search and the address change. The jobs
// themselves run in AcquisitionJobs, which outlives the window; the window
// shows their state and the alarms on, and hands the jobs the operator's
// clicks. However the window goes, its jobs stop.
class ModuleWindow : public QWidget {
    Q_OBJECT
public:
    // `beep` sounds when an alarm starts (once per alarm).
    ModuleWindow(AcquisitionJobs *jobs, AlarmRecorder *alarms, std::function<void()> beep,
                 QWidget *parent = nullptr);
    ~ModuleWindow() override;

    // Rebuilds the list and the record schedule from dbQx7.
    void LoadGrid1();

    AcquisitionJobs *jobs() const { return jobs_; }
    ModuleListModel *modules() const;
    // The row selected in ListView1 (1-based position), if any.
    std::optional<int> selectedPosition() const;
    std::optional<ModuleRow> selectedRow() const;

    bool isAcquiring() const { return jobs_->isAcquiring(); }
    // The search is on (probing, or asking the operator about a module).
    bool isSearching() const { return jobs_->isSearching(); }
    // The notes under the counters (failures found on a timer), one a line.
    QString statusText() const;
    // The line under the list that names the alarms on; empty when none.
    QString alarmText() const;

    // The operator's clicks.
    void toggleAcquisition();  // 采集 / 停止
    void resetCounters();      // 计数清零
    void exitWindow();         // 退出
    void toggleSearch();       // 搜索模块 / stop the search
    void changeAddress();      // 更换

Q_SIGNALS:
    // A double click on the list: the operator wants to edit the selected module.
    void editRequested();

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildControls();
    void showActivity();
    void showCounters();
    void showNotes();
    void showAlarms();
    void askAboutModule(quint8 address, const QString &model);
    // The period in a period box; a clear message and nothing when it is not one.
    std::optional<int> periodOrSay(QLineEdit *box, const QString &what);

    QPointer<AcquisitionJobs> jobs_;
    AlarmRecorder *alarms_;

    QLabel *moduleCountLabel_ = nullptr;  // Label4
    QTreeView *moduleList_ = nullptr;     // ListView1
    QLabel *alarmLabel_ = nullptr;        // the alarms on, under the list
    QLineEdit *receiveBox_ = nullptr;     // rcv232 (hidden)
    QLineEdit *pollPeriodBox_ = nullptr;  // Text2
    QPushButton *acquireButton_ = nullptr;
    QPushButton *resetButton_ = nullptr;
    QLabel *countersLabel_ = nullptr;  // Label6
    QLabel *runTimeLabel_ = nullptr;   // Label7
    QLabel *pollingLabel_ = nullptr;   // Label1
    QLabel *notesLabel_ = nullptr;
    QLineEdit *changeFromBox_ = nullptr;  // Text16
    QLineEdit *changeToBox_ = nullptr;    // Text1
    QPushButton *changeButton_ = nullptr;
    QPushButton *searchButton_ = nullptr;
    QLineEdit *searchPeriodBox_ = nullptr;  // Text19
    QPushButton *exitButton_ = nullptr;
};
