#include "notify/NotifyTransfer.h"

#include <curl/curl.h>

#include <cstring>
#include <mutex>

namespace {
constexpr qsizetype kMaxAnswerBytes = 64 * 1024;
constexpr int kMaxConnectMs = 10000;

size_t takeAnswer(char *data, size_t size, size_t count, void *user) {
    auto *io = static_cast<NotifyTransfer::Io *>(user);
    const qsizetype room = qMax<qsizetype>(0, kMaxAnswerBytes - io->answer.size());
    io->answer.append(data, qMin(qsizetype(size * count), room));
    return size * count;
}

size_t giveMail(char *buffer, size_t size, size_t count, void *user) {
    auto *io = static_cast<NotifyTransfer::Io *>(user);
    const qsizetype n = qMin(qsizetype(size * count), io->body.size() - io->sent);
    memcpy(buffer, io->body.constData() + io->sent, size_t(n));
    io->sent += n;
    return size_t(n);
}

int progress(void *user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const auto *io = static_cast<NotifyTransfer::Io *>(user);
    return io->cancel && io->cancel->load() ? 1 : 0;
}

void initOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}
}  // namespace

NotifyTransfer::NotifyTransfer(const NotifyChannel &channel, const OutMessage &message,
                               const QDateTime &now, int timeoutMs)
    : kind_(channel.kind) {
    static_assert(sizeof(error_) >= CURL_ERROR_SIZE);
    initOnce();
    QString optionsError;
    const auto options = notifychannel::parseOptions(channel.options, &optionsError);
    if (!options) {
        setupError_ = optionsError;
        return;
    }
    CURL *easy = curl_easy_init();
    if (!easy) {
        setupError_ = QStringLiteral("libcurl 无法初始化");
        return;
    }
    easy_ = easy;
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, error_);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, long(qMin(timeoutMs, kMaxConnectMs)));
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, long(timeoutMs));
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &takeAnswer);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &io_);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &progress);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &io_);
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    if (!options->cafile.isEmpty()) {
        // Added to the system's CAs (CURLOPT_CAPATH stays as it was built).
        cafile_ = options->cafile.toLocal8Bit();
        curl_easy_setopt(easy, CURLOPT_CAINFO, cafile_.constData());
    }
    if (notifychannel::isWebKind(kind_)) {
        const notifymsg::WebRequest request =
            notifymsg::webRequest(channel, message, now.toMSecsSinceEpoch());
        url_ = request.url;
        io_.body = request.body;
        curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(easy, CURLOPT_URL, url_.constData());
        curl_easy_setopt(easy, CURLOPT_POST, 1L);
        curl_easy_setopt(easy, CURLOPT_POSTFIELDS, io_.body.constData());
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE, long(io_.body.size()));
        headers_ = curl_slist_append(headers_, "Content-Type: application/json; charset=utf-8");
        headers_ = curl_slist_append(headers_, "Expect:");  // no wait for "100 Continue"
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers_);
        return;
    }
    url_ = channel.target.trimmed().toUtf8();
    io_.body = notifymsg::mail(*options, message, now);
    from_ = '<' + notifychannel::bareAddress(options->from).toUtf8() + '>';
    for (const QString &to : options->to)
        headers_ = curl_slist_append(
            headers_, ('<' + notifychannel::bareAddress(to).toUtf8() + '>').constData());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
    curl_easy_setopt(easy, CURLOPT_URL, url_.constData());
    curl_easy_setopt(easy, CURLOPT_MAIL_FROM, from_.constData());
    curl_easy_setopt(easy, CURLOPT_MAIL_RCPT, headers_);
    curl_easy_setopt(easy, CURLOPT_READFUNCTION, &giveMail);
    curl_easy_setopt(easy, CURLOPT_READDATA, &io_);
    curl_easy_setopt(easy, CURLOPT_UPLOAD, 1L);
    if (options->starttls)
        curl_easy_setopt(easy, CURLOPT_USE_SSL, long(CURLUSESSL_ALL));
    if (!options->username.isEmpty()) {
        username_ = options->username.toUtf8();
        password_ = channel.secret.toUtf8();
        curl_easy_setopt(easy, CURLOPT_USERNAME, username_.constData());
        curl_easy_setopt(easy, CURLOPT_PASSWORD, password_.constData());
    }
}

NotifyTransfer::~NotifyTransfer() {
    if (easy_)
        curl_easy_cleanup(static_cast<CURL *>(easy_));
    curl_slist_free_all(headers_);
}

notifymsg::Answer NotifyTransfer::result(int curlCode) const {
    if (!easy_)
        return {false, setupError_};
    if (curlCode != CURLE_OK) {
        const QString detail = QString::fromUtf8(error_).trimmed();
        return {false, detail.isEmpty() ? QString::fromUtf8(curl_easy_strerror(CURLcode(curlCode)))
                                        : detail};
    }
    long status = 0;
    curl_easy_getinfo(static_cast<CURL *>(easy_), CURLINFO_RESPONSE_CODE, &status);
    if (!notifychannel::isWebKind(kind_))
        return {true, QStringLiteral("邮件服务器已接收（SMTP %1）").arg(status)};
    return notifymsg::judge(kind_, status, io_.answer);
}

notifymsg::Answer NotifyTransfer::perform(const std::atomic_bool *cancel) {
    if (!easy_)
        return result(CURLE_OK);
    io_.cancel = cancel;
    return result(curl_easy_perform(static_cast<CURL *>(easy_)));
}
