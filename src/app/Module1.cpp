#include "app/Module1.h"

#include "acquisition/ModuleList.h"
#include "acquisition/ui/EditQx7.h"
#include "acquisition/ui/ModuleWindow.h"
#include "alarms/ui/AlarmLogWindow.h"
#include "bus/ui/Edit232.h"
#include "console/ui/Form1.h"
#include "mqtt/ui/MqttSettingsDialog.h"
#include "notify/ui/NotifySettings.h"
#include "records/ui/AnaQx7.h"
#include "records/ui/DbaseWindow.h"
#include "records/ui/GraphWindow.h"
#include "services/AppServices.h"

#include <QMdiArea>
#include <QMdiSubWindow>

namespace {
// Get or create.
template <class W, class Create>
W *ensure(QPointer<W> &ref, Create create) {
    if (!ref)
        ref = create();
    return ref;
}
}  // namespace

Module1::Module1(AppServices &services, QMdiArea *area, QWidget *owner, std::function<void()> beep)
    : QObject(owner), services_(services), area_(area), owner_(owner), beep_(std::move(beep)) {}

Module1::~Module1() {
    // The windows stop their work while the services are still there.
    const QList<QWidget *> windows{module_, form1_, editQx7_,     edit232_,  anaQx7_,
                                   graph_,  dbase_, mqttSetting_, alarmLog_, notifySettings_};
    for (QWidget *w : windows) {
        if (w) {
            w->close();
            delete w;
        }
    }
}

void Module1::addChild(QWidget *window) {
    QMdiSubWindow *sub = area_->addSubWindow(window);
    sub->setAttribute(Qt::WA_DeleteOnClose);
    // A working window that closes itself takes its sub-window with it.
    connect(window, &QObject::destroyed, sub, [sub] { sub->close(); });
}

ModuleWindow *Module1::module() {
    return ensure(module_, [this] {
        auto *w = new ModuleWindow(&services_.acquisition(), &services_.alarms(), beep_);
        connect(w, &ModuleWindow::editRequested, this, &Module1::editSelectedModule);
        addChild(w);
        return w;
    });
}

void Module1::editSelectedModule() {
    // The editor shows the row double-clicked; an editor already open is
    // filled anew for it, so that it always acts on the module it shows.
    const auto row = module_ ? module_->selectedRow() : std::nullopt;
    EditQx7 *editor = editQx7();
    editor->showModule(row);
    showWindow(editor);
}

Form1 *Module1::form1() {
    return ensure(form1_, [this] {
        auto *w = new Form1(&services_.bus(), &services_.console());
        addChild(w);
        return w;
    });
}

EditQx7 *Module1::editQx7() {
    return ensure(editQx7_, [this] {
        auto *w = new EditQx7(&services_.db(), owner_);
        connect(w, &EditQx7::modulesChanged, this, [this] {
            if (module_)
                module_->LoadGrid1();
        });
        return w;
    });
}

Edit232 *Module1::edit232() {
    return ensure(edit232_,
                  [this] { return new Edit232(&services_.bus(), &services_.db(), owner_); });
}

AnaQx7 *Module1::anaQx7() {
    return ensure(anaQx7_, [this] {
        auto *w = new AnaQx7(&services_.db(), &services_.recordQuery(), services_.clock(), owner_);
        connect(w, &AnaQx7::chartRequested, this, [this] { showWindow(graph()); });
        return w;
    });
}

GraphWindow *Module1::graph() {
    return ensure(graph_, [this] {
        return new GraphWindow(&services_.db(), &services_.recordQuery(), owner_);
    });
}

DbaseWindow *Module1::dbase() {
    return ensure(dbase_, [this] {
        return new DbaseWindow(&services_.writer(), services_.databasePath(), services_.clock(),
                               owner_);
    });
}

MqttSettingsDialog *Module1::mqttSetting() {
    return ensure(mqttSetting_, [this] {
        return new MqttSettingsDialog(&services_.db(), &services_.mqtt(), owner_);
    });
}

AlarmLogWindow *Module1::alarmLog() {
    return ensure(alarmLog_, [this] {
        return new AlarmLogWindow(&services_.db(), services_.clock(), owner_);
    });
}

NotifySettings *Module1::notifySettings() {
    return ensure(notifySettings_, [this] { return new NotifySettings(&services_.db(), owner_); });
}

ModuleWindow *Module1::moduleIfOpen() const {
    return module_;
}
Form1 *Module1::form1IfOpen() const {
    return form1_;
}
EditQx7 *Module1::editQx7IfOpen() const {
    return editQx7_;
}
Edit232 *Module1::edit232IfOpen() const {
    return edit232_;
}
AnaQx7 *Module1::anaQx7IfOpen() const {
    return anaQx7_;
}
GraphWindow *Module1::graphIfOpen() const {
    return graph_;
}
DbaseWindow *Module1::dbaseIfOpen() const {
    return dbase_;
}
MqttSettingsDialog *Module1::mqttSettingIfOpen() const {
    return mqttSetting_;
}
AlarmLogWindow *Module1::alarmLogIfOpen() const {
    return alarmLog_;
}
NotifySettings *Module1::notifySettingsIfOpen() const {
    return notifySettings_;
}

void Module1::showWindow(QWidget *window) {
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
