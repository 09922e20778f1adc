#pragma once

#include "app/MDImain.h"
#include "app/Module1.h"
#include "support/FakeMessageBoxes.h"
#include "support/FakeSerialPort.h"
#include "support/TestDatabase.h"

#include <QPointer>
#include <memory>

// The whole program on a temporary database, an in-memory serial port (or a
// given one) and an answering machine for its message boxes; with it the
// frame's and Module1's declarations, which every test on it uses. The
// program's process-wide state is put back when the fixture ends.
class AppFixture {
public:
    // With `port` null an open FakeSerialPort is used.
    explicit AppFixture(SerialPort *port = nullptr);
    ~AppFixture();

    MDImain *frame() const { return frame_; }
    FakeSerialPort *fakePort() const { return fakePort_; }
    TestDatabase &db() { return *db_; }
    FakeMessageBoxes boxes;

    // Runs the menu command with that objectName.
    void menu(const char *name);
    // A window or control anywhere in the program by its objectName.
    template <class T = QWidget>
    T *find(const QString &name) const;

    int endProgramCalls = 0;

private:
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
