#pragma once

#include "app/MDImain.h"
#include "app/Module1.h"
#include "services/AppServices.h"
#include "support/FakeMessageBoxes.h"
#include "support/FakeSerialPort.h"
#include "support/TestDatabase.h"

#include <QPointer>
#include <QUrl>
#include <memory>

class Clock;

// The whole program on a temporary database, an in-memory serial port (or a
// given one) and an answering machine for its message boxes; with it the
// declarations of the frame, the services and the window registry, which
// every test on it uses. What the program would do outside itself (end,
// open a page, beep) is counted instead.
class AppFixture {
public:
    // With `port` null an open FakeSerialPort is used; with `clock` null the
    // machine's clock.
    explicit AppFixture(SerialPort *port = nullptr, const Clock *clock = nullptr);
    ~AppFixture();

    MDImain *frame() const { return frame_; }
    AppServices &services() const { return frame_->services(); }
    Module1 &windows() const { return frame_->windows(); }
    BusLink &bus() const { return services().bus(); }
    FakeSerialPort *fakePort() const { return fakePort_; }
    TestDatabase &db() { return *db_; }
    FakeMessageBoxes boxes;

    // Runs the menu command with that objectName.
    void menu(const char *name);
    // A window or control anywhere in the program by its objectName.
    template <class T = QWidget>
    T *find(const QString &name) const;

    int endProgramCalls = 0;
    int beeps = 0;
    QList<QUrl> openedUrls;

private:
    LiteConnection setup_;  // until the program has its own
    std::unique_ptr<TestDatabase> db_;
    QPointer<MDImain> frame_;
    FakeSerialPort *fakePort_ = nullptr;
};

// Deletes windows whose close() is still pending.
void flushDeletes();

#include <QApplication>
#include <QWidget>

template <class T>
T *AppFixture::find(const QString &name) const {
    const auto tops = QApplication::topLevelWidgets();
    for (QWidget *top : tops) {
        if (top->objectName() == name) {
            if (auto *t = qobject_cast<T *>(top))
                return t;
        }
        if (auto *t = top->findChild<T *>(name))
            return t;
    }
    return nullptr;
}
