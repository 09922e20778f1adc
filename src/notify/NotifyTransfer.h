#pragma once

#include "notify/NotifyMessage.h"

#include <QByteArray>
#include <QDateTime>

#include <atomic>

struct curl_slist;

// One message on its way through one channel: a libcurl transfer set up for
// the channel's kind (an HTTP(S) POST for the web kinds, an SMTP mail for
// email), with what it sends and what comes back. Certificates are always
// verified; a channel's cafile is trusted besides the system's CAs.
//
// The notifier drives the transfer through libcurl's multi interface;
// 测试发送 runs it to its end at once (perform()).
class NotifyTransfer {
public:
    NotifyTransfer(const NotifyChannel &channel, const OutMessage &message, const QDateTime &now,
                   int timeoutMs);
    ~NotifyTransfer();
    NotifyTransfer(const NotifyTransfer &) = delete;
    NotifyTransfer &operator=(const NotifyTransfer &) = delete;

    // The libcurl easy handle (CURL *); null when the transfer could not be
    // set up, and result() then says why.
    void *handle() const { return easy_; }
    // What came of it, once libcurl has finished it with `curlCode`.
    notifymsg::Answer result(int curlCode) const;
    // Runs the transfer to its end on the calling thread and says what came
    // of it; `cancel` (may be null) set to true ends it early.
    notifymsg::Answer perform(const std::atomic_bool *cancel = nullptr);

    // What libcurl's callbacks read and write.
    struct Io {
        QByteArray body;     // the POST body, or the whole mail
        qsizetype sent = 0;  // of the mail
        QByteArray answer;   // what the server answered (the first 64 KiB)
        const std::atomic_bool *cancel = nullptr;
    };

private:
    QString kind_;
    void *easy_ = nullptr;
    QString setupError_;
    QByteArray url_;
    QByteArray from_;
    QByteArray cafile_;
    QByteArray username_;
    QByteArray password_;
    curl_slist *headers_ = nullptr;  // HTTP headers, or the mail's recipients
    Io io_;
    char error_[256] = {};
};
