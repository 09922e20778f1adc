#pragma once

#include <QDateTime>
#include <QString>

class LiteConnection;

// The condition of the record deletion, made of a module part (sqladr) and a
// time part (sqltime), each fixed when its check box is clicked, from the
// boxes as they stand then. The three time boxes share sqltime: the last click
// decides. A text that is not an address or a time is refused at the click,
// with a message naming the box; the condition then stays as it was.
class DeletionConditions {
public:
    struct Texts {
        QString first;    // Text1
        QString second;   // Text2
        QString address;  // Text3
    };

    // A click on CheckN (1 to 4) that left the box `ticked`. Empty on
    // success, otherwise the message for the operator.
    QString click(int checkNumber, bool ticked, const Texts &texts);
    void reset();

    const QString &sqladr() const { return sqladr_; }
    const QString &sqltime() const { return sqltime_; }
    // delete from th where <sqladr><sqltime>
    QString statement() const;

private:
    QString sqladr_ = QStringLiteral("adr<>0");
    QString sqltime_;
};

// 确认将删除数据库中[模块<Text3>]的温湿度数据？
QString deletionQuestion(bool moduleTicked, const QString &addressText);

// yyyy.MM.dd_hh.mm.ss_mydb.db of a local time.
QString backupFileName(const QDateTime &localTime);

// Copies the database file into the directory backup beside it: closes the
// connection, copies (replacing a file of the same name) and opens the
// connection again, also when the copy failed.
struct BackupResult {
    enum Outcome { Done, MissingDirectory, CopyFailed, ReopenFailed };
    Outcome outcome = Done;
    QString target;  // the path of the copy
    QString detail;  // what failed
};
BackupResult backupDatabase(LiteConnection &conn, const QString &databasePath,
                            const QDateTime &localTime);
