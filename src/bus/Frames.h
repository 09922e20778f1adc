#pragma once

#include <QByteArray>
#include <QString>

// Modbus RTU frames of the QX-7 modules: address, function, body, CRC low,
// CRC high. 16-bit fields in the body are big-endian.

namespace modbus {
inline constexpr quint8 kReadHolding = 0x03;
inline constexpr quint8 kReadInput = 0x04;
inline constexpr quint8 kWriteSingle = 0x06;

// Holding registers (functions 03 and 06).
inline constexpr quint16 kRegAddress = 0x0000;
inline constexpr quint16 kRegSpeed = 0x0001;
inline constexpr quint16 kRegModel = 0x0002;
inline constexpr quint16 kRegTurnaround = 0x000D;
// Input registers (function 04): temperature at 0, humidity at 1.
inline constexpr quint16 kRegTemperature = 0x0000;
inline constexpr quint16 kRegHumidity = 0x0001;

inline constexpr int kMeasurementReplyLength = 9;
inline constexpr int kRegisterReplyLength = 7;
}  // namespace modbus

// The command bytes followed by their CRC, low byte first.
QByteArray assembleFrame(QByteArrayView command);

// True when the last two bytes are the CRC of the bytes before them.
bool crcMatches(QByteArrayView frame);

// address 04 00 00 00 02 + CRC: temperature and humidity in one exchange.
QByteArray measurementRequest(quint8 address);
// address 03 reg 00 01 + CRC: read one holding register.
QByteArray readRegisterRequest(quint8 address, quint16 reg);
// address 06 reg value + CRC: write one holding register.
QByteArray writeRegisterRequest(quint8 address, quint16 reg, quint16 value);

// A measurement, in tenths of a degree Celsius and of a percent. The
// temperature register is signed (0xFF9C is -10.0 °C), humidity is not.
struct Measurement {
    qint16 temperatureRaw = 0;
    quint16 humidityRaw = 0;

    double temperature() const { return temperatureRaw / 10.0; }
    double humidity() const { return humidityRaw / 10.0; }
    // A humidity register of 0x8000 or more holds no humidity the console
    // can show.
    bool humidityShowable() const { return humidityRaw < 0x8000; }
    QString temperatureText() const;
    QString humidityText() const;
};

// Reads bytes 3 to 6 of a measurement reply (address, 04, 04, T hi, T lo, H hi, H lo, ...).
// The reply must hold at least 7 bytes.
Measurement decodeMeasurement(QByteArrayView reply);

// A value in tenths as its shortest decimal text: 253 -> "25.3", 250 -> "25",
// 5 -> "0.5", -100 -> "-10".
QString tenthsText(int raw);

// The four-step check of a measurement reply, in this order: address, function
// code, length, CRC. The first failure decides.
enum class ReplyVerdict {
    Ok,
    WrongAddress,   // 接收的包无法辩识
    NoVerdict,      // a single byte from the expected address: nothing to say
    WrongFunction,  // 模块无法识别上位机发的采集命令 (exception replies too)
    Incomplete,     // fewer than 9 bytes
    BadCrc,
};

struct ReplyCheck {
    ReplyVerdict verdict = ReplyVerdict::NoVerdict;
    QByteArray bytes;  // on Ok: the 7 leading bytes of the reply

    bool ok() const { return verdict == ReplyVerdict::Ok; }
    bool failed() const {
        return verdict != ReplyVerdict::Ok && verdict != ReplyVerdict::NoVerdict;
    }
    // The operator's message for a failure; empty for Ok and NoVerdict.
    QString message() const;
    Measurement measurement() const { return decodeMeasurement(bytes); }
};

QString replyMessage(ReplyVerdict verdict);

// Checks a receive text (" 01 04 04 ..."). The function code is compared as
// text ("04"), the other tokens are converted by the token rule.
ReplyCheck checkMeasurementReply(const QString &receiveText, int expectedAddress);

// The same check on raw bytes, for links that do not go through receive text.
ReplyCheck checkMeasurementFrame(QByteArrayView frame, int expectedAddress);
