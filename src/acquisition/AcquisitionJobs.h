#pragma once

#include "acquisition/AcquisitionCycle.h"
#include "acquisition/AcquisitionReply.h"
#include "acquisition/BusSearch.h"
#include "alarms/AlarmMonitor.h"
#include "bus/ReceiveRouter.h"

#include <QMap>
#include <QObject>
#include <QString>

#include <memory>

class BusLink;
class Clock;
struct LoggerStatus;
class LiteConnection;
class ModuleListModel;
class QTimer;
class RecordWriter;

// The cyclic jobs of the acquisition, without widgets: the polling of the
// enabled modules (Timer1) with its one-second clock and record schedule
// (Timer2), and the bus search (Timer4). They hold the port through the bus
// link while they run, take the replies, and hand the records to the record
// writer. Every reading believed and every unanswered poll is announced
// (readingTaken, pollFailed): the alarm recorder decides the alarms from them.
//
// One instance lives for the whole run of the program, with or without a
// window: the cycle's position, the counters, the run time, the record
// schedule and the search cursor keep their values across the window's
// openings.
//
// A port whose device goes away stops the search, and the record clock:
// nothing is recorded from then on. The polling waits for the port instead
// (WaitingForPort): each module it would have polled counts as unanswered,
// so that its no-reply alarm starts as it would on a silent bus. When the
// link has reopened the port, the polling goes on by itself.
//
// While a logger on the same data folder holds the port (the bus link is
// held outside), the jobs stop and refuse to start, saying why in the port
// note, and the list, the counters and the run time show what the logger
// reads (showOutside) instead of this program's own, which stay as they were.
class AcquisitionJobs : public QObject, public ReceiveTarget {
    Q_OBJECT
public:
    enum class Activity { Idle, Acquiring, WaitingForPort, Searching };
    enum class StartResult { Started, PortBusy, HeldOutside };
    // The lines the window shows under its counters, in this order.
    enum class Note { Outside, ListLoad, ListProblems, Port, Store, StoreOverflow, StoreSetAside };

    AcquisitionJobs(BusLink *bus, LiteConnection *db, RecordWriter *writer, const Clock &clock,
                    QObject *parent = nullptr);
    ~AcquisitionJobs() override;

    ModuleListModel *modules() const { return modules_; }
    AcquisitionCycle &cycle() { return cycle_; }
    const AcquisitionCycle &cycle() const { return cycle_; }
    Activity activity() const { return activity_; }
    // Polling, or waiting for a lost port to poll again.
    bool isAcquiring() const {
        return activity_ == Activity::Acquiring || activity_ == Activity::WaitingForPort;
    }
    bool isSearching() const { return activity_ == Activity::Searching; }
    // Poll ticks since the start of the program: it goes on while the
    // polling is alive (a watchdog looks at it).
    quint64 pollTicks() const { return pollTicks_; }

    // The registry list and the record schedule anew from dbQx7. False when
    // the table could not be read (the list is then empty).
    bool loadList();

    // Polling: starts when no job holds the port. The period is in ms.
    StartResult startAcquisition(int periodMs);
    // Ends the polling (the operator, the window going, the program ending).
    void stopAcquisition();
    void setPollPeriod(int periodMs);

    // Search: starts when no job holds the port.
    StartResult startSearch(int periodMs);
    void stopSearch();
    void setSearchPeriod(int periodMs);
    // The operator's answer about the module found: registers it on Yes;
    // the search goes on one full period later (unless it was stopped).
    // False, with the database's answer, when the module could not be added.
    bool answerFound(bool add, quint8 address, const QString &model, QString *error);

    // The address change: one write, no job, no waiting for the echo.
    enum class SendOutcome { Sent, PortNotOpen, Failed, HeldOutside };
    SendOutcome changeAddress(quint8 from, quint8 to);

    // The ticks of the three timers.
    void pollTick();
    void clockTick();
    void searchTick();

    // A reply from the bus (what lands in rcv232).
    void receiveText(const QString &text) override;
    // What rcv232 holds: a reply that could not be used stays there.
    QString receiveBox() const { return receiveBox_; }

    // What a logger that holds the port says, about once a second: the list
    // shows its rows with their readings and marks, counterText() and
    // runTimeText() its counters and run time, and the notes say who
    // acquires. endOutside() goes back to this program's own list (loaded
    // anew), counters and run time.
    void showOutside(const LoggerStatus &status);
    void endOutside();
    bool isOutside() const { return outside_ != nullptr; }
    // "成功采集次数：N 失败次数：M" and "1小时5分3秒": this program's, or the
    // logger's while it is shown.
    QString counterText() const;
    QString runTimeText() const;

    // The notes for the window, in order; empty when all is well.
    QStringList notes() const;
    QString note(Note which) const { return notes_.value(which); }

Q_SIGNALS:
    void activityChanged(AcquisitionJobs::Activity activity);
    // A poll went out to the module in row `address` (the row's text).
    void pollSent(const QString &address);
    // The run time went on a second.
    void clockTicked();
    // The probe of `address` went out.
    void searchProbed(int address);
    // A module that is not registered answered the search; the search
    // waits for answerFound().
    void moduleFound(quint8 address, const QString &model);
    // The list was loaded anew.
    void listLoaded();
    // A job met a closed port: the window says "请先打开串口".
    void portNotOpen();
    void receiveBoxChanged(const QString &text);
    void notesChanged();
    // A valid reading of the module at list position `position`.
    void readingTaken(int position, quint8 address, const Measurement &reading);
    // The poll of `position` went unanswered, or could not go out because
    // the port is lost.
    void pollFailed(int position, quint8 address);
    // The polling started (by the operator, or again after a lost port) or
    // ended (not by a lost port: it waits for it).
    void acquisitionStarted();
    void acquisitionStopped();
    // A new status of the logger is shown (or no longer): counters, run time.
    void outsideChanged();

private:
    void setActivity(Activity activity);
    void setNote(Note which, const QString &text);
    void setReceiveBox(const QString &text);
    void onPortLost();
    void onPortReopened();
    void onHeldOutside(bool held);
    void applyOutside();
    // The port note of a job refused because another program holds the port.
    void refuseOutside(const QString &what);
    void onStoreBacklog(int waiting, const QString &error);
    void onStoreOverflow(int dropped);
    void onStoreSetAside(int writes, const QString &error);
    // Sends a frame of the running job. On a closed or lost port the job
    // stops (portGone); false when the frame did not go out.
    bool sendForJob(const QByteArray &frame);
    // A send of a job met a closed port: stop the job; said as a lost port
    // or as "请先打开串口".
    void portGone(bool lost);
    void handleReply();

    BusLink *bus_;
    LiteConnection *db_;
    RecordWriter *writer_;
    const Clock &clock_;
    AcquisitionCycle cycle_;
    BusSearch search_;
    ModuleListModel *modules_;
    QTimer *pollTimer_;
    QTimer *clockTimer_;
    QTimer *searchTimer_;
    Activity activity_ = Activity::Idle;
    quint64 pollTicks_ = 0;
    QString receiveBox_;
    QMap<Note, QString> notes_;
    std::unique_ptr<LoggerStatus> outside_;
};
