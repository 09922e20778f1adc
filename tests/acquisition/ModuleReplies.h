#pragma once

#include "bus/Frames.h"

#include <QByteArray>

// Replies as a QX-7 module sends them, CRC included.

// address 04 04 T T H H: a reading (registers in tenths; temperature signed).
inline QByteArray readingFrame(quint8 address, quint16 temperature, quint16 humidity) {
    QByteArray body;
    body.append(char(address)).append(char(modbus::kReadInput)).append(char(4));
    body.append(char(temperature >> 8)).append(char(temperature & 0xFF));
    body.append(char(humidity >> 8)).append(char(humidity & 0xFF));
    return assembleFrame(body);
}

// address 03 02 M M: the model register, the answer to a search probe.
inline QByteArray modelFrame(quint8 address, quint16 model) {
    QByteArray body;
    body.append(char(address)).append(char(modbus::kReadHolding)).append(char(2));
    body.append(char(model >> 8)).append(char(model & 0xFF));
    return assembleFrame(body);
}
