#pragma once

#include <QDateTime>
#include <QString>

class PassControl;

// The check boxes of the deletion window: the three time conditions
// (Check1 to Check3) and the module condition (Check4).
enum class DeletionBox { Before, After, Between, Module };

// The condition of the record deletion, made of a module part (sqladr) and a
// time part (sqltime), each fixed when its check box is clicked, from the
// boxes as they stand then. A text that is not an address or a time is
// refused at the click, with a message naming the box; the condition then
// stays as it was.
//
// Of the time boxes that show ticked, the one clicked last decides; when it
// is unticked, the one ticked before it decides again, with the time fixed at
// its own click. So a box shown ticked is never silently ignored, and the
// question says exactly which condition the statement will use.
class DeletionConditions {
public:
    struct Texts {
        QString first;    // Text1
        QString second;   // Text2
        QString address;  // Text3
    };

    // A click that left `box` ticked or unticked. Empty on success,
    // otherwise the message for the operator.
    QString click(DeletionBox box, bool ticked, const Texts &texts);
    void reset();

    const QString &sqladr() const { return sqladr_; }
    QString sqltime() const;
    // delete from th where <sqladr><sqltime>
    QString statement() const;
    // 确认将删除数据库中[模块N][在<time>]的温湿度数据？, naming the module and
    // the time condition of statement().
    QString question() const;

private:
    struct TimeCondition {
        DeletionBox box;
        QString sql;
        QString phrase;  // how the question names it
    };
    QString sqladr_ = QStringLiteral("adr<>0");
    QString address_;              // the module of sqladr_, empty for all
    QList<TimeCondition> ticked_;  // in the order of their clicks
};

// Runs the deletion of `conditions` on the database file at `databasePath`,
// through a connection of its own that waits for another program's write to
// end: one statement, so that when it fails nothing is deleted. False, with
// the database's answer, on failure. For a thread of its own.
bool deleteRecords(const QString &databasePath, const DeletionConditions &conditions,
                   QString *error);

// yyyy.MM.dd_hh.mm.ss_mydb.db of a local time.
QString backupFileName(const QDateTime &localTime);

// Copies the database file into the directory backup beside it, replacing a
// file of the same name, as one consistent state of the file while other
// connections and programs go on writing (copyDatabase). For a thread of its
// own; `control` follows it and can stop it (no file then).
struct BackupResult {
    enum Outcome { Done, MissingDirectory, CopyFailed, Cancelled };
    Outcome outcome = Done;
    QString target;  // the path of the copy
    QString detail;  // what failed
};
BackupResult backupDatabase(const QString &databasePath, const QDateTime &localTime,
                            PassControl &control);
