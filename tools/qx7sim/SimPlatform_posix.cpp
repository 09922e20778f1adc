// The simulator on POSIX systems: the pseudo-terminal of --serial (openpty,
// from libutil on Linux) and the stop on SIGINT, SIGTERM and SIGHUP.
#include "SimPlatform.h"
#include "SimServer.h"

#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>

#include <fcntl.h>
#include <pty.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstring>

namespace {
speed_t speedConstant(int baud) {
    switch (baud) {
        case 1200:
            return B1200;
        case 2400:
            return B2400;
        case 4800:
            return B4800;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        default:
            return B9600;
    }
}

bool makeRaw(int fd, int baud) {
    termios t{};
    if (tcgetattr(fd, &t) != 0)
        return false;
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    cfsetspeed(&t, speedConstant(baud));
    return tcsetattr(fd, TCSANOW, &t) == 0;
}

QString errnoText() {
    return QString::fromLocal8Bit(std::strerror(errno));
}
}  // namespace

bool PtyLink::open(const QString &linkPath, int baud, QString *error) {
    const QByteArray link = QFile::encodeName(linkPath);
    struct stat st {};
    if (lstat(link.constData(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        *error = QStringLiteral("%1 exists and is not a symlink; not touching it").arg(linkPath);
        return false;
    }
    char name[256] = {};
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
        *error = QStringLiteral("openpty: ") + errnoText();
        return false;
    }
    slaveName_ = QString::fromLocal8Bit(name);
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    fcntl(slave_, F_SETFD, FD_CLOEXEC);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    // No echo, no line editing, no character translation on either side.
    if (!makeRaw(slave_, baud) || !makeRaw(master_, baud)) {
        *error = QStringLiteral("cannot set raw mode on %1: %2").arg(slaveName_, errnoText());
        close();
        return false;
    }
    // Replace a stale link of an earlier run in one step.
    const QByteArray temp = link + ".new" + QByteArray::number(getpid());
    ::unlink(temp.constData());
    if (symlink(name, temp.constData()) != 0 || rename(temp.constData(), link.constData()) != 0) {
        *error = QStringLiteral("cannot create the symlink %1: %2").arg(linkPath, errnoText());
        ::unlink(temp.constData());
        close();
        return false;
    }
    linkPath_ = linkPath;
    notifier_ = new QSocketNotifier(master_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &PtyLink::readMaster);
    return true;
}

void PtyLink::close() {
    if (!linkPath_.isEmpty()) {
        const QByteArray link = QFile::encodeName(linkPath_);
        char target[256] = {};
        const ssize_t n = readlink(link.constData(), target, sizeof target - 1);
        if (n > 0 && QString::fromLocal8Bit(target, int(n)) == slaveName_)
            ::unlink(link.constData());
        linkPath_.clear();
    }
    delete notifier_;
    notifier_ = nullptr;
    if (master_ >= 0)
        ::close(master_);
    if (slave_ >= 0)
        ::close(slave_);
    master_ = slave_ = -1;
}

void PtyLink::readMaster() {
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(master_, buf, sizeof buf);
        if (n > 0) {
            received(QByteArrayView(buf, n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            // Should not happen while we hold the slave open; do not spin on it.
            simLog(QStringLiteral("tty read: ") + errnoText());
            notifier_->setEnabled(false);
            QTimer::singleShot(200, this, [this] {
                if (notifier_)
                    notifier_->setEnabled(true);
            });
        }
        return;
    }
}

bool PtyLink::send(QByteArrayView bytes) {
    if (master_ < 0)
        return false;
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(master_, bytes.data() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------

namespace {
int signalPipe[2] = {-1, -1};

void onSignal(int) {
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &c, 1);
}
}  // namespace

bool quitOnStopSignals(QCoreApplication *app, QString *error) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) {
        *error = QStringLiteral("socketpair: ") + errnoText();
        return false;
    }
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, app);
    QObject::connect(notifier, &QSocketNotifier::activated, app, [app] {
        char c;
        [[maybe_unused]] const ssize_t n = ::read(signalPipe[0], &c, 1);
        simLog(QStringLiteral("stopping"));
        app->quit();
    });
    return true;
}
