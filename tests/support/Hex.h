#pragma once

#include "bus/Frames.h"

#include <QByteArray>

// Bytes written as hex digits ("0104..."), and the same bytes with their CRC
// appended, as a module sends them.
inline QByteArray hex(const char *digits) {
    return QByteArray::fromHex(digits);
}
inline QByteArray framed(const char *digits) {
    return assembleFrame(hex(digits));
}
