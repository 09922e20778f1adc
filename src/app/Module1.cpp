#include "app/Module1.h"

#include "acquisition/AcquisitionJobs.h"
#include "acquisition/ModuleList.h"
#include "acquisition/ui/EditQx7.h"
#include "acquisition/ui/ModuleWindow.h"
#include "alarms/ui/AlarmLogWindow.h"
#include "app/MDImain.h"
#include "bus/ui/Edit232.h"
#include "console/ui/Form1.h"
#include "mqtt/MqttFormat.h"
#include "mqtt/MqttPublisher.h"
#include "mqtt/ui/MqttSettingsDialog.h"
#include "records/ui/AnaQx7.h"
#include "records/ui/DbaseWindow.h"
#include "records/ui/GraphWindow.h"
#include "store/RecordWriter.h"

#include <QCoreApplication>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>

namespace Module1 {

namespace {
LiteConnection theConnection;
QString theDatabasePath;
QString theQuery;
RecordWriter *theWriter = nullptr;
AcquisitionState theAcquisition;
QPointer<MDImain> frame;
QPointer<ModuleWindow> moduleRef;
QPointer<Form1> form1Ref;
QPointer<EditQx7> editQx7Ref;
QPointer<Edit232> edit232Ref;
QPointer<AnaQx7> anaQx7Ref;
QPointer<GraphWindow> graphRef;
QPointer<DbaseWindow> dbaseRef;
QPointer<MqttSettingsDialog> mqttSettingRef;
QPointer<AlarmLogWindow> alarmLogRef;
std::function<void()> endHook;

// A working window lives in a maximised sub-window of the frame.
template <class W>
W *child(QPointer<W> &ref, const std::function<W *()> &create) {
    if (!ref) {
        ref = create();
        if (frame)
            frame->addChild(ref);
    }
    return ref;
}

// The other windows stand beside the frame (and go with it).
template <class W>
W *separate(QPointer<W> &ref, const std::function<W *()> &create) {
    if (!ref)
        ref = create();
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
RecordWriter &writer() {
    if (!theWriter)
        theWriter = new RecordWriter();
    return *theWriter;
}
AcquisitionState &acquisitionState() {
    return theAcquisition;
}

MDImain *mdiMain() {
    return frame;
}
void setMdiMain(MDImain *f) {
    frame = f;
}
BusLink *bus() {
    return frame ? frame->bus() : nullptr;
}
MqttPublisher *mqtt() {
    return frame ? frame->mqtt() : nullptr;
}

ModuleWindow *module() {
    return child<ModuleWindow>(moduleRef, [] {
        auto *w = new ModuleWindow(bus(), &dbconn(), &writer(), &acquisitionState());
        QObject::connect(w, &ModuleWindow::editRequested, [] { showWindow(editQx7()); });
        // Every reading the acquisition believes goes to the MQTT broker too.
        QObject::connect(w->jobs(), &AcquisitionJobs::readingTaken,
                         [](int, quint8 address, const Measurement &m) {
                             if (MqttPublisher *publisher = mqtt())
                                 publisher->publishReading(
                                     address, m.temperature(), m.humidity(),
                                     mqttformat::recordTime(QDateTime::currentDateTimeUtc()));
                         });
        // And so does every start and end of an alarm.
        QObject::connect(w->jobs(), &AcquisitionJobs::alarmChanged, [](const AlarmEvent &e) {
            if (MqttPublisher *publisher = mqtt())
                publisher->publishAlarm(e.address, e.kindText(), e.stateText(), e.value);
        });
        return w;
    });
}
Form1 *form1() {
    return child<Form1>(form1Ref, [] { return new Form1(bus()); });
}
EditQx7 *editQx7() {
    return separate<EditQx7>(editQx7Ref, [] {
        // The editor acts on the row selected in the module list at the
        // moment of each action.
        auto selection = []() -> std::optional<ModuleRow> {
            ModuleWindow *list = moduleIfOpen();
            return list ? list->selectedRow() : std::nullopt;
        };
        auto *w = new EditQx7(&dbconn(), selection, frame);
        QObject::connect(w, &EditQx7::modulesChanged, [] {
            if (ModuleWindow *list = moduleIfOpen())
                list->LoadGrid1();
        });
        return w;
    });
}
Edit232 *edit232() {
    return separate<Edit232>(edit232Ref, [] { return new Edit232(bus(), &dbconn(), frame); });
}
AnaQx7 *anaQx7() {
    return separate<AnaQx7>(anaQx7Ref, [] {
        auto *w = new AnaQx7(&dbconn(), &thsql(), Clock::system(), frame);
        QObject::connect(w, &AnaQx7::chartRequested, [] { showWindow(graph()); });
        return w;
    });
}
GraphWindow *graph() {
    return separate<GraphWindow>(graphRef,
                                 [] { return new GraphWindow(&dbconn(), &thsql(), frame); });
}
DbaseWindow *dbase() {
    return separate<DbaseWindow>(dbaseRef, [] {
        return new DbaseWindow(&writer(), databasePath(), Clock::system(), frame);
    });
}
MqttSettingsDialog *mqttSetting() {
    return separate<MqttSettingsDialog>(
        mqttSettingRef, [] { return new MqttSettingsDialog(&dbconn(), mqtt(), frame); });
}
AlarmLogWindow *alarmLog() {
    return separate<AlarmLogWindow>(
        alarmLogRef, [] { return new AlarmLogWindow(&dbconn(), Clock::system(), frame); });
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
AlarmLogWindow *alarmLogIfOpen() {
    return alarmLogRef;
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

void resetState() {
    theQuery.clear();
    theAcquisition = AcquisitionState();
    if (theWriter)
        theWriter->close();
}

}  // namespace Module1
