#pragma once

#include <QByteArrayView>
#include <QtGlobal>

// CRC-16/MODBUS: register starts at 0xFFFF, reflected polynomial 0xA001, no
// final XOR. The low byte goes first on the wire.
quint16 crc16Modbus(QByteArrayView data);

// The CRC of the whole array, split into its low and high byte.
void GetCrc16(QByteArrayView data, quint8 &low, quint8 &high);
