#include "acquisition/AcquisitionCycle.h"

#include "acquisition/ModuleList.h"
#include "store/ValueText.h"

#include <algorithm>

namespace {
const QString kDisabled = QStringLiteral("否");
const QString kEnabled = QStringLiteral("是");
}  // namespace

void RunTime::tick() {
    if (sec < 59) {
        ++sec;
        return;
    }
    if (min < 59) {
        sec = 0;
        ++min;
        return;
    }
    if (hour == std::numeric_limits<qint32>::max())
        return;
    sec = 0;
    min = 0;
    ++hour;
}

QString RunTime::text() const {
    return QString::number(hour) + QStringLiteral("小时") + QString::number(min) +
           QStringLiteral("分") + QString::number(sec) + QStringLiteral("秒");
}

void RecordSchedule::reset(const QList<int> &periods) {
    period_ = periods;
    countdown_ = periods;
}

QList<int> RecordSchedule::tick() {
    QList<int> due;
    for (int i = 0; i < period_.size(); ++i) {
        if (period_[i] <= 0)
            continue;
        if (countdown_[i] <= 0) {
            countdown_[i] = period_[i];
            due.append(i + 1);
        }
        --countdown_[i];
    }
    return due;
}

void RecordSchedule::retry(const QList<int> &positions) {
    for (int position : positions) {
        if (position >= 1 && position <= countdown_.size())
            countdown_[position - 1] = 0;
    }
}

void AcquisitionCycle::start() {
    gotReply = true;
    pollIndex = 1;
    pendingPosition_ = 0;
}

PollStep AcquisitionCycle::tick(ModuleListModel &list) {
    PollStep step;
    if (!gotReply && pendingPosition_ > 0) {
        // Marked only while the row still holds the module that was polled:
        // a list loaded anew meanwhile may have another module there.
        if (list.hasPosition(pendingPosition_) &&
            list.at(pendingPosition_).busAddress() == pendingAddress_)
            list.markFailed(pendingPosition_);
        step.failedPosition = pendingPosition_;
        countUp(failCount);
        pendingPosition_ = 0;
    }

    const int count = list.count();
    if (count == 0)
        return step;
    for (;;) {
        ++pollIndex;
        if (pollIndex > count || pollIndex < 1)
            pollIndex = 1;
        if (list.at(pollIndex).enabled != kDisabled)
            break;
        if (pollIndex == count)
            return step;
    }

    const ModuleRow &row = list.at(pollIndex);
    if (row.enabled != kEnabled)
        return step;
    const auto address = row.busAddress();
    if (!address)
        return step;
    step.position = pollIndex;
    step.address = *address;
    return step;
}

void AcquisitionCycle::requestSent(const PollStep &step) {
    if (!step.sends())
        return;
    gotReply = false;
    pendingPosition_ = step.position;
    pendingAddress_ = step.address;
}

bool AcquisitionCycle::takeReading(ModuleListModel &list, quint8 address, const Measurement &m,
                                   qint64 nowMs) {
    if (pendingPosition_ <= 0 || address != pendingAddress_)
        return false;
    if (!list.hasPosition(pendingPosition_) || list.at(pendingPosition_).busAddress() != address)
        return false;
    list.setReading(pendingPosition_, m, nowMs);
    countUp(okCount);
    gotReply = true;
    pendingPosition_ = 0;
    return true;
}

QList<DueRecord> AcquisitionCycle::secondTick(const ModuleListModel &list, qint64 nowMs,
                                              qint64 maxAgeMs) {
    runTime.tick();
    QList<DueRecord> records;
    const QList<int> due = schedule.tick();
    for (int position : due) {
        if (!list.hasPosition(position))
            continue;
        const ModuleRow &row = list.at(position);
        if (!row.fresh || nowMs - row.readAtMs > maxAgeMs)
            continue;
        records.append({position, row.address, row.temperature, row.humidity});
    }
    return records;
}

int AcquisitionCycle::ticksPerRound(const ModuleListModel &list) {
    int ticks = 0;
    for (int position = 1; position <= list.count(); ++position) {
        if (list.at(position).enabled != kDisabled)
            ++ticks;
    }
    if (ticks > 0 && list.at(list.count()).enabled == kDisabled)
        ++ticks;
    return ticks;
}

qint64 AcquisitionCycle::maxRecordAgeMs(const ModuleListModel &list, int periodMs) {
    return std::max(kMinRecordAgeMs, 2 * qint64(ticksPerRound(list)) * periodMs);
}

void AcquisitionCycle::resetCounters() {
    okCount = 0;
    failCount = 0;
}

QString AcquisitionCycle::counterText() const {
    return QStringLiteral("成功采集次数：") + QString::number(okCount) +
           QStringLiteral(" 失败次数：") + QString::number(failCount);
}

QString AcquisitionCycle::resetCounterText() {
    return QStringLiteral("采集成功次数：0 失败次数：0");
}

QString AcquisitionCycle::pollingText(const QString &address) {
    return QStringLiteral("现在采集模块：") + address;
}

std::optional<int> parsePeriodMs(const QString &text) {
    const auto v = parseRounded(text, 1, std::numeric_limits<int>::max());
    if (!v)
        return std::nullopt;
    return int(*v);
}
