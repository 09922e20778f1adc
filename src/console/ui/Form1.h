#pragma once

#include "console/ConsoleSession.h"

#include <QWidget>

#include <optional>

class BusLink;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

// The window "Form1" (操作单模块): Modbus commands to one module, the raw
// reply log, automatic polling over the serial port or through the QX-LAN
// converter over TCP. The work is done by its console::ConsoleSession; the
// window shows it and hands it the operator's clicks.
class Form1 : public QWidget {
    Q_OBJECT
public:
    // `state` is what the console keeps across its openings.
    Form1(BusLink *bus, console::ConsoleState *state, QWidget *parent = nullptr);
    ~Form1() override;

    // The state that lives for the whole run of the program.
    console::ConsoleState &state() const { return *state_; }
    console::ConsoleSession *session() const { return session_; }
    console::ConverterLink *link() const { return session_->link(); }

    // The operator's clicks.
    void choosePreset(int index);  // 常用命令
    void showCrc();                // 显示CRC
    void sendCommand();            // 发送
    void toggleAutomatic();        // 开启/关闭自动采集
    void clearLog();               // double click on the log
    void exitWindow();             // 退出
    void toggleConverter();        // 连接/断开

    // Adds one line to the log, after whatever it holds.
    void appendLog(const QString &line);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildControls();
    // The command box converted (and trimmed back into the box); says what is wrong otherwise.
    std::optional<QByteArray> commandBytes();
    void showMeasurement(const Measurement &m, bool network);
    void showCounts();

    console::ConsoleState *state_;
    console::ConsoleSession *session_;
    QComboBox *presetList_ = nullptr;         // Combo2
    QLineEdit *commandBox_ = nullptr;         // Text4
    QLineEdit *crcLowBox_ = nullptr;          // Text1
    QLineEdit *crcHighBox_ = nullptr;         // Text5
    QPlainTextEdit *log_ = nullptr;           // Text3
    QLineEdit *temperatureBox_ = nullptr;     // Text6
    QLineEdit *humidityBox_ = nullptr;        // Text7
    QLineEdit *highestTempBox_ = nullptr;     // Text10
    QLineEdit *lowestTempBox_ = nullptr;      // Text11
    QLineEdit *highestHumBox_ = nullptr;      // Text14
    QLineEdit *lowestHumBox_ = nullptr;       // Text15
    QLineEdit *addressBox_ = nullptr;         // Text16
    QLineEdit *successesBox_ = nullptr;       // Text17
    QLineEdit *failuresBox_ = nullptr;        // Text18
    QPushButton *automaticButton_ = nullptr;  // Command30
    QLabel *pollStatus_ = nullptr;
    QLineEdit *ipBoxes_[4] = {};            // Text13, Text12, Text9, Text8
    QLineEdit *tcpPortBox_ = nullptr;       // Text2
    QPushButton *connectButton_ = nullptr;  // Command3
    QLabel *netStatus_ = nullptr;
};
