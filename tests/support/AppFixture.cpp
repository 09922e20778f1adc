#include "support/AppFixture.h"

#include "store/Clock.h"

#include <QAction>
#include <QCoreApplication>
#include <QTest>

AppFixture::AppFixture(SerialPort *port, const Clock *clock) {
    db_ = std::make_unique<TestDatabase>(setup_);
    if (!port) {
        fakePort_ = new FakeSerialPort();
        fakePort_->setOpen(true);
        port = fakePort_;
    }
    auto services = std::make_unique<AppServices>(db_->path(), std::unique_ptr<SerialPort>(port),
                                                  clock ? *clock : Clock::system());
    QString error;
    if (!services->open(&error))
        qFatal("cannot open the program's database: %s", qPrintable(error));
    // The test reads and writes through the program's own connection.
    db_->useConnection(services->db());
    setup_.Close();
    ProgramHooks hooks;
    hooks.endProgram = [this] { ++endProgramCalls; };
    hooks.openUrl = [this](const QUrl &url) { openedUrls << url; };
    hooks.beep = [this] { ++beeps; };
    frame_ = new MDImain(std::move(services), hooks);
    frame_->show();
}

AppFixture::~AppFixture() {
    if (frame_) {
        frame_->close();
        delete frame_;
    }
    flushDeletes();
}

void AppFixture::menu(const char *name) {
    QAction *a = frame_->findChild<QAction *>(QString::fromLatin1(name));
    QVERIFY2(a, name);
    a->trigger();
}

void flushDeletes() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}
