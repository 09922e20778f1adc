#pragma once

#include <QByteArray>
#include <QString>

// The simulator's own Modbus RTU helpers: the CRC, the function codes and
// registers of a QX-7 module, and the hex text of its log. They are written
// apart from the program's frame code on purpose: were both sides of every
// end-to-end test to share one frame routine, a fault in it would be made by
// both and noticed by neither.
namespace simframe {
inline constexpr quint8 kReadHolding = 0x03;
inline constexpr quint8 kReadInput = 0x04;
inline constexpr quint8 kWriteSingle = 0x06;

// Holding registers (functions 03 and 06).
inline constexpr quint16 kRegAddress = 0x0000;
inline constexpr quint16 kRegSpeed = 0x0001;
inline constexpr quint16 kRegModel = 0x0002;
inline constexpr quint16 kRegTurnaround = 0x000D;
// Input registers (function 04).
inline constexpr quint16 kRegTemperature = 0x0000;
inline constexpr quint16 kRegHumidity = 0x0001;

// CRC-16/MODBUS of the bytes (start 0xFFFF, reflected polynomial 0xA001).
quint16 crc(QByteArrayView bytes);
// The body followed by its CRC, low byte first, as it goes on the line.
QByteArray sealed(QByteArrayView body);
// True when the frame ends with the CRC of the bytes before it.
bool sealOk(QByteArrayView frame);

// Bytes as upper-case hex pairs separated by blanks: "01 04 00".
QString hex(QByteArrayView bytes);
// A value in tenths as a decimal text: 253 -> "25.3", -100 -> "-10".
QString tenths(int raw);
}  // namespace simframe
