#pragma once

#include "bus/ReceiveRouter.h"
#include "console/ConsoleReplies.h"
#include "console/ConverterLink.h"

#include <QWidget>

#include <optional>

class BusLink;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTcpSocket;
class QTimer;

// The window "Form1" (操作单模块): Modbus commands to one module, the raw
// reply log, automatic polling over the serial port (Timer2) or through the
// QX-LAN converter over TCP (Timer1, Winsock1).
//
// What must outlive the window (the reply mode and both sets of extremes)
// lives in console::ConsoleState; the counters and the log live in their
// boxes and restart with the window.
class Form1 : public QWidget, public ReceiveTarget {
    Q_OBJECT
public:
    explicit Form1(BusLink *bus, QWidget *parent = nullptr);
    ~Form1() override;

    // The state that lives for the whole run of the program.
    static console::ConsoleState &state() { return console::ConsoleState::instance(); }

    // A reply from the serial port (what lands in rcv232).
    void receiveText(const QString &text) override;

    // Event handlers, named after their control.
    void Combo2_Click(int index);
    void Command1_Click();   // 显示CRC
    void Command28_Click();  // 发送
    void Command30_Click();  // 开启/关闭自动采集
    void Timer2_Timer();     // one serial poll
    void Text3_DblClick();   // clears the log
    void Command2_Click();   // 退出
    void Command3_Click();   // 连接/断开
    void Timer1_Timer();     // one network poll

    // Adds one line to the log, after whatever it holds.
    void appendLog(const QString &line);

    console::ConverterLink *link() const { return link_; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildControls();
    // The command box converted (and trimmed back into the box); says what is wrong otherwise.
    std::optional<QByteArray> commandBytes();
    void stopAutomatic();
    void increaseCount(QLineEdit *box);
    void showMeasurement(const Measurement &m, console::Extremes &extremes);
    void showPollStatus(const QString &text);
    void linkStateChanged(console::ConverterLink::State state, const QString &text);
    void showNetStatus(const QString &text);
    std::optional<quint8> pollAddress();

    // Frame6: commands.
    QGroupBox *Frame6_ = nullptr;
    QComboBox *Combo2_ = nullptr;
    QLineEdit *Text4_ = nullptr;
    QPushButton *Command1_ = nullptr;
    QLineEdit *Text1_ = nullptr;
    QLineEdit *Text5_ = nullptr;
    QPushButton *Command28_ = nullptr;
    QPlainTextEdit *Text3_ = nullptr;
    // Frame2: results of the automatic acquisition.
    QGroupBox *Frame2_ = nullptr;
    QLineEdit *Text6_ = nullptr;
    QLineEdit *Text7_ = nullptr;
    QLineEdit *Text10_ = nullptr;
    QLineEdit *Text11_ = nullptr;
    QLineEdit *Text14_ = nullptr;
    QLineEdit *Text15_ = nullptr;
    QLineEdit *Text16_ = nullptr;
    QLineEdit *Text17_ = nullptr;
    QLineEdit *Text18_ = nullptr;
    QPushButton *Command30_ = nullptr;
    QLabel *pollStatus_ = nullptr;
    // Frame3: the converter.
    QGroupBox *Frame3_ = nullptr;
    QLineEdit *Text13_ = nullptr;
    QLineEdit *Text12_ = nullptr;
    QLineEdit *Text9_ = nullptr;
    QLineEdit *Text8_ = nullptr;
    QLineEdit *Text2_ = nullptr;
    QPushButton *Command3_ = nullptr;
    QLabel *netStatus_ = nullptr;
    // The window.
    BusLink *bus_ = nullptr;
    QPushButton *Command2_ = nullptr;
    QLineEdit *rcv232_ = nullptr;
    QTimer *Timer2_ = nullptr;
    QTimer *Timer1_ = nullptr;
    QTcpSocket *Winsock1_ = nullptr;
    console::ConverterLink *link_ = nullptr;

    // The address of the last serial poll: the expected sender of a reply
    // while the address box is being edited.
    quint8 polledAddress_ = 1;
};
