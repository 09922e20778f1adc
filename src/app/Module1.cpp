#include "app/Module1.h"

#include "acquisition/EditQx7.h"
#include "acquisition/ModuleWindow.h"
#include "app/MDImain.h"
#include "bus/Edit232.h"
#include "console/Form1.h"
#include "mqtt/MqttSettingsDialog.h"
#include "records/AnaQx7.h"
#include "records/DbaseWindow.h"
#include "records/GraphWindow.h"

#include <QCoreApplication>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>

namespace Module1 {

namespace {
LiteConnection theConnection;
QString theDatabasePath;
QString theQuery;
ReceiveRouter theRouter;
bool busy = false;
QPointer<MDImain> frame;
QPointer<ModuleWindow> moduleRef;
QPointer<Form1> form1Ref;
QPointer<EditQx7> editQx7Ref;
QPointer<Edit232> edit232Ref;
QPointer<AnaQx7> anaQx7Ref;
QPointer<GraphWindow> graphRef;
QPointer<DbaseWindow> dbaseRef;
QPointer<MqttSettingsDialog> mqttSettingRef;
std::function<void()> endHook;

// A working window lives in a maximised sub-window of the frame.
template <class W>
W *child(QPointer<W> &ref) {
    if (!ref) {
        ref = new W();
        if (frame)
            frame->addChild(ref);
    }
    return ref;
}

// The other windows stand beside the frame (and go with it).
template <class W>
W *separate(QPointer<W> &ref) {
    if (!ref)
        ref = new W(frame);
    return ref;
}
}  // namespace

LiteConnection &dbconn() {
    return theConnection;
}
QString databasePath() {
    return theDatabasePath;
}
void setDatabasePath(const QString &path) {
    theDatabasePath = path;
}
QString &thsql() {
    return theQuery;
}
ReceiveRouter &rs232target() {
    return theRouter;
}
bool &rs232busy() {
    return busy;
}

MDImain *mdiMain() {
    return frame;
}
void setMdiMain(MDImain *f) {
    frame = f;
}
SerialPort *MSComm1() {
    return frame ? frame->MSComm1() : nullptr;
}
MqttPublisher *mqtt() {
    return frame ? frame->mqtt() : nullptr;
}

ModuleWindow *module() {
    return child(moduleRef);
}
Form1 *form1() {
    return child(form1Ref);
}
EditQx7 *editQx7() {
    return separate(editQx7Ref);
}
Edit232 *edit232() {
    return separate(edit232Ref);
}
AnaQx7 *anaQx7() {
    return separate(anaQx7Ref);
}
GraphWindow *graph() {
    return separate(graphRef);
}
DbaseWindow *dbase() {
    return separate(dbaseRef);
}
MqttSettingsDialog *mqttSetting() {
    return separate(mqttSettingRef);
}

ModuleWindow *moduleIfOpen() {
    return moduleRef;
}
Form1 *form1IfOpen() {
    return form1Ref;
}
EditQx7 *editQx7IfOpen() {
    return editQx7Ref;
}
Edit232 *edit232IfOpen() {
    return edit232Ref;
}
AnaQx7 *anaQx7IfOpen() {
    return anaQx7Ref;
}
GraphWindow *graphIfOpen() {
    return graphRef;
}
DbaseWindow *dbaseIfOpen() {
    return dbaseRef;
}
MqttSettingsDialog *mqttSettingIfOpen() {
    return mqttSettingRef;
}

void showWindow(QWidget *window) {
    if (!window)
        return;
    if (auto *sub = qobject_cast<QMdiSubWindow *>(window->parentWidget())) {
        sub->showMaximized();
        if (sub->mdiArea())
            sub->mdiArea()->setActiveSubWindow(sub);
        window->show();
        return;
    }
    window->show();
    window->raise();
    window->activateWindow();
}

void setEndProgram(std::function<void()> hook) {
    endHook = std::move(hook);
}

void endProgram() {
    if (endHook)
        endHook();
    else
        QCoreApplication::exit(0);
}

}  // namespace Module1
