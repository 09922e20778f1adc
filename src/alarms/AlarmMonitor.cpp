#include "alarms/AlarmMonitor.h"

#include <QStringList>

namespace {
// Readings come in tenths; limits may be typed with more digits. Values this
// close count as equal.
constexpr double kEpsilon = 1e-9;

constexpr AlarmKind kLimitKinds[] = {AlarmKind::TempLow, AlarmKind::TempHigh, AlarmKind::HumLow,
                                     AlarmKind::HumHigh};
constexpr AlarmKind kAllKinds[] = {AlarmKind::TempLow, AlarmKind::TempHigh, AlarmKind::HumLow,
                                   AlarmKind::HumHigh, AlarmKind::NoReply};

const std::optional<double> &limitOf(const AlarmLimits &limits, AlarmKind kind) {
    switch (kind) {
        case AlarmKind::TempLow:
            return limits.tempLow;
        case AlarmKind::TempHigh:
            return limits.tempHigh;
        case AlarmKind::HumLow:
            return limits.humLow;
        case AlarmKind::HumHigh:
        case AlarmKind::NoReply:
            break;
    }
    return limits.humHigh;
}
}  // namespace

QString alarmKindText(AlarmKind kind) {
    switch (kind) {
        case AlarmKind::TempLow:
            return QStringLiteral("温度过低");
        case AlarmKind::TempHigh:
            return QStringLiteral("温度过高");
        case AlarmKind::HumLow:
            return QStringLiteral("湿度过低");
        case AlarmKind::HumHigh:
            return QStringLiteral("湿度过高");
        case AlarmKind::NoReply:
            return QStringLiteral("无应答");
    }
    return {};
}

QString AlarmEvent::stateText() const {
    return started ? QStringLiteral("开始") : QStringLiteral("结束");
}

void AlarmMonitor::set(ModuleState &m, quint8 address, AlarmKind kind, bool on,
                       std::optional<double> value, const QString &time,
                       QList<AlarmEvent> *events) {
    std::optional<QString> &since = m.since[int(kind)];
    if (since.has_value() == on)
        return;
    if (on)
        since = time;
    else
        since.reset();
    events->append({address, kind, on, value, time});
}

void AlarmMonitor::endUnlimited(ModuleState &m, quint8 address, const QString &time,
                                QList<AlarmEvent> *events) {
    for (AlarmKind kind : kLimitKinds) {
        if (!limitOf(m.limits, kind))
            set(m, address, kind, false, std::nullopt, time, events);
    }
}

QList<AlarmEvent> AlarmMonitor::watch(const QList<WatchedModule> &modules, const QString &time) {
    QList<AlarmEvent> events;
    std::map<quint8, ModuleState> next;
    for (const WatchedModule &w : modules) {
        if (next.count(w.address))
            continue;
        ModuleState state;
        if (auto it = modules_.find(w.address); it != modules_.end()) {
            state = it->second;
            modules_.erase(it);
        }
        if (w.limits)
            state.limits = *w.limits;
        endUnlimited(state, w.address, time, &events);
        next.emplace(w.address, state);
    }
    // What is left is watched no more: its alarms end.
    for (auto &[address, state] : modules_) {
        for (AlarmKind kind : kAllKinds)
            set(state, address, kind, false, std::nullopt, time, &events);
    }
    modules_ = std::move(next);
    return events;
}

QList<AlarmEvent> AlarmMonitor::reading(quint8 address, double temperature, double humidity,
                                        const QString &time) {
    QList<AlarmEvent> events;
    auto it = modules_.find(address);
    if (it == modules_.end())
        return events;
    ModuleState &m = it->second;
    m.failures = 0;
    set(m, address, AlarmKind::NoReply, false, std::nullopt, time, &events);
    for (AlarmKind kind : kLimitKinds) {
        const bool temperatureKind = kind == AlarmKind::TempLow || kind == AlarmKind::TempHigh;
        const bool lower = kind == AlarmKind::TempLow || kind == AlarmKind::HumLow;
        const double value = temperatureKind ? temperature : humidity;
        const std::optional<double> &limit = limitOf(m.limits, kind);
        if (!limit) {
            set(m, address, kind, false, value, time, &events);
            continue;
        }
        // While the alarm is on, the value must come back inside by the
        // hysteresis to end it.
        const double back = m.since[int(kind)]
                                ? (temperatureKind ? kTemperatureHysteresis : kHumidityHysteresis)
                                : 0.0;
        const bool outside =
            lower ? value < *limit + back - kEpsilon : value > *limit - back + kEpsilon;
        set(m, address, kind, outside, value, time, &events);
    }
    return events;
}

QList<AlarmEvent> AlarmMonitor::noReply(quint8 address, const QString &time) {
    QList<AlarmEvent> events;
    auto it = modules_.find(address);
    if (it == modules_.end())
        return events;
    ModuleState &m = it->second;
    if (m.failures < kNoReplyPolls)
        ++m.failures;
    if (m.failures >= kNoReplyPolls)
        set(m, address, AlarmKind::NoReply, true, std::nullopt, time, &events);
    return events;
}

QList<AlarmEvent> AlarmMonitor::endAll(const QString &time) {
    QList<AlarmEvent> events;
    for (auto &[address, state] : modules_) {
        state.failures = 0;
        for (AlarmKind kind : kAllKinds)
            set(state, address, kind, false, std::nullopt, time, &events);
    }
    return events;
}

QList<AlarmMonitor::Active> AlarmMonitor::active() const {
    QList<Active> out;
    for (const auto &[address, state] : modules_) {
        for (AlarmKind kind : kAllKinds) {
            if (const auto &since = state.since[int(kind)])
                out.append({address, kind, *since});
        }
    }
    return out;
}

bool AlarmMonitor::isAlarmed(quint8 address) const {
    auto it = modules_.find(address);
    if (it == modules_.end())
        return false;
    for (const auto &since : it->second.since) {
        if (since)
            return true;
    }
    return false;
}

QList<quint8> AlarmMonitor::alarmedAddresses() const {
    QList<quint8> out;
    for (const auto &entry : modules_) {
        if (isAlarmed(entry.first))
            out.append(entry.first);
    }
    return out;
}

std::optional<AlarmLimits> AlarmMonitor::limits(quint8 address) const {
    auto it = modules_.find(address);
    if (it == modules_.end())
        return std::nullopt;
    return it->second.limits;
}

QString AlarmMonitor::activeText() const {
    QStringList parts;
    for (const Active &a : active()) {
        parts << QStringLiteral("模块") + QString::number(a.address) + QLatin1Char(' ') +
                     alarmKindText(a.kind) + QStringLiteral("（始于") + a.since +
                     QStringLiteral("）");
    }
    if (parts.isEmpty())
        return {};
    return QStringLiteral("正在报警：") + parts.join(QStringLiteral("；"));
}
