#pragma once

#include <QDateTime>

// The program's two clocks. The wall clock gives record and alarm times and
// the names of backup files; the steady clock measures ages, periods and
// pauses, and never jumps when the machine's time is set. Whatever decides by
// time takes a Clock; tests hand it one they move by hand.
class Clock {
public:
    virtual ~Clock() = default;
    // The present instant (local time zone; convert as needed).
    virtual QDateTime now() const;
    // Milliseconds on a monotonic clock with an arbitrary start.
    virtual qint64 steadyMs() const;

    // The machine's clocks.
    static const Clock &system();
};
