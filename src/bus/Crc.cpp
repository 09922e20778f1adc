#include "bus/Crc.h"

quint16 crc16Modbus(QByteArrayView data) {
    quint16 reg = 0xFFFF;
    for (char c : data) {
        reg ^= quint8(c);
        for (int bit = 0; bit < 8; ++bit)
            reg = (reg & 1) ? quint16((reg >> 1) ^ 0xA001) : quint16(reg >> 1);
    }
    return reg;
}

void GetCrc16(QByteArrayView data, quint8 &low, quint8 &high) {
    const quint16 crc = crc16Modbus(data);
    low = quint8(crc & 0xFF);
    high = quint8(crc >> 8);
}
