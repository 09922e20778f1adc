#pragma once

#include "store/LiteConnection.h"

#include <QString>

#include <functional>

class AlarmLogWindow;
class AnaQx7;
class BusLink;
class DbaseWindow;
class Edit232;
class EditQx7;
class Form1;
class GraphWindow;
class MDImain;
class ModuleWindow;
class MqttPublisher;
class MqttSettingsDialog;
class NotifySettings;
class QWidget;
class RecordWriter;
struct AcquisitionState;

// The process-wide objects of the program, and the registry of its windows:
// every window exists at most once; the accessors create a window the first
// time it is needed, hand it what it works with, connect it to the windows
// it reports to, and give the same one until it closes. Windows themselves
// never reach each other through here.
namespace Module1 {

// The one database connection.
LiteConnection &dbconn();
// Path of the database file (the directory of the program + mydb.db).
QString databasePath();
void setDatabasePath(const QString &path);
// The writer that stores the acquisition's records (opened by Main).
RecordWriter &writer();

// The text of the last record query; the chart runs it again.
QString &thsql();

// What the acquisition keeps across its window's openings.
AcquisitionState &acquisitionState();

// The main frame and its bus link (nullptr before Main).
MDImain *mdiMain();
void setMdiMain(MDImain *frame);
BusLink *bus();
// The frame's MQTT publisher (nullptr before Main).
MqttPublisher *mqtt();

// Get or create. Working windows are maximised children of the frame; the
// others are windows of their own beside it. Creating does not show.
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
ModuleWindow *moduleIfOpen();
Form1 *form1IfOpen();
EditQx7 *editQx7IfOpen();
Edit232 *edit232IfOpen();
AnaQx7 *anaQx7IfOpen();
GraphWindow *graphIfOpen();
DbaseWindow *dbaseIfOpen();
MqttSettingsDialog *mqttSettingIfOpen();
AlarmLogWindow *alarmLogIfOpen();
NotifySettings *notifySettingsIfOpen();

// Shows a window created by an accessor above: maximised inside the frame for
// the working windows, normal beside it for the others; brings an open one
// to the front.
void showWindow(QWidget *window);

// What the menu command 退出 does: end the program at once. Tests put a
// recorder here.
void setEndProgram(std::function<void()> endProgram);
void endProgram();

// Puts the process-wide state back as at start (tests).
void resetState();

}  // namespace Module1
