#pragma once

#include <QWidget>

class BusLink;
class LiteConnection;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

// The window "edit232" (串口设置): chooses port and speed, opens or closes the
// main frame's port and stores the choice for the next start. It has no
// port of its own and keeps nothing beyond its controls: every opening starts
// from the port's state and from "9600".
class Edit232 : public QWidget {
    Q_OBJECT
public:
    Edit232(BusLink *bus, LiteConnection *db, QWidget *parent = nullptr);

    void showPort();
    void choosePort();  // a port number chosen in the list
    void togglePort();  // 打开串口 / 关闭串口

private:
    // Caption and enabled controls for an open or a closed port.
    void showPortState(bool open);
    void showDevice();
    // Opens the chosen port at the speed typed; true when it is open with
    // that speed. Says what went wrong otherwise, with the port closed.
    bool openPort(const QString &speed);

    BusLink *bus_;
    LiteConnection *db_;
    QComboBox *portList_ = nullptr;      // Combo1
    QLabel *deviceLabel_ = nullptr;      // the device that the chosen number means here
    QLineEdit *speedBox_ = nullptr;      // Text20
    QPushButton *openButton_ = nullptr;  // Command4
};
