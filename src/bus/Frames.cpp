#include "bus/Frames.h"

#include "bus/Crc.h"
#include "bus/HexText.h"

#include <QStringList>

QByteArray assembleFrame(QByteArrayView command) {
    QByteArray frame(command.data(), command.size());
    quint8 low = 0, high = 0;
    GetCrc16(command, low, high);
    frame.append(char(low));
    frame.append(char(high));
    return frame;
}

bool crcMatches(QByteArrayView frame) {
    if (frame.size() < 3)
        return false;
    quint8 low = 0, high = 0;
    GetCrc16(frame.first(frame.size() - 2), low, high);
    return quint8(frame[frame.size() - 2]) == low && quint8(frame[frame.size() - 1]) == high;
}

static QByteArray sixBytes(quint8 address, quint8 function, quint16 a, quint16 b) {
    const char body[6] = {char(address),  char(function), char(a >> 8),
                          char(a & 0xFF), char(b >> 8),   char(b & 0xFF)};
    return assembleFrame(QByteArrayView(body, 6));
}

QByteArray measurementRequest(quint8 address) {
    return sixBytes(address, modbus::kReadInput, modbus::kRegTemperature, 2);
}

QByteArray readRegisterRequest(quint8 address, quint16 reg) {
    return sixBytes(address, modbus::kReadHolding, reg, 1);
}

QByteArray writeRegisterRequest(quint8 address, quint16 reg, quint16 value) {
    return sixBytes(address, modbus::kWriteSingle, reg, value);
}

QString tenthsText(int raw) {
    const bool negative = raw < 0;
    const qint64 magnitude = negative ? -qint64(raw) : qint64(raw);
    QString out = QString::number(magnitude / 10);
    if (magnitude % 10)
        out += QLatin1Char('.') + QString::number(magnitude % 10);
    if (negative)
        out.prepend(QLatin1Char('-'));
    return out;
}

QString Measurement::temperatureText() const {
    return tenthsText(temperatureRaw);
}

QString Measurement::humidityText() const {
    return tenthsText(humidityRaw);
}

Measurement decodeMeasurement(QByteArrayView reply) {
    Measurement m;
    if (reply.size() < 7)
        return m;
    m.temperatureRaw = qint16(quint16(quint8(reply[3]) << 8 | quint8(reply[4])));
    m.humidityRaw = quint16(quint8(reply[5]) << 8 | quint8(reply[6]));
    return m;
}

QString replyMessage(ReplyVerdict verdict) {
    switch (verdict) {
        case ReplyVerdict::WrongAddress:
            return QStringLiteral("接收的包无法辩识，请检查通信线路！");
        case ReplyVerdict::WrongFunction:
            return QStringLiteral("模块无法识别上位机发的采集命令，请检查通信线路或发送软件！");
        case ReplyVerdict::Incomplete:
            return QStringLiteral("采集到的数据不完整，请检查通信线路！");
        case ReplyVerdict::BadCrc:
            return QStringLiteral("采集到的数据CRC错，请检查通信线路或发送软件！");
        case ReplyVerdict::Ok:
        case ReplyVerdict::NoVerdict:
            break;
    }
    return {};
}

QString ReplyCheck::message() const {
    return replyMessage(verdict);
}

ReplyCheck checkMeasurementReply(const QString &receiveText, int expectedAddress) {
    ReplyCheck result;
    const QStringList tokens = receiveFields(receiveText);
    if (tokenValue(tokens[0]) != expectedAddress) {
        result.verdict = ReplyVerdict::WrongAddress;
        return result;
    }
    if (tokens.size() < 2) {
        result.verdict = ReplyVerdict::NoVerdict;
        return result;
    }
    if (tokens[1] != QLatin1String("04")) {
        result.verdict = ReplyVerdict::WrongFunction;
        return result;
    }
    if (tokens.size() < modbus::kMeasurementReplyLength) {
        result.verdict = ReplyVerdict::Incomplete;
        return result;
    }
    QByteArray bytes;
    for (int i = 0; i < modbus::kMeasurementReplyLength; ++i) {
        const qint64 v = tokenValue(tokens[i]);
        if (v > 0xFF) {
            result.verdict = ReplyVerdict::BadCrc;
            return result;
        }
        bytes.append(char(v));
    }
    if (!crcMatches(bytes)) {
        result.verdict = ReplyVerdict::BadCrc;
        return result;
    }
    result.verdict = ReplyVerdict::Ok;
    result.bytes = bytes.left(7);
    return result;
}

ReplyCheck checkMeasurementFrame(QByteArrayView frame, int expectedAddress) {
    ReplyCheck result;
    if (frame.isEmpty() || quint8(frame[0]) != expectedAddress) {
        result.verdict = ReplyVerdict::WrongAddress;
        return result;
    }
    if (frame.size() < 2) {
        result.verdict = ReplyVerdict::NoVerdict;
        return result;
    }
    if (quint8(frame[1]) != modbus::kReadInput) {
        result.verdict = ReplyVerdict::WrongFunction;
        return result;
    }
    if (frame.size() < modbus::kMeasurementReplyLength) {
        result.verdict = ReplyVerdict::Incomplete;
        return result;
    }
    if (!crcMatches(frame.first(modbus::kMeasurementReplyLength))) {
        result.verdict = ReplyVerdict::BadCrc;
        return result;
    }
    result.verdict = ReplyVerdict::Ok;
    result.bytes = frame.first(7).toByteArray();
    return result;
}
