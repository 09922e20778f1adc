#pragma once

#include <QWidget>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class SerialPort;

// The window "edit232" (串口设置): chooses port and speed, opens or closes the
// main window's port and stores the choice for the next start. It has no
// port of its own and keeps nothing beyond its controls: every opening starts
// from the port's state and from "9600".
class Edit232 : public QWidget {
    Q_OBJECT
public:
    explicit Edit232(QWidget *parent = nullptr);

    // Event handlers, named after their control.
    void Form_Load();
    void Combo1_Click();    // choosing a port number
    void Command4_Click();  // 打开串口 / 关闭串口
    void Command3_Click();  // 退出

private:
    void buildControls();
    // Caption and enabled controls for an open or a closed port.
    void showPortState(bool open);
    void showDevice();
    // Opens the chosen port at the speed typed; true when it is open with
    // that speed. Says what went wrong otherwise, with the port closed.
    bool openPort(SerialPort *port, const QString &speed);
    void saveChoice(SerialPort *port, const QString &speed);

    QLabel *Label1_ = nullptr;
    QComboBox *Combo1_ = nullptr;
    QLabel *deviceLabel_ = nullptr;  // the device that the chosen number means here
    QLabel *Label17_ = nullptr;
    QLineEdit *Text20_ = nullptr;
    QPushButton *Command4_ = nullptr;
    QPushButton *Command3_ = nullptr;
};
