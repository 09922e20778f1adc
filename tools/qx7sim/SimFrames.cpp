#include "SimFrames.h"

#include <array>

namespace simframe {
namespace {
// One entry per value of the low byte: what eight shifts of it give.
constexpr std::array<quint16, 256> kTable = [] {
    std::array<quint16, 256> table{};
    for (unsigned n = 0; n < 256; ++n) {
        unsigned v = n;
        for (int k = 0; k < 8; ++k) v = (v >> 1) ^ ((v & 1u) ? 0xA001u : 0u);
        table[n] = quint16(v);
    }
    return table;
}();
}  // namespace

quint16 crc(QByteArrayView bytes) {
    quint16 value = 0xFFFF;
    for (char c : bytes) value = quint16((value >> 8) ^ kTable[(value ^ quint8(c)) & 0xFF]);
    return value;
}

QByteArray sealed(QByteArrayView body) {
    const quint16 value = crc(body);
    QByteArray out = body.toByteArray();
    out.append(char(value & 0xFF));
    out.append(char(value >> 8));
    return out;
}

bool sealOk(QByteArrayView frame) {
    if (frame.size() < 3)
        return false;
    const quint16 value = crc(frame.first(frame.size() - 2));
    return quint8(frame[frame.size() - 2]) == (value & 0xFF) &&
           quint8(frame[frame.size() - 1]) == (value >> 8);
}

QString hex(QByteArrayView bytes) {
    return QString::fromLatin1(bytes.toByteArray().toHex(' ').toUpper());
}

QString tenths(int raw) {
    return QString::number(raw / 10.0, 'g', 12);
}
}  // namespace simframe
