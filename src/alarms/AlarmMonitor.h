#pragma once

#include "alarms/AlarmLimits.h"

#include <QList>
#include <QString>

#include <map>
#include <optional>

// What an alarm is about. The texts are those of the alarm log.
enum class AlarmKind { TempLow, TempHigh, HumLow, HumHigh, NoReply };
QString alarmKindText(AlarmKind kind);  // 温度过低, 温度过高, 湿度过低, 湿度过高, 无应答

// One start or end of an alarm.
struct AlarmEvent {
    quint8 address = 0;
    AlarmKind kind = AlarmKind::NoReply;
    bool started = false;
    // The reading that decided it; none for the no-reply alarm, and for an
    // alarm that ends because its module or its limit is no longer watched.
    std::optional<double> value;
    QString time;  // the records' form, UTC + 8 hours

    QString kindText() const { return alarmKindText(kind); }
    QString stateText() const;  // 开始 or 结束

    bool operator==(const AlarmEvent &) const = default;
};

// A module whose alarms are watched (报警 是, and polled), with its limits.
// Limits that could not be read are left out: the module keeps those it had.
struct WatchedModule {
    quint8 address = 0;
    std::optional<AlarmLimits> limits;
};

// The alarm decisions of the acquisition, without storage or display: fed
// the readings and the unanswered polls of the watched modules, it says
// which alarms start and end.
//
// - A reading below a lower limit or above an upper one starts an alarm of
//   that kind. It ends once a reading is back inside by the hysteresis
//   (0.5 °C, 1 %RH), so a value that wavers at the limit does not flap.
// - kNoReplyPolls polls of a module in a row without a valid reply start its
//   no-reply alarm; the next valid reply ends it.
// - A module without limits has only the no-reply alarm.
// - An alarm whose limit is removed, or whose module is no longer watched,
//   ends at once; a limit that changes applies from the next reading.
//
// Modules are told apart by their bus address.
class AlarmMonitor {
public:
    static constexpr double kTemperatureHysteresis = 0.5;
    static constexpr double kHumidityHysteresis = 1.0;
    static constexpr int kNoReplyPolls = 3;

    // The modules to watch from now on, in place of those before.
    QList<AlarmEvent> watch(const QList<WatchedModule> &modules, const QString &time);
    // A valid reading of the module at `address`.
    QList<AlarmEvent> reading(quint8 address, double temperature, double humidity,
                              const QString &time);
    // A poll of the module at `address` went unanswered (or its reply was
    // not valid).
    QList<AlarmEvent> noReply(quint8 address, const QString &time);
    // The acquisition ended: every alarm on ends now (with no value), and
    // the count of unanswered polls starts again. The modules stay watched.
    QList<AlarmEvent> endAll(const QString &time);

    struct Active {
        quint8 address = 0;
        AlarmKind kind = AlarmKind::NoReply;
        QString since;
    };
    // The alarms on now, by address and then kind.
    QList<Active> active() const;
    bool isAlarmed(quint8 address) const;
    QList<quint8> alarmedAddresses() const;
    bool isWatched(quint8 address) const { return modules_.count(address) > 0; }
    std::optional<AlarmLimits> limits(quint8 address) const;
    // "正在报警：模块3 温度过低（始于…）；模块5 无应答（始于…）", or empty.
    QString activeText() const;

private:
    static constexpr int kKinds = 5;
    struct ModuleState {
        AlarmLimits limits;
        int failures = 0;
        std::optional<QString> since[kKinds];  // set while that kind is on
    };
    static void set(ModuleState &m, quint8 address, AlarmKind kind, bool on,
                    std::optional<double> value, const QString &time, QList<AlarmEvent> *events);
    // Ends the limit alarms of `m` whose limit is gone.
    static void endUnlimited(ModuleState &m, quint8 address, const QString &time,
                             QList<AlarmEvent> *events);

    std::map<quint8, ModuleState> modules_;
};
