#pragma once

#include "bus/Frames.h"

#include <QList>
#include <QString>

#include <limits>
#include <optional>

class ModuleListModel;

// Counters of the acquisition stop at their largest value instead of
// wrapping into negative numbers after a long run.
inline void countUp(qint32 &counter) {
    if (counter < std::numeric_limits<qint32>::max())
        ++counter;
}

// The accumulated acquisition time shown as "1小时5分3秒".
struct RunTime {
    qint32 hour = 0;
    int min = 0;
    int sec = 0;

    // One second more. At the largest hour count the clock stands still.
    void tick();
    QString text() const;
};

// When each module's next record is due. Position i (1-based) belongs to the
// i-th list row; a period of 0 means never. After a reset every countdown
// starts at its full period, so with period p the first record falls on the
// (p+1)-th tick and the next ones p ticks apart.
class RecordSchedule {
public:
    void reset(const QList<int> &periods);
    // One second: the positions whose period ran out in it.
    QList<int> tick();
    // These positions are due again at the next tick (their record could not
    // be stored).
    void retry(const QList<int> &positions);

    int size() const { return int(period_.size()); }
    int period(int position) const { return period_.value(position - 1); }
    int countdown(int position) const { return countdown_.value(position - 1); }

private:
    QList<int> period_;
    QList<int> countdown_;
};

// One record that the schedule wants stored now.
struct DueRecord {
    int position = 0;
    QString address;
    QString temperature;
    QString humidity;
};

// What one poll tick decided.
struct PollStep {
    int failedPosition = 0;  // the unanswered poll marked as failed in this tick, or 0
    int position = 0;        // the list position to poll now, or 0: send nothing
    quint8 address = 0;      // its bus address

    bool sends() const { return position > 0; }
};

// The polling engine of the acquisition window without its widgets: which
// module to poll next, what an unanswered poll marks, which replies are
// believed, the counters, the run time and the record schedule.
//
// The fields keep their values for the whole run of the program (the window
// keeps one cycle in its state); only the list load resets the schedule and
// only the counter reset clears the counters.
class AcquisitionCycle {
public:
    // The list position polled last (1-based).
    int pollIndex = 0;
    // A valid reading arrived for the poll sent last.
    bool gotReply = false;
    qint32 okCount = 0;
    qint32 failCount = 0;
    RunTime runTime;
    RecordSchedule schedule;

    // 采集 pressed: the next tick starts after position 1.
    void start();

    // One tick of the poll timer. An unanswered poll is marked on its row
    // (both cells "0") and counted once. Then the next module is found: the
    // position after the one polled last, wrapping to 1, skipping modules
    // whose 启用 cell reads "否". A tick that reaches the last position while
    // skipping sends nothing and leaves gotReply as it is. A row whose 启用
    // is not "是" or whose address is not 0 to 255 is not polled either.
    PollStep tick(ModuleListModel &list);
    // The request of `step` went out: a reply is awaited from it.
    void requestSent(const PollStep &step);
    // The list position whose reply is awaited, or 0.
    int pendingPosition() const { return pendingPosition_; }
    // The bus address of that poll.
    quint8 pendingAddress() const { return pendingAddress_; }

    // A checked reading from bus address `address`. It is believed only when
    // it answers the poll outstanding, from the address polled, and the row
    // polled still holds that module. Then the row shows it, it counts as a
    // success and no further reply is taken for that poll.
    // `nowMs` is the time on the acquisition's steady clock.
    bool takeReading(ModuleListModel &list, quint8 address, const Measurement &m, qint64 nowMs = 0);

    // One tick of the one-second clock: the run time goes on, and the records
    // falling due are returned. A row is recorded only when it holds a reading
    // from its module taken no more than `maxAgeMs` before `nowMs`; otherwise
    // its countdown simply starts again.
    QList<DueRecord> secondTick(const ModuleListModel &list, qint64 nowMs, qint64 maxAgeMs);

    // How many poll ticks one round over the list takes: one per module that
    // is not disabled, and one more when the last module is disabled (the
    // tick that reaches the end while skipping sends nothing).
    static int ticksPerRound(const ModuleListModel &list);
    // The oldest a reading may be when it is recorded: two full rounds of
    // polls at `periodMs`, and never less than kMinRecordAgeMs.
    static constexpr qint64 kMinRecordAgeMs = 5000;
    static qint64 maxRecordAgeMs(const ModuleListModel &list, int periodMs);

    // 计数清零.
    void resetCounters();

    // "成功采集次数：N 失败次数：M" (shown at every poll).
    QString counterText() const;
    // "采集成功次数：0 失败次数：0" (shown by the reset: the words in another order).
    static QString resetCounterText();
    // "现在采集模块：" followed by the row text.
    static QString pollingText(const QString &address);

private:
    int pendingPosition_ = 0;
    quint8 pendingAddress_ = 0;
};

// A poll or search period typed into its box: a number of milliseconds
// rounded to a whole one (halves to even), from 1 up, blanks around it allowed.
std::optional<int> parsePeriodMs(const QString &text);
