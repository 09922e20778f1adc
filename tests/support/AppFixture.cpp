#include "support/AppFixture.h"

#include "store/RecordWriter.h"

#include <QAction>
#include <QCoreApplication>
#include <QTest>

AppFixture::AppFixture(SerialPort *port) {
    db_ = std::make_unique<TestDatabase>(Module1::dbconn());
    Module1::setDatabasePath(db_->path());
    Module1::writer().open(db_->path());
    Module1::setEndProgram([this] { ++endProgramCalls; });
    MDImain::setUrlOpener([](const QUrl &) {});
    if (!port) {
        fakePort_ = new FakeSerialPort();
        fakePort_->setOpen(true);
        port = fakePort_;
    }
    frame_ = new MDImain(port);
    frame_->show();
}

AppFixture::~AppFixture() {
    if (frame_) {
        frame_->close();
        delete frame_;
    }
    flushDeletes();
    Module1::resetState();
    Module1::setEndProgram({});
    MDImain::setUrlOpener({});
    Module1::dbconn().Close();
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
