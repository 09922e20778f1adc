#pragma once

#include <QObject>
#include <QPointer>

#include <functional>

class AlarmLogWindow;
class AnaQx7;
class AppServices;
class DbaseWindow;
class Edit232;
class EditQx7;
class Form1;
class GraphWindow;
class ModuleWindow;
class MqttSettingsDialog;
class NotifySettings;
class QMdiArea;
class QWidget;

// The registry of the program's windows: every window exists at most once;
// an accessor creates it the first time it is needed, hands it the services
// it works with, and gives the same one until it closes. The working windows
// (acquisition, console) live in the frame's area; the others stand beside
// the frame as windows of their own.
class Module1 : public QObject {
    Q_OBJECT
public:
    // `area` holds the working windows; `owner` is the parent of the others
    // (they go with it). `beep` sounds when an alarm starts.
    Module1(AppServices &services, QMdiArea *area, QWidget *owner, std::function<void()> beep);
    // Closes every window it made (before the services go).
    ~Module1() override;

    // Get or create. Creating does not show.
    ModuleWindow *module();
    Form1 *form1();
    EditQx7 *editQx7();
    Edit232 *edit232();
    AnaQx7 *anaQx7();
    GraphWindow *graph();
    DbaseWindow *dbase();
    MqttSettingsDialog *mqttSetting();
    AlarmLogWindow *alarmLog();
    NotifySettings *notifySettings();

    // The window if it exists now, without creating it.
    ModuleWindow *moduleIfOpen() const;
    Form1 *form1IfOpen() const;
    EditQx7 *editQx7IfOpen() const;
    Edit232 *edit232IfOpen() const;
    AnaQx7 *anaQx7IfOpen() const;
    GraphWindow *graphIfOpen() const;
    DbaseWindow *dbaseIfOpen() const;
    MqttSettingsDialog *mqttSettingIfOpen() const;
    AlarmLogWindow *alarmLogIfOpen() const;
    NotifySettings *notifySettingsIfOpen() const;

    // Shows a window made here: maximised inside the frame for the working
    // windows, normal beside it for the others; brings an open one to the
    // front.
    void showWindow(QWidget *window);

private:
    // A working window goes into a sub-window of the frame's area.
    void addChild(QWidget *window);
    // The editor for the module selected in the acquisition window.
    void editSelectedModule();

    AppServices &services_;
    QMdiArea *area_;
    QWidget *owner_;
    std::function<void()> beep_;
    QPointer<ModuleWindow> module_;
    QPointer<Form1> form1_;
    QPointer<EditQx7> editQx7_;
    QPointer<Edit232> edit232_;
    QPointer<AnaQx7> anaQx7_;
    QPointer<GraphWindow> graph_;
    QPointer<DbaseWindow> dbase_;
    QPointer<MqttSettingsDialog> mqttSetting_;
    QPointer<AlarmLogWindow> alarmLog_;
    QPointer<NotifySettings> notifySettings_;
};
