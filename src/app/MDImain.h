#pragma once

#include <QMainWindow>

#include <functional>
#include <memory>

class AppServices;
class Module1;
class QLabel;
class QMdiArea;
class QUrl;
class SerialPort;

// What the program does outside itself; tests put recorders here. An empty
// function does the real thing.
struct ProgramHooks {
    std::function<void()> endProgram;           // 退出: the program ends at once
    std::function<void(const QUrl &)> openUrl;  // 内容: the browser opens the page
    std::function<void()> beep;                 // an alarm starts
};

// The main frame: menus, the area for the two working windows, the status
// line. It owns the program's services for the run and the registry of its
// windows.
class MDImain : public QMainWindow {
    Q_OBJECT
public:
    MDImain(std::unique_ptr<AppServices> services, ProgramHooks hooks = {},
            QWidget *parent = nullptr);
    ~MDImain() override;

    static QString caption();
    static QString aboutText();
    static QUrl manualUrl();

    AppServices &services() const { return *services_; }
    Module1 &windows() const { return *windows_; }
    // The serial port (the design's MSComm1).
    SerialPort *MSComm1() const;
    QMdiArea *mdiArea() const { return mdi_; }

    // At start: opens the serial port saved in syssetting. A missing or
    // occupied port is said in a box; what is wrong with the saved settings
    // in the status line. While a logger holds the data folder nothing is
    // opened, and the status line says so.
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
    // Ends the run of the services and tells the operator about records that
    // could not be stored.
    void endRun();

    std::unique_ptr<AppServices> services_;
    ProgramHooks hooks_;
    QMdiArea *mdi_ = nullptr;
    Module1 *windows_ = nullptr;
    QLabel *mqttStatus_ = nullptr;  // the publisher's state, beside the messages
};
