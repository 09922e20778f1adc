#pragma once

#include "alarms/AlarmMonitor.h"

#include <QObject>
#include <QString>

#include <optional>

class Clock;
class LiteConnection;
class RecordWriter;

// A module whose alarms are watched: its bus address, and its address text
// as the module list shows it (the key of its limits in table alarmlimit).
struct AlarmModule {
    quint8 address = 0;
    QString addressText;
};

// Turns the acquisition's readings and unanswered polls into alarms: decides
// them (AlarmMonitor), stamps each start and end with its own time, stores it
// in table alarmlog through the record writer and tells whoever listens
// (the list's marks, the beep, MQTT, the log of the logger).
//
// Alarms end when the acquisition ends (stopped, its window closed, the
// program ending), each with no value; a lost port does not end them. When
// an acquisition starts, a 开始 that an earlier run left without its 结束
// (the program was killed, the machine lost power) gets its 结束 stamped with
// the start time.
class AlarmRecorder : public QObject {
    Q_OBJECT
public:
    AlarmRecorder(LiteConnection *db, RecordWriter *writer, const Clock &clock,
                  QObject *parent = nullptr);

    // The modules to watch from now on, with their limits read from table
    // alarmlimit. Limits that cannot be read stay as they were (said in
    // note()).
    void watch(const QList<AlarmModule> &modules);
    // A valid reading of the module at `address`.
    void reading(quint8 address, double temperature, double humidity);
    // A poll of the module at `address` went unanswered, or could not go out
    // because the port is lost.
    void noReply(quint8 address);
    // The acquisition started / ended.
    void acquisitionStarted();
    void acquisitionEnded();

    // Run in the same transaction right after each row of alarmlog (it may
    // name the row as the largest id of alarmlog); empty: nothing.
    void setAfterInsert(const QString &statements) { afterInsert_ = statements; }

    // "正在报警：…", or empty.
    QString activeText() const { return outside_ ? outside_->text : monitor_.activeText(); }
    QList<quint8> alarmedAddresses() const {
        return outside_ ? outside_->addresses : monitor_.alarmedAddresses();
    }

    // The alarms on that another program decides (a logger acquiring for
    // this data folder), shown instead of this program's until
    // endOutside(); nothing is logged for them here.
    void showOutside(const QString &activeText, const QList<quint8> &addresses);
    void endOutside();
    // What went wrong reading the limits; empty when all is well.
    QString note() const { return note_; }

    // The statement that ends, at `time`, every alarm whose last row is a 开始.
    static QString closeLeftOpenStatement(const QString &time);

Q_SIGNALS:
    // An alarm started or ended (its row is on its way into alarmlog).
    void alarmChanged(const AlarmEvent &event);
    // The alarms on changed: activeText() and alarmedAddresses().
    void alarmsChanged();
    void noteChanged(const QString &note);

private:
    QString now() const;
    void record(const QList<AlarmEvent> &events);

    LiteConnection *db_;
    RecordWriter *writer_;
    const Clock &clock_;
    AlarmMonitor monitor_;
    QString afterInsert_;
    QString note_;
    struct Outside {
        QString text;
        QList<quint8> addresses;
        bool operator==(const Outside &) const = default;
    };
    std::optional<Outside> outside_;
};
