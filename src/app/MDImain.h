#pragma once

#include <QMainWindow>

#include <functional>

class QMdiArea;
class QMdiSubWindow;
class QUrl;
class BusLink;
class SerialPort;
class FrameAssembler;
class MqttPublisher;
class QLabel;

// The main frame: menus, the area for the two working windows, and the one
// serial port of the program with its end-of-frame timer (Timer1).
class MDImain : public QMainWindow {
    Q_OBJECT
public:
    // Takes `port` (an in-memory port in tests); without one it uses the
    // machine's serial port.
    explicit MDImain(SerialPort *port = nullptr, QWidget *parent = nullptr);
    ~MDImain() override;

    static QString caption();
    static QString aboutText();
    static QUrl manualUrl();
    // How the help command opens a page; tests record instead.
    static void setUrlOpener(std::function<void(const QUrl &)> opener);

    // The serial port and everything that shares it.
    BusLink *bus() const { return bus_; }
    SerialPort *MSComm1() const;
    FrameAssembler *frames() const;
    QMdiArea *mdiArea() const { return mdi_; }
    // Publishes readings over MQTT when table mqttsetting says where to.
    MqttPublisher *mqtt() const { return mqtt_; }

    // Puts a working window into a sub-window of the frame (not yet shown).
    QMdiSubWindow *addChild(QWidget *window);

    // At start: opens the serial port saved in syssetting. What is wrong
    // with the saved settings is said in the status line.
    void openSavedPort();
    // Starts publishing over MQTT with the saved settings (none: off).
    void startMqtt();

    // Menu commands.
    void showSerialSettings();
    void showConsole();
    void showAcquisition();
    void showMqttSettings();
    void showNotifySettings();
    void quit();
    void showRecords();
    void showMaintenance();
    void showAlarmLog();
    void showManual();
    void showAbout();

    // Shows a line in the status bar (failures found on a timer, where a
    // message box every second would be worse than the failure).
    void showStatus(const QString &text);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildMenus();
    void closeActiveChild();

    QMdiArea *mdi_ = nullptr;
    BusLink *bus_ = nullptr;
    MqttPublisher *mqtt_ = nullptr;
    QLabel *mqttStatus_ = nullptr;  // the publisher's state, beside the messages
};
