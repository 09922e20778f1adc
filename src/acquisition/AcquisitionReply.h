#pragma once

#include "bus/Frames.h"

#include <QString>

// What a receive text that reached the acquisition window is. Two kinds of
// reply mean something there: a reading (address 04 04 T T H H CRC CRC) for
// the polling cycle, and a model register (address 03 02 M M CRC CRC) for the
// bus search. A reply is believed only when its CRC checks.
enum class ReplyKind {
    Empty,         // nothing but blanks
    Incomplete,    // one or two bytes: too short to tell what it is
    Reading,       // a reading whose CRC checks
    BadReading,    // 04 04 but cut short, or its CRC does not check
    SearchAnswer,  // a model register whose CRC checks
    BadSearch,     // 03 02 but cut short, or its CRC does not check
    Other,         // anything else: exception replies, the echo of a write, noise
};

struct AcquisitionReply {
    ReplyKind kind = ReplyKind::Empty;
    quint8 address = 0;   // byte 0 of a Reading or SearchAnswer
    Measurement reading;  // of a Reading
    QString model;        // of a SearchAnswer: the two data bytes as four hex digits
};

// The first bytes of the text decide: a reply is 9 (reading) or 7 (model)
// bytes; bytes after those are not looked at.
AcquisitionReply analyseReply(const QString &receiveText);
