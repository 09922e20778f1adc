#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The two text forms of a frame.
//
// Command text: what the operator types, one hex token per byte separated by
// single blanks, without CRC ("01 04 00 00 00 01"). A token's value is the
// run of hex digits at its start (none gives 0), so placeholders such as
// "xx(请将xx改为新的模块地址)" count as 00 and "1G" as 01.
//
// Receive text: a received frame as handed to a window, each byte as one blank
// and two upper-case hex digits (" 01 04 04 00 FA ...").

// Value of a token by the leading-hex-digits rule. Values that do not fit a
// byte come back as they are (saturated at 0x7FFFFFFF) so callers can refuse them.
qint64 tokenValue(QStringView token);

struct CommandBytes {
    QByteArray bytes;
    int badToken = -1;  // index of the first token above FF, or -1
    QString badText;    // that token's text
    bool ok() const { return badToken < 0; }
    bool isEmpty() const { return ok() && bytes.isEmpty(); }
};

// Trims `text` in place (the box shows the trimmed text afterwards) and
// converts it. An empty text gives zero bytes; two blanks in a row give a 00
// byte for the empty token between them.
CommandBytes commandTextToBytes(QString &text);

// Two upper-case hex digits.
QString hexByte(quint8 value);

// " 01 04 ..." for the given bytes.
QString receiveText(QByteArrayView bytes);

// The fields of a receive text: trimmed and split at single blanks.
QStringList receiveFields(const QString &text);

// Bytes of a receive text, field by field by the token rule. Empty on a field
// above FF.
QByteArray receiveTextBytes(const QString &text);
