#pragma once

#include "acquisition/AcquisitionCycle.h"
#include "acquisition/AcquisitionReply.h"
#include "acquisition/BusSearch.h"
#include "bus/ReceiveRouter.h"

#include <QWidget>

#include <optional>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;
class QTreeView;
class ModuleListModel;
struct ModuleRow;

// The window "module" (多模块采集): the registry list, the polling cycle, the
// record schedule, the bus search and the address change.
class ModuleWindow : public QWidget, public ReceiveTarget {
    Q_OBJECT
public:
    // What the window keeps between closing and opening again: the cycle's
    // position, counters, run time and record schedule.
    struct State {
        AcquisitionCycle cycle;
        BusSearch search;
    };
    static State &state();
    static void resetState();

    explicit ModuleWindow(QWidget *parent = nullptr);
    ~ModuleWindow() override;

    void receiveText(const QString &text) override;

    // Rebuilds the list and the record schedule from dbQx7.
    void LoadGrid1();

    ModuleListModel *modules() const { return model_; }
    // The row selected in ListView1 (1-based position), if any.
    std::optional<int> selectedPosition() const;
    std::optional<ModuleRow> selectedRow() const;

    bool isAcquiring() const;
    // The search is on (probing, or asking the operator about a module).
    bool isSearching() const { return searching_; }

    // Event handlers, public so that tests can drive them like the operator
    // and the timers do.
    void Command3_Click();  // 采集 / 停止
    void Command4_Click();  // 计数清零
    void Command1_Click();  // 退出
    void Timer1_Timer();    // one poll
    void Timer2_Timer();    // run time and records
    void rcv232_Change();   // a reply in the receive box
    void Command5_Click();  // 搜索模块 / stop the search
    void Timer4_Timer();    // one search probe
    void Command2_Click();  // 更换: address change
    void ListView1_DblClick();

    // A failure met on a timer, shown in the window instead of a box.
    QString statusText() const;

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildControls();
    void stopJobs();
    void portNotOpen();
    void releasePort();
    // The period in a period box; a clear message and nothing when it is not one.
    std::optional<int> periodOrSay(QLineEdit *box, const QString &what);
    void stopSearch();
    void searchAnswer(const AcquisitionReply &reply);

    ModuleListModel *model_ = nullptr;
    QTreeView *ListView1_ = nullptr;
    QLineEdit *rcv232_ = nullptr;
    QLabel *Label4_ = nullptr;
    QLabel *Label2_ = nullptr;
    QLineEdit *Text2_ = nullptr;
    QPushButton *Command3_ = nullptr;
    QPushButton *Command4_ = nullptr;
    QLabel *Label6_ = nullptr;
    QLabel *Label8_ = nullptr;
    QLabel *Label7_ = nullptr;
    QLabel *Label1_ = nullptr;
    QLabel *statusText_ = nullptr;  // failures found on a timer, shown once
    QGroupBox *Frame1_ = nullptr;
    QLabel *Label5_ = nullptr;
    QLineEdit *Text16_ = nullptr;
    QLabel *Label3_ = nullptr;
    QLineEdit *Text1_ = nullptr;
    QPushButton *Command2_ = nullptr;
    QPushButton *Command5_ = nullptr;
    QLabel *Label16_ = nullptr;
    QLineEdit *Text19_ = nullptr;
    QPushButton *Command1_ = nullptr;
    QTimer *Timer1_ = nullptr;
    QTimer *Timer2_ = nullptr;
    QTimer *Timer4_ = nullptr;
    // This window's acquisition or search has set rs232busy.
    bool holdsPort_ = false;
    bool searching_ = false;
    // The last record tick could not store its records (shown in statusText).
    bool storeFailed_ = false;
};
