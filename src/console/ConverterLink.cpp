#include "console/ConverterLink.h"

#include <QTcpSocket>

namespace console {

namespace {
constexpr int kExceptionReplyLength = 5;

// The length of the reply that starts at `head`, 0 when no reply can start
// there, -1 when more bytes are needed to tell.
int replyLengthAt(QByteArrayView head) {
    if (head.size() < 2)
        return -1;
    const quint8 function = quint8(head[1]);
    if (function == modbus::kReadInput) {
        if (head.size() < 3)
            return -1;
        return quint8(head[2]) == 4 ? modbus::kMeasurementReplyLength : 0;
    }
    if (function & 0x80)
        return kExceptionReplyLength;
    return 0;
}
}  // namespace

ReplyAssembler::Result ReplyAssembler::add(QByteArrayView piece) {
    Result result;
    buffer_.append(piece);
    qsizetype start = 0;
    while (start < buffer_.size()) {
        const QByteArrayView head = QByteArrayView(buffer_).sliced(start);
        const int length = replyLengthAt(head);
        if (length < 0 || (length > 0 && head.size() < length))
            break;  // wait for the rest
        if (length > 0 && crcMatches(head.first(length))) {
            result.replies << head.first(length).toByteArray();
            start += length;
            continue;
        }
        if (length > 0)
            ++result.badCrc;
        ++result.discarded;
        ++start;
    }
    buffer_.remove(0, start);
    return result;
}

qsizetype ReplyAssembler::clear() {
    const qsizetype n = buffer_.size();
    buffer_.clear();
    return n;
}

ConverterLink::ConverterLink(QTcpSocket *socket, QObject *parent)
    : QObject(parent), socket_(socket) {
    connectTimer_.setSingleShot(true);
    connectTimer_.setInterval(kConnectTimeoutMs);
    connect(&connectTimer_, &QTimer::timeout, this, &ConverterLink::onConnectTimeout);
    connect(socket_, &QTcpSocket::connected, this, &ConverterLink::onConnected);
    connect(socket_, &QTcpSocket::errorOccurred, this, &ConverterLink::onError);
    connect(socket_, &QTcpSocket::disconnected, this, &ConverterLink::onDisconnected);
    connect(socket_, &QTcpSocket::readyRead, this, &ConverterLink::onReadyRead);
}

ConverterLink::~ConverterLink() {
    detach();
}

void ConverterLink::detach() {
    if (!socket_)
        return;
    socket_->disconnect(this);
    connectTimer_.stop();
    state_ = State::Closed;
    socket_->abort();
    socket_ = nullptr;
}

void ConverterLink::open(const QString &host, quint16 port) {
    if (!socket_)
        return;
    if (state_ != State::Closed)
        close();
    socket_->abort();
    assembler_.clear();
    polled_.reset();
    endpoint_ = host + QLatin1Char(':') + QString::number(port);
    setState(State::Connecting, QStringLiteral("正在连接 %1 …").arg(endpoint_));
    connectTimer_.start();
    // May fail at once (and report through onError) before it returns.
    socket_->connectToHost(host, port);
}

void ConverterLink::close() {
    if (!socket_ || state_ == State::Closed)
        return;
    connectTimer_.stop();
    // Closed first, so the socket's own disconnect signal is not taken for a drop.
    state_ = State::Closed;
    socket_->abort();
    assembler_.clear();
    Q_EMIT stateChanged(State::Closed, QStringLiteral("已断开 %1").arg(endpoint_));
}

bool ConverterLink::poll(quint8 address) {
    if (!socket_ || state_ != State::Connected)
        return false;
    if (assembler_.clear() > 0)
        Q_EMIT rejected(replyMessage(ReplyVerdict::Incomplete));
    polled_ = address;
    const QByteArray request = measurementRequest(address);
    if (socket_->write(request) != request.size()) {
        fail(failureReason(socket_->error(), socket_->errorString()));
        return false;
    }
    return true;
}

QString ConverterLink::failureReason(QAbstractSocket::SocketError error, const QString &detail) {
    switch (error) {
        case QAbstractSocket::ConnectionRefusedError:
            return QStringLiteral("对方拒绝连接");
        case QAbstractSocket::RemoteHostClosedError:
            return QStringLiteral("对方关闭了连接");
        case QAbstractSocket::HostNotFoundError:
            return QStringLiteral("找不到该地址");
        case QAbstractSocket::SocketTimeoutError:
            return QStringLiteral("连接超时");
        case QAbstractSocket::NetworkError:
            return QStringLiteral("网络不通");
        default:
            return detail.isEmpty() ? QStringLiteral("网络错误")
                                    : QStringLiteral("网络错误（%1）").arg(detail);
    }
}

void ConverterLink::setState(State state, const QString &text) {
    state_ = state;
    Q_EMIT stateChanged(state, text);
}

void ConverterLink::fail(const QString &reason) {
    if (state_ == State::Closed)
        return;
    const bool wasConnected = state_ == State::Connected;
    connectTimer_.stop();
    state_ = State::Closed;
    if (socket_)
        socket_->abort();
    assembler_.clear();
    const QString text = wasConnected ? QStringLiteral("连接已断开 %1：%2").arg(endpoint_, reason)
                                      : QStringLiteral("无法连接 %1：%2").arg(endpoint_, reason);
    Q_EMIT stateChanged(State::Closed, text);
}

void ConverterLink::onConnected() {
    if (state_ != State::Connecting)
        return;
    connectTimer_.stop();
    setState(State::Connected, QStringLiteral("已连接 %1").arg(endpoint_));
}

void ConverterLink::onError(QAbstractSocket::SocketError error) {
    fail(failureReason(error, socket_ ? socket_->errorString() : QString()));
}

void ConverterLink::onDisconnected() {
    fail(failureReason(QAbstractSocket::RemoteHostClosedError, {}));
}

void ConverterLink::onConnectTimeout() {
    fail(failureReason(QAbstractSocket::SocketTimeoutError, {}));
}

void ConverterLink::onReadyRead() {
    if (!socket_)
        return;
    const QByteArray bytes = socket_->readAll();
    if (state_ != State::Connected)
        return;
    const ReplyAssembler::Result result = assembler_.add(bytes);
    for (const QByteArray &reply : result.replies) {
        const ReplyCheck check = checkMeasurementFrame(reply, polled_ ? int(*polled_) : -1);
        if (check.ok())
            Q_EMIT measured(check.measurement());
        else
            Q_EMIT rejected(check.message());
    }
    if (result.badCrc > 0)
        Q_EMIT rejected(replyMessage(ReplyVerdict::BadCrc));
    else if (result.discarded > 0)
        Q_EMIT rejected(QStringLiteral("收到无法识别的数据，已丢弃%1字节").arg(result.discarded));
}

}  // namespace console
