// The console's decisions without the window: commands and CRC, the address
// and counter boxes, serial reply handling, extremes, the reassembly of TCP
// replies and the converter link against a local server.
#include "bus/HexText.h"
#include "console/ConsoleCommands.h"
#include "console/ConsoleReplies.h"
#include "console/ConverterLink.h"
#include "support/Hex.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

using namespace console;
using L = QByteArrayList;
using C = SerialReplyOutcome::Count;

Q_DECLARE_METATYPE(console::SerialReplyOutcome::Count)

namespace {
const QByteArray kGood = hex("01040400FA0258DB2F");  // 25 °C, 60 %
const QByteArray kBadCrc = hex("01040400FA0258DB2E");
}  // namespace

class TestConsole : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void presets() {
        QStringList commands;
        for (int i = 0; presetCommand(i); ++i) commands << *presetCommand(i);
        QCOMPARE(commands,
                 (QStringList{"01 04 00 00 00 01", "01 04 00 01 00 01", "01 03 00 00 00 01",
                              "01 06 00 00 00 xx(请将xx改为新的模块地址)", "01 03 00 01 00 01",
                              "01 06 00 01 00 xx(请将xx改为新的速度类玛)", "01 03 00 02 00 01",
                              "01 06 00 02 xx xx(请将xx改为新的模块名称)", "01 03 00 0D 00 01",
                              "01 06 00 0D xx xx(请将xx改为新的485间隔)"}));
        QCOMPARE(presetNames().size(), 10);
        QVERIFY(!presetCommand(-1));
    }

    // `expected` is the CRC ("low high") of a command that converts, else a
    // part of the error.
    void commands_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("expected");
        QTest::newRow("default") << "01 04 00 00 00 01" << hex("010400000001") << "31 CA";
        QTest::newRow("leading zero") << "01 03 00 00 00 03" << hex("010300000003") << "05 CB";
        QTest::newRow("placeholder") << *presetCommand(3) << hex("010600000000") << "89 CA";
        QTest::newRow("token above FF") << "01 100 00" << QByteArray() << "“100”超过FF";
        QTest::newRow("empty") << "" << QByteArray() << "请先输入命令";
    }
    void commands() {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, expected);
        const QString trimmed = text.trimmed();
        const CommandResult r = convertCommand(text);
        QCOMPARE(text, trimmed);  // the box shows the trimmed text
        QCOMPARE(r.bytes, bytes);
        QCOMPARE(r.ok(), !bytes.isEmpty());
        if (r.ok())
            QCOMPARE(crcTexts(r.bytes).low + QLatin1Char(' ') + crcTexts(r.bytes).high, expected);
        else
            QVERIFY2(r.error.contains(expected), qPrintable(r.error));
    }

    void addresses() {
        for (auto [text, value] : {std::pair{"10", 10}, {" 7 ", 7}, {"0", 0}, {"255", 255}})
            QCOMPARE(moduleAddress(QString::fromLatin1(text)), std::optional<quint8>(value));
        for (const char *bad : {"256", "-1", "1.5", "abc", "", "0x10", "1 2"})
            QVERIFY2(!moduleAddress(QString::fromLatin1(bad)), bad);
    }

    void extremesCompareNumbers() {
        Extremes e;
        const auto shown = [&] {
            return e.tmax() + '/' + e.tmin() + ' ' + e.hmax() + '/' + e.hmin();
        };
        QVERIFY(!e.started());
        QCOMPARE(shown(), QStringLiteral("/ /"));
        e.add({98, 500});
        e.add({102, 495});  // 10.2 beats 9.8, which a text comparison would not say
        QCOMPARE(shown(), QStringLiteral("10.2/9.8 50/49.5"));
        e.add({-100, 1000});
        QCOMPARE(shown(), QStringLiteral("10.2/-10 100/49.5"));
        e.reset();
        QVERIFY(!e.started());
    }

    void serialReplies_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("polling");
        QTest::addColumn<QString>("log");
        QTest::addColumn<C>("count");
        QTest::addColumn<QString>("shown");  // "T H" or empty
        const QString good = receiveText(kGood), cold = receiveText(framed("010404FF9C01F4"));
        const QString reg = receiveText(hex("01030200017984"));
        QTest::newRow("command reply logged raw") << reg << 0 << false << reg << C::None << "";
        QTest::newRow("command reply while polling") << good << 0 << true << good << C::None << "";
        QTest::newRow("good poll reply") << good << 1 << true << good << C::Success << "25 60";
        QTest::newRow("after polling stopped") << good << 1 << false << "" << C::None << "";
        QTest::newRow("blank") << " " << 1 << true << "" << C::None << "";
        QTest::newRow("negative temperature")
            << cold << 1 << true << cold << C::Success << "-10 50";
        QTest::newRow("bad crc") << receiveText(kBadCrc) << 1 << true
                                 << replyMessage(ReplyVerdict::BadCrc) << C::Failure << "";
        // A humidity register of 0x8000 or more: logged, the temperature
        // shown, nothing counted.
        const QString wet = receiveText(framed("01040401008000"));
        QTest::newRow("humidity not showable")
            << wet << 1 << true << wet << C::None << "25.6 3276.8";
        QTest::newRow("other module")
            << receiveText(framed("02040400FA0258")) << 1 << true
            << replyMessage(ReplyVerdict::WrongAddress) << C::Failure << "";
        QTest::newRow("exception") << receiveText(hex("018402C2C1")) << 1 << true
                                   << replyMessage(ReplyVerdict::WrongFunction) << C::Failure << "";
        QTest::newRow("lone byte from the module")
            << receiveText(hex("01")) << 1 << true << "" << C::None << "";
    }
    void serialReplies() {
        QFETCH(QString, text);
        QFETCH(int, mode);
        QFETCH(bool, polling);
        QFETCH(QString, log);
        QFETCH(C, count);
        QFETCH(QString, shown);
        const SerialReplyOutcome out = decideSerialReply(text, ReplyMode(mode), polling, 1);
        QCOMPARE(out.logLine, log);
        QCOMPARE(out.count, count);
        QCOMPARE(out.keepText, count == C::Failure);
        const auto m = out.measurement;
        QCOMPARE(m ? m->temperatureText() + ' ' + m->humidityText() : QString(), shown);
    }

    void reassembly_data() {
        QTest::addColumn<L>("pieces");
        QTest::addColumn<L>("replies");
        QTest::addColumn<bool>("badCrc");
        const QByteArray second = framed("010404006201F4");
        L bytewise;
        for (char c : kGood) bytewise << QByteArray(1, c);
        QTest::newRow("whole") << L{kGood} << L{kGood} << false;
        QTest::newRow("byte by byte") << bytewise << L{kGood} << false;
        QTest::newRow("two in one piece") << L{kGood + second} << L{kGood, second} << false;
        QTest::newRow("split across pieces")
            << L{kGood + second.left(2), second.mid(2)} << L{kGood, second} << false;
        QTest::newRow("noise first") << L{hex("000001") + kGood} << L{kGood} << false;
        QTest::newRow("corrupt") << L{kBadCrc} << L{} << true;
        QTest::newRow("exception") << L{hex("018402C2C1")} << L{hex("018402C2C1")} << false;
        QTest::newRow("register reply") << L{hex("01030200017984")} << L{} << false;
        QTest::newRow("stale half then whole") << L{kGood.left(5), kGood} << L{kGood} << true;
        QTest::newRow("corrupt then good") << L{kBadCrc, kGood} << L{kGood} << true;
    }
    void reassembly() {
        QFETCH(L, pieces);
        QFETCH(L, replies);
        QFETCH(bool, badCrc);
        ReplyAssembler assembler;
        L got;
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

    // The link against a server on this machine: a reply, the reply check,
    // a half reply, an own close, a connection that never completes.
    void converterLink() {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        QTcpSocket socket;
        ConverterLink link(&socket);
        QSignalSpy states(&link, &ConverterLink::stateChanged);
        QSignalSpy measured(&link, &ConverterLink::measured);
        QSignalSpy rejected(&link, &ConverterLink::rejected);
        QVERIFY(!link.poll(1));  // not connected yet
        link.open(QStringLiteral("127.0.0.1"), server.serverPort());
        QTRY_COMPARE(link.state(), ConverterLink::State::Connected);
        QTRY_VERIFY(server.hasPendingConnections());
        QTcpSocket *peer = server.nextPendingConnection();
        QVERIFY(link.poll(1));
        peer->write(kGood);
        QTRY_COMPARE(measured.size(), 1);
        const auto m = measured.at(0).at(0).value<Measurement>();
        QCOMPARE(m.temperatureText() + ' ' + m.humidityText(), QStringLiteral("25 60"));
        // A whole reply from another module is refused, with the check's message.
        QVERIFY(link.poll(1));
        peer->write(framed("02040400FA0258"));
        QTRY_COMPARE(rejected.size(), 1);
        QCOMPARE(rejected.at(0).at(0).toString(), replyMessage(ReplyVerdict::WrongAddress));
        // Half a reply, then the next poll: reported as incomplete. The link
        // reads before the spy hears of an arrival.
        QSignalSpy arrivals(&socket, &QTcpSocket::readyRead);
        peer->write(kGood.left(4));
        QTRY_COMPARE(arrivals.size(), 1);
        QCOMPARE(rejected.size(), 1);
        QVERIFY(link.poll(1));
        QCOMPARE(rejected.size(), 2);
        QCOMPARE(rejected.at(1).at(0).toString(), replyMessage(ReplyVerdict::Incomplete));
        QCOMPARE(measured.size(), 1);

        const qsizetype count = states.size();
        link.close();
        QCoreApplication::processEvents();
        QCOMPARE(link.state(), ConverterLink::State::Closed);
        QCOMPARE(states.size(), count + 1);  // no "dropped" beside an own close
        QCOMPARE(states.last().at(1).toString(),
                 QStringLiteral("已断开 127.0.0.1:%1").arg(server.serverPort()));

        link.open(QStringLiteral("127.0.0.1"), server.serverPort());
        QVERIFY(link.connectTimer()->isActive());
        // The timeout's handler, as if the converter never answered.
        QVERIFY(QMetaObject::invokeMethod(link.connectTimer(), "timeout"));
        QCOMPARE(link.state(), ConverterLink::State::Closed);
        QVERIFY(states.last().at(1).toString().endsWith(QStringLiteral("连接超时")));
    }
};

QTEST_GUILESS_MAIN(TestConsole)
#include "tst_console.moc"
