#pragma once

#include "bus/ReceiveRouter.h"
#include "store/LiteConnection.h"

#include <QString>

#include <functional>

class MDImain;
class SerialPort;
class ModuleWindow;
class Form1;
class EditQx7;
class Edit232;
class AnaQx7;
class GraphWindow;
class DbaseWindow;
class MqttPublisher;
class MqttSettingsDialog;
class QWidget;

// The process-wide objects of the program: the database connection, the text
// of the last record query, the receive routing and the port flag, and one
// reference per window. Every window exists at most once; the accessors create
// a window the first time it is needed and give the same one until it closes.
namespace Module1 {

// The one database connection.
LiteConnection &dbconn();
// Path of the database file (the directory of the program + mydb.db).
QString databasePath();
void setDatabasePath(const QString &path);

// The text of the last record query; the chart runs it again.
QString &thsql();

// rs232target: the window that receives the next frame from the serial port.
ReceiveRouter &rs232target();
// rs232busy: a cyclic job (acquisition, search, console polling) holds the port.
bool &rs232busy();

// The main frame and its serial port (nullptr before Main).
MDImain *mdiMain();
void setMdiMain(MDImain *frame);
SerialPort *MSComm1();
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

// The window if it exists now, without creating it.
ModuleWindow *moduleIfOpen();
Form1 *form1IfOpen();
EditQx7 *editQx7IfOpen();
Edit232 *edit232IfOpen();
AnaQx7 *anaQx7IfOpen();
GraphWindow *graphIfOpen();
DbaseWindow *dbaseIfOpen();
MqttSettingsDialog *mqttSettingIfOpen();

// Shows a window created by an accessor above: maximised inside the frame for
// the working windows, normal beside it for the others; brings an open one
// to the front.
void showWindow(QWidget *window);

// What the menu command 退出 does: end the program at once. Tests put a
// recorder here.
void setEndProgram(std::function<void()> endProgram);
void endProgram();

}  // namespace Module1
