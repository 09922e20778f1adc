#pragma once

#include "acquisition/AcquisitionCycle.h"
#include "acquisition/AcquisitionReply.h"
#include "acquisition/BusSearch.h"
#include "alarms/AlarmMonitor.h"
#include "bus/ReceiveRouter.h"

#include <QMap>
#include <QObject>
#include <QString>

#include <functional>

class BusLink;
class LiteConnection;
class ModuleListModel;
class QTimer;
class RecordWriter;

// What the acquisition keeps for the whole run of the program, across
// closing and opening its window: the cycle's position, the counters, the run
// time, the record schedule, the search cursor and the alarms on.
struct AcquisitionState {
    AcquisitionCycle cycle;
    BusSearch search;
    AlarmMonitor alarms;
};

// The cyclic jobs of the acquisition window, without its widgets: the
// polling of the enabled modules (Timer1) with its one-second clock and
// record schedule (Timer2), and the bus search (Timer4). They hold the port
// through the bus link while they run, take the replies that reach the
// window, and hand the records to the record writer.
//
// The alarms of the modules whose 报警 is 是 are decided here from every
// reading and every unanswered poll (AlarmMonitor, with the limits of table
// alarmlimit read at each list load); each start and end goes into table
// alarmlog through the record writer, and the list marks the modules in alarm.
//
// One instance lives with one acquisition window (its timers are children
// of the window); what must survive the window is in AcquisitionState.
//
// A port whose device goes away stops the polling and the search at once,
// with nothing recorded from then on. When the link has reopened the port,
// polling that the loss stopped starts again by itself.
class AcquisitionJobs : public QObject, public ReceiveTarget {
    Q_OBJECT
public:
    enum class Activity { Idle, Acquiring, Searching };
    enum class StartResult { Started, PortBusy };
    // The lines the window shows under its counters, in this order.
    enum class Note { ListLoad, ListProblems, Port, Store, StoreOverflow, AlarmLimits };

    AcquisitionJobs(BusLink *bus, LiteConnection *db, RecordWriter *writer, AcquisitionState *state,
                    QObject *parent = nullptr);
    ~AcquisitionJobs() override;

    ModuleListModel *modules() const { return modules_; }
    AcquisitionState &state() const { return *state_; }
    Activity activity() const { return activity_; }
    bool isAcquiring() const { return activity_ == Activity::Acquiring; }
    bool isSearching() const { return activity_ == Activity::Searching; }
    // The search waits for the operator's answer about a module it found.
    bool isAsking() const { return asking_; }

    QTimer *pollTimer() const { return pollTimer_; }
    QTimer *clockTimer() const { return clockTimer_; }
    QTimer *searchTimer() const { return searchTimer_; }

    // The steady clock (milliseconds) of reading ages; tests put their own.
    void setClock(std::function<qint64()> clock);

    // The registry list and the record schedule anew from dbQx7. False when
    // the table could not be read (the list is then empty).
    bool loadList();

    // Polling: starts when no job holds the port. The period is in ms.
    StartResult startAcquisition(int periodMs);
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
    enum class SendOutcome { Sent, PortNotOpen, Failed };
    SendOutcome changeAddress(quint8 from, quint8 to);

    // The ticks of the three timers.
    void pollTick();
    void clockTick();
    void searchTick();

    // A reply from the bus (what lands in rcv232).
    void receiveText(const QString &text) override;
    // What rcv232 holds: a reply that could not be used stays there.
    QString receiveBox() const { return receiveBox_; }

    // The notes for the window, in order; empty when all is well.
    QStringList notes() const;
    QString note(Note which) const { return notes_.value(which); }

    // The alarms on now as one line for under the list; empty when none.
    QString alarmText() const;

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
    // The poll of `position` went unanswered.
    void pollFailed(int position, quint8 address);
    // An alarm started or ended (it is on its way into alarmlog).
    void alarmChanged(const AlarmEvent &event);
    // The alarms on changed: alarmText() and the marks of the list.
    void alarmsChanged();

private:
    void setActivity(Activity activity);
    void setNote(Note which, const QString &text);
    void setReceiveBox(const QString &text);
    void onPortLost();
    void onPortReopened();
    void onStoreBacklog(int waiting, const QString &error);
    void onStoreOverflow(int dropped);
    // Sends a frame of the running job. On a closed or lost port the job
    // stops (portGone); false when the frame did not go out.
    bool sendForJob(const QByteArray &frame);
    // A send of a job met a closed port: stop the job; said as a lost port
    // or as "请先打开串口".
    void portGone(bool lost);
    void handleReply();
    qint64 now() const;
    // The modules to watch from the list just loaded, with their limits.
    void watchAlarms();
    // Stores, reports and shows what the alarm decisions gave.
    void alarmEvents(const QList<AlarmEvent> &events);

    BusLink *bus_;
    LiteConnection *db_;
    RecordWriter *writer_;
    AcquisitionState *state_;
    ModuleListModel *modules_;
    QTimer *pollTimer_;
    QTimer *clockTimer_;
    QTimer *searchTimer_;
    std::function<qint64()> clock_;
    Activity activity_ = Activity::Idle;
    bool asking_ = false;
    // Polling stopped by a lost port, to start again once it is back.
    bool resumeWhenReopened_ = false;
    QString receiveBox_;
    QMap<Note, QString> notes_;
};
