#include "alarms/AlarmRecorder.h"

#include "alarms/AlarmLimits.h"
#include "store/Clock.h"
#include "store/RecordWriter.h"
#include "store/Schema.h"
#include "store/Statements.h"
#include "store/ValueText.h"

AlarmRecorder::AlarmRecorder(LiteConnection *db, RecordWriter *writer, const Clock &clock,
                             QObject *parent)
    : QObject(parent), db_(db), writer_(writer), clock_(clock) {}

QString AlarmRecorder::now() const {
    return recordTimeText(clock_.now());
}

void AlarmRecorder::watch(const QList<AlarmModule> &modules) {
    QHash<QString, AlarmLimits> limits;
    QString error;
    const bool limitsRead = alarmlimits::loadAll(*db_, &limits, &error);
    const QString note =
        limitsRead ? QString() : QStringLiteral("无法读取报警限值（沿用原来的限值）：") + error;
    if (note != note_) {
        note_ = note;
        Q_EMIT noteChanged(note_);
    }
    QList<WatchedModule> watched;
    for (const AlarmModule &m : modules) {
        WatchedModule w{m.address, std::nullopt};
        if (limitsRead)
            w.limits = limits.value(m.addressText.trimmed());
        watched.append(w);
    }
    record(monitor_.watch(watched, now()));
}

void AlarmRecorder::reading(quint8 address, double temperature, double humidity) {
    record(monitor_.reading(address, temperature, humidity, now()));
}

void AlarmRecorder::noReply(quint8 address) {
    record(monitor_.noReply(address, now()));
}

void AlarmRecorder::showOutside(const QString &activeText, const QList<quint8> &addresses) {
    const Outside shown{activeText, addresses};
    if (outside_ == shown)
        return;
    outside_ = shown;
    Q_EMIT alarmsChanged();
}

void AlarmRecorder::endOutside() {
    if (!outside_)
        return;
    outside_.reset();
    Q_EMIT alarmsChanged();
}

void AlarmRecorder::acquisitionEnded() {
    record(monitor_.endAll(now()));
}

QString AlarmRecorder::closeLeftOpenStatement(const QString &time) {
    // The last row of each module and kind, found in one pass over the log.
    return QStringLiteral(
               "insert into alarmlog (adr, mydate, kind, value, state) "
               "select a.adr, '") +
           time +
           QStringLiteral(
               "', a.kind, NULL, '结束' from alarmlog a "
               "join (select max(id) as last from alarmlog group by adr, kind) t "
               "on a.id = t.last where a.state = '开始'");
}

void AlarmRecorder::acquisitionStarted() {
    // Alarms of this run are all ended when it stops; what is still open in
    // the log was left by a run that did not end cleanly.
    if (!writer_ || !monitor_.active().isEmpty())
        return;
    const auto hasLog = schema::hasTable(*db_, QStringLiteral("alarmlog"));
    if (!hasLog || !*hasLog)
        return;
    const QString statement = closeLeftOpenStatement(now());
    writer_->submit({{statement, statement, QString(), clock_.steadyMs(), true}});
}

void AlarmRecorder::record(const QList<AlarmEvent> &events) {
    if (events.isEmpty())
        return;
    if (writer_) {
        // The table comes with the first row that needs it, in the same
        // transaction; a database that is busy delays the rows but never
        // loses them.
        const qint64 dueMs = clock_.steadyMs();
        QList<PendingWrite> writes;
        for (const AlarmEvent &e : events) {
            QString statement =
                schema::createAlarmLogTable() + QStringLiteral("; ") +
                sql::insertAlarmLog(e.address, e.time, e.kindText(), e.value, e.stateText());
            if (!afterInsert_.isEmpty())
                statement += QStringLiteral("; ") + afterInsert_;
            // The row carries its own time: no second statement for a late write.
            writes.append({statement, QString(), QString(), dueMs, true});
        }
        writer_->submit(writes);
    }
    for (const AlarmEvent &e : events) Q_EMIT alarmChanged(e);
    Q_EMIT alarmsChanged();
}
