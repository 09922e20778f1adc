#pragma once

#include "bus/Frames.h"

#include <QString>

#include <optional>

namespace console {

// The highest and lowest temperature and humidity seen on one link, compared
// as numbers (in tenths), kept for the whole run of the program.
class Extremes {
public:
    void add(const Measurement &m);
    void reset() { *this = Extremes(); }

    // The texts the boxes show; empty before the first reading.
    QString tmax() const;
    QString tmin() const;
    QString hmax() const;
    QString hmin() const;

private:
    bool started_ = false;
    int tmax_ = 0;
    int tmin_ = 0;
    int hmax_ = 0;
    int hmin_ = 0;
};

// rcvmode: which kind of serial reply the console waits for.
enum class ReplyMode : quint8 {
    Command = 0,  // a command sent with 发送: logged raw
    Poll = 1,     // an automatic poll: checked and decoded
};

// The state of the console that outlives its window: it starts with the
// program and survives closing and reopening the console. Counters and the
// log are not here; they restart with the window.
struct ConsoleState {
    ReplyMode rcvmode = ReplyMode::Command;
    Extremes serial;
    Extremes network;
};

// What one serial reply does to the console.
struct SerialReplyOutcome {
    enum class Count { None, Success, Failure };

    QString logLine;  // appended to the log when not empty
    Count count = Count::None;
    // To show, on a good poll reply; when its humidity is not showable only
    // the temperature is shown and nothing enters the extremes.
    std::optional<Measurement> measurement;
    bool keepText = false;  // a failed check: rcv232 keeps the reply text
};

// Decides what a receive text means for the console. `polling` is whether
// automatic acquisition is on now; `expectedAddress` the module polled.
// A command reply is logged as received; a poll reply is checked (address,
// function, length, CRC): a good one is logged and shown, a bad one logs the
// check's message and counts a failure. Poll replies that arrive after the
// polling stopped, and a lone byte from the module, change nothing.
SerialReplyOutcome decideSerialReply(const QString &text, ReplyMode mode, bool polling,
                                     int expectedAddress);

}  // namespace console
