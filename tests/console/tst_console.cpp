// The console's decisions without the window: commands and CRC, the address
// and counter boxes, serial reply handling, extremes, the reassembly of TCP
// replies and the converter link against a local server.
#include "bus/Frames.h"
#include "bus/HexText.h"
#include "console/ConsoleCommands.h"
#include "console/ConsoleReplies.h"
#include "console/ConverterLink.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

using namespace console;

Q_DECLARE_METATYPE(console::SerialReplyOutcome::Count)

namespace {
QByteArray hex(const char *text) { return QByteArray::fromHex(text); }
// A reply with its CRC appended.
QByteArray framed(const char *text) { return assembleFrame(hex(text)); }
QString rx(const QByteArray &bytes) { return receiveText(bytes); }
Measurement reading(int t, int h)
{
    Measurement m;
    m.temperatureRaw = qint16(t);
    m.humidityRaw = quint16(h);
    return m;
}
}  // namespace

class TestConsole : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void presets()
    {
        const QStringList names = presetNames();
        QCOMPARE(names.size(), 10);
        QCOMPARE(names.first(), QStringLiteral("采集温度"));
        QCOMPARE(names.last(), QStringLiteral("设置485收发间隔"));
        QCOMPARE(presetCommand(0), QStringLiteral("01 04 00 00 00 01"));
        QCOMPARE(presetCommand(3), QStringLiteral("01 06 00 00 00 xx(请将xx改为新的模块地址)"));
        QCOMPARE(presetCommand(9), QStringLiteral("01 06 00 0D xx xx(请将xx改为新的485间隔)"));
        QVERIFY(!presetCommand(-1));
        QVERIFY(!presetCommand(10));
        // Every preset converts to bytes addressed to module 1.
        for (int i = 0; i < 10; ++i) {
            QString text = *presetCommand(i);
            const CommandResult r = convertCommand(text);
            QVERIFY2(r.ok() && r.bytes.size() == 6 && r.bytes[0] == 1, qPrintable(text));
        }
    }

    void commands_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("trimmed");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("crc");
        QTest::addColumn<QString>("errorPart");
        QTest::newRow("default") << "01 04 00 00 00 01" << "01 04 00 00 00 01" << hex("010400000001") << "31 CA"
                                 << "";
        QTest::newRow("trailing blank") << "01 04 00 00 00 01 " << "01 04 00 00 00 01" << hex("010400000001")
                                        << "31 CA" << "";
        QTest::newRow("placeholder") << *presetCommand(3) << *presetCommand(3) << hex("010600000000") << ""
                                     << "";
        QTest::newRow("turnaround") << "01 03 00 0D 00 01" << "01 03 00 0D 00 01" << hex("0103000D0001")
                                    << "15 C9" << "";
        QTest::newRow("token above FF") << "01 100 00" << "01 100 00" << QByteArray() << "" << "“100”超过FF";
        QTest::newRow("FFFF") << " FFFF" << "FFFF" << QByteArray() << "" << "“FFFF”超过FF";
        QTest::newRow("empty") << "" << "" << QByteArray() << "" << "请先输入命令";
        QTest::newRow("blanks") << "   " << "" << QByteArray() << "" << "请先输入命令";
    }
    void commands()
    {
        QFETCH(QString, text);
        QFETCH(QString, trimmed);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, crc);
        QFETCH(QString, errorPart);
        const CommandResult r = convertCommand(text);
        QCOMPARE(text, trimmed);
        QCOMPARE(r.bytes, bytes);
        if (errorPart.isEmpty()) {
            QVERIFY(r.ok());
            if (!crc.isEmpty()) {
                const CrcTexts t = crcTexts(r.bytes);
                QCOMPARE(t.low + QLatin1Char(' ') + t.high, crc);
            }
        } else {
            QVERIFY(!r.ok());
            QVERIFY2(r.error.contains(errorPart), qPrintable(r.error));
        }
    }

    void crcTextKeepsLeadingZero()
    {
        const CrcTexts t = crcTexts(hex("010300000003"));
        QCOMPARE(t.low, QStringLiteral("05"));
        QCOMPARE(t.high, QStringLiteral("CB"));
    }

    void addressAndCounters()
    {
        QCOMPARE(moduleAddress(QStringLiteral("10")), std::optional<quint8>(10));
        QCOMPARE(moduleAddress(QStringLiteral(" 7 ")), std::optional<quint8>(7));
        QCOMPARE(moduleAddress(QStringLiteral("0")), std::optional<quint8>(0));
        QCOMPARE(moduleAddress(QStringLiteral("255")), std::optional<quint8>(255));
        for (const char *bad : {"256", "-1", "1.5", "abc", "", "0x10", "1 2"})
            QVERIFY2(!moduleAddress(QString::fromLatin1(bad)), bad);

        QCOMPARE(increasedCount(QStringLiteral("0")), QStringLiteral("1"));
        QCOMPARE(increasedCount(QStringLiteral("99")), QStringLiteral("100"));
        QVERIFY(!increasedCount(QStringLiteral("abc")));
        QVERIFY(!increasedCount(QString()));
    }

    void extremesCompareNumbers()
    {
        Extremes e;
        QVERIFY(!e.started());
        QCOMPARE(e.tmax(), QString());
        e.add(reading(98, 500));
        QCOMPARE(e.tmax(), QStringLiteral("9.8"));
        QCOMPARE(e.tmin(), QStringLiteral("9.8"));
        e.add(reading(102, 495));
        QCOMPARE(e.tmax(), QStringLiteral("10.2"));
        QCOMPARE(e.tmin(), QStringLiteral("9.8"));
        QCOMPARE(e.hmax(), QStringLiteral("50"));
        QCOMPARE(e.hmin(), QStringLiteral("49.5"));
        e.add(reading(-100, 1000));
        QCOMPARE(e.tmin(), QStringLiteral("-10"));
        QCOMPARE(e.tmax(), QStringLiteral("10.2"));
        QCOMPARE(e.hmax(), QStringLiteral("100"));
        e.reset();
        QVERIFY(!e.started());
    }

    void serialReplies_data()
    {
        using C = SerialReplyOutcome::Count;
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("polling");
        QTest::addColumn<QString>("log");
        QTest::addColumn<C>("count");
        QTest::addColumn<QString>("shown");  // "T H" or empty
        const QString good = rx(hex("01040400FA0258DB2F"));
        QTest::newRow("command reply logged raw") << rx(hex("01030200017984")) << 0 << false
                                                  << " 01 03 02 00 01 79 84" << C::None << "";
        QTest::newRow("command reply while polling") << good << 0 << true << good << C::None << "";
        QTest::newRow("good poll reply") << good << 1 << true << good << C::Success << "25 60";
        QTest::newRow("after polling stopped") << good << 1 << false << "" << C::None << "";
        QTest::newRow("blank") << " " << 1 << true << "" << C::None << "";
        QTest::newRow("negative temperature") << rx(framed("010404FF9C01F4")) << 1 << true
                                              << rx(framed("010404FF9C01F4")) << C::Success << "-10 50";
        QTest::newRow("high humidity stays unsigned") << rx(framed("01040400FA8000")) << 1 << true
                                                      << rx(framed("01040400FA8000")) << C::Success
                                                      << "25 3276.8";
        QTest::newRow("other address") << rx(framed("02040400FA0258")) << 1 << true
                                       << replyMessage(ReplyVerdict::WrongAddress) << C::Failure << "";
        QTest::newRow("exception") << rx(hex("018402C2C1")) << 1 << true
                                   << replyMessage(ReplyVerdict::WrongFunction) << C::Failure << "";
        QTest::newRow("incomplete") << rx(hex("01040400FA")) << 1 << true
                                    << replyMessage(ReplyVerdict::Incomplete) << C::Failure << "";
        QTest::newRow("bad crc") << rx(hex("01040400FA0258DB2E")) << 1 << true
                                 << replyMessage(ReplyVerdict::BadCrc) << C::Failure << "";
        QTest::newRow("lone byte from the module") << rx(hex("01")) << 1 << true << "" << C::None << "";
    }
    void serialReplies()
    {
        QFETCH(QString, text);
        QFETCH(int, mode);
        QFETCH(bool, polling);
        QFETCH(QString, log);
        QFETCH(SerialReplyOutcome::Count, count);
        QFETCH(QString, shown);
        const SerialReplyOutcome out = decideSerialReply(text, ReplyMode(mode), polling, 1);
        QCOMPARE(out.logLine, log);
        QCOMPARE(out.count, count);
        QCOMPARE(out.keepText, count == SerialReplyOutcome::Count::Failure);
        QCOMPARE(bool(out.measurement), !shown.isEmpty());
        if (out.measurement)
            QCOMPARE(out.measurement->temperatureText() + QLatin1Char(' ') + out.measurement->humidityText(), shown);
    }

    void reassembly_data()
    {
        QTest::addColumn<QByteArrayList>("pieces");
        QTest::addColumn<QByteArrayList>("replies");
        QTest::addColumn<bool>("badCrc");
        const QByteArray good = hex("01040400FA0258DB2F");
        const QByteArray second = framed("010404006201F4");
        QTest::newRow("whole") << QByteArrayList{good} << QByteArrayList{good} << false;
        QTest::newRow("two pieces") << QByteArrayList{good.left(4), good.mid(4)} << QByteArrayList{good} << false;
        QByteArrayList bytewise;
        for (char c : good)
            bytewise << QByteArray(1, c);
        QTest::newRow("byte by byte") << bytewise << QByteArrayList{good} << false;
        QTest::newRow("two in one piece") << QByteArrayList{good + second} << QByteArrayList{good, second} << false;
        QTest::newRow("split across pieces") << QByteArrayList{good + second.left(2), second.mid(2)}
                                             << QByteArrayList{good, second} << false;
        QTest::newRow("noise first") << QByteArrayList{hex("000001") + good} << QByteArrayList{good} << false;
        QTest::newRow("corrupt") << QByteArrayList{hex("01040400FA0258DB2E")} << QByteArrayList{} << true;
        QTest::newRow("exception") << QByteArrayList{hex("018402C2C1")} << QByteArrayList{hex("018402C2C1")}
                                   << false;
        QTest::newRow("register reply") << QByteArrayList{hex("01030200017984")} << QByteArrayList{} << false;
        QTest::newRow("stale half then whole") << QByteArrayList{good.left(5), good}
                                               << QByteArrayList{good} << true;
        QTest::newRow("corrupt then good") << QByteArrayList{hex("01040400FA0258DB2E"), good}
                                           << QByteArrayList{good} << true;
    }
    void reassembly()
    {
        QFETCH(QByteArrayList, pieces);
        QFETCH(QByteArrayList, replies);
        QFETCH(bool, badCrc);
        ReplyAssembler assembler;
        QByteArrayList got;
        bool sawBadCrc = false;
        for (const QByteArray &piece : pieces) {
            const ReplyAssembler::Result r = assembler.add(piece);
            got += r.replies;
            sawBadCrc = sawBadCrc || r.badCrc > 0;
        }
        QCOMPARE(got, replies);
        QCOMPARE(sawBadCrc, badCrc);
        QVERIFY(assembler.pending() < modbus::kMeasurementReplyLength);
    }

    // The link against a server on this machine.
    void linkPollsAndReassembles()
    {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        QTcpSocket socket;
        ConverterLink link(&socket);
        QSignalSpy states(&link, &ConverterLink::stateChanged);
        QSignalSpy measured(&link, &ConverterLink::measured);
        QSignalSpy rejected(&link, &ConverterLink::rejected);

        QVERIFY(!link.poll(1));  // not connected yet
        link.open(QStringLiteral("127.0.0.1"), server.serverPort());
        QCOMPARE(link.state(), ConverterLink::State::Connecting);
        QTRY_COMPARE(link.state(), ConverterLink::State::Connected);
        QTRY_VERIFY(server.hasPendingConnections());
        QTcpSocket *peer = server.nextPendingConnection();

        QVERIFY(link.poll(1));
        QTRY_COMPARE(peer->bytesAvailable(), qint64(8));
        QCOMPARE(peer->readAll(), hex("01040000000271CB"));

        // The link reads before the spy hears of it: once the spy counts
        // an arrival, the link has handled it.
        QSignalSpy arrivals(&socket, &QTcpSocket::readyRead);
        const QByteArray good = hex("01040400FA0258DB2F");
        peer->write(good.left(3));
        QTRY_COMPARE(arrivals.size(), 1);
        QVERIFY(measured.isEmpty());
        QVERIFY(rejected.isEmpty());
        peer->write(good.mid(3));
        QTRY_COMPARE(measured.size(), 1);
        const auto m = measured.at(0).at(0).value<Measurement>();
        QCOMPARE(m.temperatureText(), QStringLiteral("25"));
        QCOMPARE(m.humidityText(), QStringLiteral("60"));

        // A whole reply from another module is refused, with the check's message.
        QVERIFY(link.poll(1));
        peer->write(framed("02040400FA0258"));
        QTRY_COMPARE(rejected.size(), 1);
        QCOMPARE(rejected.at(0).at(0).toString(), replyMessage(ReplyVerdict::WrongAddress));
        QCOMPARE(measured.size(), 1);

        // Half a reply, then the next poll: reported as incomplete.
        arrivals.clear();
        peer->write(good.left(4));
        QTRY_COMPARE(arrivals.size(), 1);
        QCOMPARE(rejected.size(), 1);
        QVERIFY(link.poll(1));
        QCOMPARE(rejected.size(), 2);
        QCOMPARE(rejected.at(1).at(0).toString(), replyMessage(ReplyVerdict::Incomplete));

        link.close();
        QCOMPARE(link.state(), ConverterLink::State::Closed);
        QCOMPARE(states.last().at(1).toString(), QStringLiteral("已断开 127.0.0.1:%1").arg(server.serverPort()));
        const int count = states.size();
        QCoreApplication::processEvents();
        QCOMPARE(states.size(), count);  // no late "dropped" after an own close
    }

    void linkTimesOutWhileConnecting()
    {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        QTcpSocket socket;
        ConverterLink link(&socket);
        link.open(QStringLiteral("127.0.0.1"), server.serverPort());
        QCOMPARE(link.state(), ConverterLink::State::Connecting);
        QVERIFY(link.connectTimer()->isActive());
        // The timeout's handler, as if the converter never answered.
        QVERIFY(QMetaObject::invokeMethod(link.connectTimer(), "timeout"));
        QCOMPARE(link.state(), ConverterLink::State::Closed);
    }
};

QTEST_GUILESS_MAIN(TestConsole)
#include "tst_console.moc"
