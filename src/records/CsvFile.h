#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>

class QFileDevice;

// A CSV file as the exports write it, one that spreadsheet programs open with
// the Chinese headers intact: UTF-8 with a byte order mark, a header line,
// CRLF line ends. A file appears whole or not at all: the lines go to a
// temporary file beside it, put in place by commit(); the file under its own
// name is never touched otherwise. A device or a pipe (not a plain file) is
// written directly.
class CsvFile {
public:
    explicit CsvFile(QString path);
    ~CsvFile();
    CsvFile(const CsvFile &) = delete;
    CsvFile &operator=(const CsvFile &) = delete;

    // Opens the file and writes the header line. False, with error(), when it
    // cannot.
    bool open(const QStringList &headers);
    // Lines already joined (each ending in CRLF). False, with error(), when
    // they could not be written.
    bool write(const QByteArray &lines);
    // Everything written out and the file put in place. False, with error().
    bool commit();

    // What failed, in the words of the system (a full disk says so).
    const QString &error() const { return error_; }

    // One field: quoted when it holds a comma, a quote or a line break, with
    // its quotes doubled.
    static QByteArray field(const QByteArray &utf8);
    // Appends one line of fields and its CRLF.
    static void appendLine(QByteArray &out, const QStringList &cells);

private:
    bool fail();

    QString path_;
    std::unique_ptr<QFileDevice> file_;
    QString error_;
};
