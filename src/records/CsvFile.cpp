#include "records/CsvFile.h"

#include <QFileInfo>
#include <QSaveFile>
#include <QStorageInfo>

#include <cerrno>
#include <cstring>

CsvFile::CsvFile(QString path) : path_(std::move(path)) {}

CsvFile::~CsvFile() = default;

QByteArray CsvFile::field(const QByteArray &utf8) {
    if (!utf8.contains(',') && !utf8.contains('"') && !utf8.contains('\n') && !utf8.contains('\r'))
        return utf8;
    QByteArray out = utf8;
    out.replace("\"", "\"\"");
    return '"' + out + '"';
}

void CsvFile::appendLine(QByteArray &out, const QStringList &cells) {
    for (qsizetype i = 0; i < cells.size(); ++i) {
        if (i)
            out += ',';
        out += field(cells[i].toUtf8());
    }
    out += "\r\n";
}

bool CsvFile::fail() {
    const int systemError = errno;
    QString said = file_ ? file_->errorString() : QString();
    // A write that fails late (at the flush of a buffer, at the close) may
    // leave the device without a text of its own.
    if (said.isEmpty() || said == QLatin1String("Unknown error"))
        said = QString::fromLocal8Bit(std::strerror(systemError));
    const QStorageInfo disk(QFileInfo(path_).absolutePath());
    const bool full = (file_ && file_->error() == QFileDevice::ResourceError) ||
                      systemError == ENOSPC || (disk.isValid() && disk.bytesAvailable() == 0);
    error_ = full ? QStringLiteral("磁盘已满（%1）").arg(said) : said;
    file_.reset();  // a temporary file goes with it
    return false;
}

bool CsvFile::open(const QStringList &headers) {
    const QFileInfo target(path_);
    if (target.exists() && !target.isFile() && !target.isDir()) {
        // A device or a pipe cannot be replaced by another file.
        file_ = std::make_unique<QFile>(path_);
    } else {
        file_ = std::make_unique<QSaveFile>(path_);
    }
    errno = 0;
    if (!file_->open(QIODevice::WriteOnly))
        return fail();
    QByteArray head("\xEF\xBB\xBF");
    appendLine(head, headers);
    return write(head);
}

bool CsvFile::write(const QByteArray &lines) {
    if (!file_)
        return false;
    errno = 0;
    return file_->write(lines) == lines.size() || fail();
}

bool CsvFile::commit() {
    if (!file_)
        return false;
    errno = 0;
    // The last lines may still wait in the device's buffer: a failure to
    // write them is told here, with what the system said.
    if (!file_->flush())
        return fail();
    if (auto *save = qobject_cast<QSaveFile *>(file_.get())) {
        if (!save->commit())
            return fail();
    } else {
        file_->close();
    }
    file_.reset();
    return true;
}
