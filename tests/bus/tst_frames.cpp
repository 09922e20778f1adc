// Frames, CRC and the two text forms of a frame.
#include "bus/Crc.h"
#include "bus/Frames.h"
#include "bus/HexText.h"
#include "support/Hex.h"

#include <QTest>

class TestFrames : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void crcVectors_data() {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("low");
        QTest::addColumn<int>("high");
        QTest::newRow("empty") << QByteArray() << 0xFF << 0xFF;
        QTest::newRow("check value") << QByteArray("123456789") << 0x37 << 0x4B;
        QTest::newRow("read temperature") << hex("010400000001") << 0x31 << 0xCA;
        QTest::newRow("measurement request") << hex("010400000002") << 0x71 << 0xCB;
        QTest::newRow("read turnaround") << hex("0103000D0001") << 0x15 << 0xC9;
        QTest::newRow("reply") << hex("01040400FA0258") << 0xDB << 0x2F;
    }
    void crcVectors() {
        QFETCH(QByteArray, data);
        QFETCH(int, low);
        QFETCH(int, high);
        quint8 lo = 0, hi = 0;
        GetCrc16(data, lo, hi);
        QCOMPARE(int(lo), low);
        QCOMPARE(int(hi), high);
        QCOMPARE(assembleFrame(data), data + char(low) + char(high));
    }

    void requestsAndReceiveTexts() {
        QCOMPARE(measurementRequest(1), hex("01040000000271CB"));
        QCOMPARE(readRegisterRequest(1, 0x0D), hex("0103000D000115C9"));
        QCOMPARE(writeRegisterRequest(1, 0, 2), assembleFrame(hex("010600000002")));
        QVERIFY(crcMatches(hex("01040000000271CB")));
        QVERIFY(!crcMatches(hex("01040000000271CC")));
        QCOMPARE(receiveText(hex("0A10FF")), QStringLiteral(" 0A 10 FF"));
        QCOMPARE(receiveText(QByteArray()), QString());
        QCOMPARE(receiveFields(QStringLiteral(" 01 04 04")), (QStringList{"01", "04", "04"}));
        QCOMPARE(receiveTextBytes(QStringLiteral(" 01 04 FA")), hex("0104FA"));
    }

    void commandText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<int>("badToken");  // the first token above FF; -1: none
        QTest::addColumn<QString>("badText");
        QTest::newRow("preset") << "01 04 00 00 00 01" << hex("010400000001") << -1 << "";
        QTest::newRow("blanks around") << "  01 04 00 00 00 01 " << hex("010400000001") << -1 << "";
        QTest::newRow("double blank") << "01  04" << hex("010004") << -1 << "";
        QTest::newRow("placeholder") << QStringLiteral("01 06 00 00 00 xx(请将xx改为新的模块地址)")
                                     << hex("010600000000") << -1 << "";
        QTest::newRow("1G") << "1G" << hex("01") << -1 << "";
        QTest::newRow("0D lower") << "0d" << hex("0D") << -1 << "";
        QTest::newRow("leading zeros") << "0001" << hex("01") << -1 << "";
        QTest::newRow("empty") << "   " << QByteArray() << -1 << "";
        // Refused: no bytes at all, and where the fault is.
        QTest::newRow("100") << "01 04 100" << QByteArray() << 2 << "100";
        QTest::newRow("FFFF") << "FFFF 01" << QByteArray() << 0 << "FFFF";
        QTest::newRow("long") << "01 FFFFFFFFFFFFFFFFFFFF" << QByteArray() << 1
                              << "FFFFFFFFFFFFFFFFFFFF";
    }
    void commandText() {
        QFETCH(QString, text);
        QFETCH(QByteArray, expected);
        QFETCH(int, badToken);
        QFETCH(QString, badText);
        const QString before = text;
        const CommandBytes c = commandTextToBytes(text);
        QCOMPARE(text, before.trimmed());  // written back
        QCOMPARE(c.bytes, expected);
        QCOMPARE(c.badToken, badToken);
        QCOMPARE(c.badText, badText);
    }

    void replyCheck_data() {
        QTest::addColumn<QByteArray>("reply");  // to a request for module 1
        QTest::addColumn<int>("verdict");
        QTest::addColumn<QString>("message");
        QTest::newRow("good") << hex("01040400FA0258DB2F") << int(ReplyVerdict::Ok) << QString();
        QTest::newRow("last byte changed")
            << hex("01040400FA0258DB30") << int(ReplyVerdict::BadCrc)
            << QStringLiteral("采集到的数据CRC错，请检查通信线路或发送软件！");
        QTest::newRow("exception")
            << hex("018402C2C1") << int(ReplyVerdict::WrongFunction)
            << QStringLiteral("模块无法识别上位机发的采集命令，请检查通信线路或发送软件！");
        QTest::newRow("short") << hex("01040400FA") << int(ReplyVerdict::Incomplete)
                               << QStringLiteral("采集到的数据不完整，请检查通信线路！");
        QTest::newRow("other address")
            << hex("02040400FA0258DB2F") << int(ReplyVerdict::WrongAddress)
            << QStringLiteral("接收的包无法辩识，请检查通信线路！");
        QTest::newRow("one byte") << hex("01") << int(ReplyVerdict::NoVerdict) << QString();
        // Tokens after the ninth are ignored.
        QTest::newRow("trailing noise")
            << hex("01040400FA0258DB2F00") << int(ReplyVerdict::Ok) << QString();
    }
    void replyCheck() {
        QFETCH(QByteArray, reply);
        QFETCH(int, verdict);
        QFETCH(QString, message);
        const ReplyCheck text = checkMeasurementReply(receiveText(reply), 1);
        QCOMPARE(int(text.verdict), verdict);
        QCOMPARE(text.message(), message);
        const ReplyCheck raw = checkMeasurementFrame(reply, 1);
        QCOMPARE(int(raw.verdict), verdict);
        if (text.ok()) {
            QCOMPARE(text.bytes, reply.left(7));
            QCOMPARE(raw.bytes, reply.left(7));
        }
    }

    void measurementValues() {
        const ReplyCheck c = checkMeasurementReply(receiveText(hex("01040400FA0258DB2F")), 1);
        QCOMPARE(c.measurement().temperatureText(), QStringLiteral("25"));
        QCOMPARE(c.measurement().humidityText(), QStringLiteral("60"));
        // The shortest decimal text of tenths.
        for (const auto &[tenths, text] :
             {std::pair{253, "25.3"}, {250, "25"}, {5, "0.5"}, {-5, "-0.5"}, {0, "0"}})
            QCOMPARE(tenthsText(tenths), QString::fromLatin1(text));
        // Temperature is signed, humidity is not.
        const Measurement cold = decodeMeasurement(hex("010404FF9CFF9C"));
        QCOMPARE(cold.temperatureText(), QStringLiteral("-10"));
        QCOMPARE(cold.temperature(), -10.0);
        QCOMPARE(cold.humidityText(), QStringLiteral("6543.6"));
    }
};

QTEST_APPLESS_MAIN(TestFrames)
#include "tst_frames.moc"
