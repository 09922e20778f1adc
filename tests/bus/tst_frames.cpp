// Frames, CRC and the two text forms of a frame.
#include "bus/Crc.h"
#include "bus/Frames.h"
#include "bus/HexText.h"
#include "support/Hex.h"

#include <QTest>

class TestFrames : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void crc_data() {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("low");
        QTest::addColumn<int>("high");
        QTest::newRow("empty") << QByteArray() << 0xFF << 0xFF;
        QTest::newRow("check value") << QByteArray("123456789") << 0x37 << 0x4B;
        QTest::newRow("measurement request") << hex("010400000002") << 0x71 << 0xCB;
    }
    void crc() {
        QFETCH(QByteArray, data);
        QFETCH(int, low);
        QFETCH(int, high);
        quint8 lo = 0, hi = 0;
        GetCrc16(data, lo, hi);
        QCOMPARE(int(lo), low);
        QCOMPARE(int(hi), high);
        QCOMPARE(assembleFrame(data), data + char(low) + char(high));  // low byte first
    }

    void requestsAndReceiveTexts() {
        QCOMPARE(measurementRequest(1), hex("01040000000271CB"));
        QCOMPARE(readRegisterRequest(1, 0x0D), hex("0103000D000115C9"));
        QCOMPARE(writeRegisterRequest(1, 0, 2), assembleFrame(hex("010600000002")));
        QVERIFY(crcMatches(hex("01040000000271CB")));
        QVERIFY(!crcMatches(hex("01040000000271CC")));
        QCOMPARE(receiveText(hex("0A10FF")), QStringLiteral(" 0A 10 FF"));
        QCOMPARE(receiveFields(QStringLiteral(" 01 04 04")), (QStringList{"01", "04", "04"}));
        QCOMPARE(receiveTextBytes(QStringLiteral(" 01 04 FA")), hex("0104FA"));
    }

    // The bytes of a command text; for a refused one, the first token above FF and its text.
    void commandText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("badToken");
        QTest::addColumn<QString>("badText");
        const QByteArray none;
        QTest::newRow("plain") << "01 04 00 00 00 01" << hex("010400000001") << -1 << "";
        QTest::newRow("blanks around") << "  01 04 00 00 00 01 " << hex("010400000001") << -1 << "";
        QTest::newRow("empty token") << "01  04" << hex("010004") << -1 << "";
        QTest::newRow("placeholder") << QStringLiteral("01 06 00 00 00 xx(请将xx改为新的模块地址)")
                                     << hex("010600000000") << -1 << "";
        QTest::newRow("digit then junk") << "1G" << hex("01") << -1 << "";
        QTest::newRow("lower case") << "0d" << hex("0D") << -1 << "";
        QTest::newRow("four digits") << "0001" << hex("01") << -1 << "";
        QTest::newRow("blanks only") << "   " << none << -1 << "";
        QTest::newRow("above FF") << "01 04 100" << none << 2 << "100";
        QTest::newRow("first above FF") << "FFFF 01" << none << 0 << "FFFF";
        QTest::newRow("overflow") << "01 FFFFFFFFFFFFFFFFFFFF" << none << 1
                                  << "FFFFFFFFFFFFFFFFFFFF";
    }
    void commandText() {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        QFETCH(int, badToken);
        QFETCH(QString, badText);
        QString box = text;
        const CommandBytes c = commandTextToBytes(box);
        QCOMPARE(box, text.trimmed());  // written back
        QCOMPARE(c.bytes, bytes);
        QCOMPARE(c.badToken, badToken);
        QCOMPARE(c.badText, badText);
    }

    // Replies to a request for module 1, as receive text and as raw bytes.
    void replyCheck_data() {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<ReplyVerdict>("verdict");
        QTest::addColumn<QString>("message");
        using V = ReplyVerdict;
        QTest::newRow("ok") << hex("01040400FA0258DB2F") << V::Ok << "";
        QTest::newRow("bad CRC") << hex("01040400FA0258DB30") << V::BadCrc
                                 << QStringLiteral("采集到的数据CRC错，请检查通信线路或发送软件！");
        QTest::newRow("exception")
            << hex("018402C2C1") << V::WrongFunction
            << QStringLiteral("模块无法识别上位机发的采集命令，请检查通信线路或发送软件！");
        QTest::newRow("short") << hex("01040400FA") << V::Incomplete
                               << QStringLiteral("采集到的数据不完整，请检查通信线路！");
        QTest::newRow("other module") << hex("02040400FA0258DB2F") << V::WrongAddress
                                      << QStringLiteral("接收的包无法辩识，请检查通信线路！");
        QTest::newRow("lone byte") << hex("01") << V::NoVerdict << "";
        QTest::newRow("bytes after the ninth") << hex("01040400FA0258DB2F00") << V::Ok << "";
    }
    void replyCheck() {
        QFETCH(QByteArray, reply);
        QFETCH(ReplyVerdict, verdict);
        QFETCH(QString, message);
        const ReplyCheck text = checkMeasurementReply(receiveText(reply), 1);
        QCOMPARE(text.verdict, verdict);
        QCOMPARE(text.message(), message);
        const ReplyCheck raw = checkMeasurementFrame(reply, 1);
        QCOMPARE(raw.verdict, verdict);
        if (text.ok()) {
            QCOMPARE(text.bytes, reply.left(7));
            QCOMPARE(raw.bytes, reply.left(7));
        }
    }

    // The shortest decimal text of tenths.
    void tenths_data() {
        QTest::addColumn<int>("tenths");
        QTest::addColumn<QString>("text");
        for (const auto &[tenths, text] :
             {std::pair{253, "25.3"}, {250, "25"}, {5, "0.5"}, {-5, "-0.5"}, {0, "0"}})
            QTest::addRow("%d", tenths) << tenths << text;
    }
    void tenths() {
        QFETCH(int, tenths);
        QTEST(tenthsText(tenths), "text");
    }

    void measurementValues() {
        const ReplyCheck c = checkMeasurementReply(receiveText(hex("01040400FA0258DB2F")), 1);
        QCOMPARE(c.measurement().temperatureText(), QStringLiteral("25"));
        QCOMPARE(c.measurement().humidityText(), QStringLiteral("60"));
        // Temperature is signed, humidity is not.
        const Measurement cold = decodeMeasurement(hex("010404FF9CFF9C"));
        QCOMPARE(cold.temperatureText(), QStringLiteral("-10"));
        QCOMPARE(cold.humidityText(), QStringLiteral("6543.6"));
    }
};

QTEST_APPLESS_MAIN(TestFrames)
#include "tst_frames.moc"
