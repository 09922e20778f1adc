#include "acquisition/AcquisitionJobs.h"

#include "acquisition/LoggerStatus.h"
#include "acquisition/ModuleList.h"
#include "bus/BusLink.h"
#include "bus/Frames.h"
#include "store/Clock.h"
#include "store/LiteConnection.h"
#include "store/RecordWriter.h"
#include "store/Statements.h"
#include "store/ValueText.h"

#include <QTimer>

namespace {
// At most this many modules are named under the list; the rest are counted.
constexpr int kProblemsShown = 5;

QTimer *jobTimer(QObject *parent, const char *name, int interval) {
    auto *t = new QTimer(parent);
    t->setObjectName(QString::fromLatin1(name));
    t->setInterval(interval);
    t->setTimerType(Qt::PreciseTimer);
    return t;
}
}  // namespace

AcquisitionJobs::AcquisitionJobs(BusLink *bus, LiteConnection *db, RecordWriter *writer,
                                 const Clock &clock, QObject *parent)
    : QObject(parent),
      bus_(bus),
      db_(db),
      writer_(writer),
      clock_(clock),
      modules_(new ModuleListModel(this)),
      pollTimer_(jobTimer(this, "Timer1", 600)),
      clockTimer_(jobTimer(this, "Timer2", 1000)),
      searchTimer_(jobTimer(this, "Timer4", 500)) {
    setObjectName(QStringLiteral("acquisitionJobs"));
    connect(pollTimer_, &QTimer::timeout, this, &AcquisitionJobs::pollTick);
    connect(clockTimer_, &QTimer::timeout, this, &AcquisitionJobs::clockTick);
    connect(searchTimer_, &QTimer::timeout, this, &AcquisitionJobs::searchTick);
    connect(bus_, &BusLink::portLost, this, &AcquisitionJobs::onPortLost);
    connect(bus_, &BusLink::portReopened, this, &AcquisitionJobs::onPortReopened);
    connect(bus_, &BusLink::heldOutsideChanged, this, &AcquisitionJobs::onHeldOutside);
    if (writer_) {
        connect(writer_, &RecordWriter::backlogChanged, this, &AcquisitionJobs::onStoreBacklog);
        connect(writer_, &RecordWriter::overflowed, this, &AcquisitionJobs::onStoreOverflow);
        connect(writer_, &RecordWriter::setAside, this, &AcquisitionJobs::onStoreSetAside);
    }
}

AcquisitionJobs::~AcquisitionJobs() {
    pollTimer_->stop();
    clockTimer_->stop();
    searchTimer_->stop();
    bus_->release(BusJob::Acquisition);
    bus_->release(BusJob::Search);
    bus_->router().unregister(this);
}

bool AcquisitionJobs::loadList() {
    QString error;
    const bool ok = modules_->load(*db_, &error);
    cycle_.schedule.reset(modules_->recordPeriods());
    setNote(Note::ListLoad, ok ? QString() : QStringLiteral("无法读取模块列表：") + error);
    QStringList problems = modules_->problems();
    if (problems.size() > kProblemsShown) {
        const qsizetype more = problems.size() - kProblemsShown;
        problems = problems.mid(0, kProblemsShown);
        problems << QStringLiteral("……另有%1个模块有同样的问题").arg(more);
    }
    setNote(Note::ListProblems, problems.join(QLatin1Char('\n')));
    // While a logger acquires, its rows (with their readings) are the list.
    if (outside_)
        applyOutside();
    Q_EMIT listLoaded();
    return ok;
}

// ---- polling ----

AcquisitionJobs::StartResult AcquisitionJobs::startAcquisition(int periodMs) {
    if (bus_->isHeldOutside()) {
        refuseOutside(QStringLiteral("不能在此开始采集"));
        return StartResult::HeldOutside;
    }
    if (!bus_->take(BusJob::Acquisition))
        return StartResult::PortBusy;
    setNote(Note::Port, QString());
    setReceiveBox(QString());
    bus_->listen(this, this);
    pollTimer_->setInterval(periodMs);
    pollTimer_->start();
    clockTimer_->start();
    cycle_.start();
    setActivity(Activity::Acquiring);
    Q_EMIT acquisitionStarted();
    return StartResult::Started;
}

void AcquisitionJobs::stopAcquisition() {
    if (!isAcquiring())
        return;
    setNote(Note::Port, QString());
    pollTimer_->stop();
    clockTimer_->stop();
    bus_->release(BusJob::Acquisition);
    setActivity(Activity::Idle);
    Q_EMIT acquisitionStopped();
}

void AcquisitionJobs::setPollPeriod(int periodMs) {
    pollTimer_->setInterval(periodMs);
}

void AcquisitionJobs::pollTick() {
    ++pollTicks_;
    const int pendingPosition = cycle_.pendingPosition();
    const quint8 pendingAddress = cycle_.pendingAddress();
    const PollStep step = cycle_.tick(*modules_);
    if (step.failedPosition > 0)
        Q_EMIT pollFailed(pendingPosition, pendingAddress);
    if (!step.sends())
        return;
    if (activity_ == Activity::WaitingForPort) {
        // Nothing can go out: the module is as unanswered as on a silent bus.
        Q_EMIT pollFailed(step.position, step.address);
        return;
    }
    if (!sendForJob(measurementRequest(step.address)))
        return;
    cycle_.requestSent(step);
    Q_EMIT pollSent(modules_->at(step.position).address);
}

void AcquisitionJobs::clockTick() {
    const QList<DueRecord> records =
        cycle_.secondTick(*modules_, clock_.steadyMs(),
                          AcquisitionCycle::maxRecordAgeMs(*modules_, pollTimer_->interval()));
    Q_EMIT clockTicked();
    if (records.isEmpty() || !writer_)
        return;
    // Each record carries the second it fell due, whenever it is stored.
    const QString due = recordTimeText(clock_.now());
    const qint64 dueMs = clock_.steadyMs();
    QList<PendingWrite> writes;
    writes.reserve(records.size());
    for (const DueRecord &r : records) {
        writes.append({sql::insertRecord(r.address, r.temperature, r.humidity),
                       sql::insertRecordAt(r.address, due, r.temperature, r.humidity), due, dueMs});
    }
    writer_->submit(writes);
}

// ---- search ----

AcquisitionJobs::StartResult AcquisitionJobs::startSearch(int periodMs) {
    if (bus_->isHeldOutside()) {
        refuseOutside(QStringLiteral("不能在此搜索模块"));
        return StartResult::HeldOutside;
    }
    if (!bus_->take(BusJob::Search))
        return StartResult::PortBusy;
    setNote(Note::Port, QString());
    setReceiveBox(QString());
    search_.start();
    bus_->listen(this, this);
    searchTimer_->setInterval(periodMs);
    searchTimer_->start();
    setActivity(Activity::Searching);
    return StartResult::Started;
}

void AcquisitionJobs::stopSearch() {
    if (activity_ != Activity::Searching)
        return;
    searchTimer_->stop();
    bus_->release(BusJob::Search);
    setActivity(Activity::Idle);
}

void AcquisitionJobs::setSearchPeriod(int periodMs) {
    searchTimer_->setInterval(periodMs);
}

void AcquisitionJobs::searchTick() {
    const QByteArray probe = readRegisterRequest(quint8(search_.address), modbus::kRegModel);
    if (!sendForJob(probe))
        return;
    const BusSearch::Probe sent = search_.next();
    Q_EMIT searchProbed(sent.address);
    if (sent.last)
        stopSearch();
}

bool AcquisitionJobs::answerFound(bool add, quint8 address, const QString &model, QString *error) {
    bool ok = true;
    if (add) {
        ok = db_->Execute(sql::insertModule(QString::number(address), model));
        if (ok)
            loadList();
        else if (error)
            *error = db_->lastError();
    }
    // The search goes on with the next address, one full period later,
    // unless it was stopped meanwhile.
    if (activity_ == Activity::Searching)
        searchTimer_->start();
    return ok;
}

AcquisitionJobs::SendOutcome AcquisitionJobs::changeAddress(quint8 from, quint8 to) {
    switch (bus_->send(writeRegisterRequest(from, modbus::kRegAddress, to))) {
        case SendResult::Sent:
            return SendOutcome::Sent;
        case SendResult::PortNotOpen:
        case SendResult::PortLost:
            // As any sender that meets a closed port: whatever held the
            // port lets it go.
            stopSearch();
            bus_->releaseAny();
            return SendOutcome::PortNotOpen;
        case SendResult::HeldOutside:
            refuseOutside(QStringLiteral("不能在此更换地址"));
            return SendOutcome::HeldOutside;
        case SendResult::Failed:
            break;
    }
    return SendOutcome::Failed;
}

// ---- replies ----

void AcquisitionJobs::receiveText(const QString &text) {
    setReceiveBox(text);
    handleReply();
}

void AcquisitionJobs::handleReply() {
    const QString text = receiveBox_.trimmed();
    if (text.isEmpty())
        return;
    const bool acquiring = pollTimer_->isActive();
    const bool searching = searchTimer_->isActive();
    if (!acquiring && !searching)
        return;  // stays in the box until the next start clears it
    const AcquisitionReply reply = analyseReply(text);
    switch (reply.kind) {
        case ReplyKind::Reading: {
            // A reading that does not answer the poll outstanding is not
            // believed and stays in the box; the poll then counts as failed.
            const int position = cycle_.pendingPosition();
            if (acquiring &&
                cycle_.takeReading(*modules_, reply.address, reply.reading, clock_.steadyMs())) {
                setReceiveBox(QString());
                Q_EMIT readingTaken(position, reply.address, reply.reading);
            }
            return;
        }
        case ReplyKind::Other:
            setReceiveBox(QString());
            return;
        case ReplyKind::SearchAnswer:
            if (!searching)
                return;
            setReceiveBox(QString());
            // No probe goes out while the operator decides.
            searchTimer_->stop();
            if (modules_->isRegistered(reply.address)) {
                searchTimer_->start();
                return;
            }
            Q_EMIT moduleFound(reply.address, reply.model);
            return;
        case ReplyKind::Empty:
        case ReplyKind::Incomplete:
        case ReplyKind::BadReading:
        case ReplyKind::BadSearch:
            return;
    }
}

// ---- the port and the store ----

bool AcquisitionJobs::sendForJob(const QByteArray &frame) {
    switch (bus_->send(frame)) {
        case SendResult::Sent:
            return true;
        case SendResult::PortNotOpen:
            portGone(false);
            return false;
        case SendResult::PortLost:
            portGone(true);
            return false;
        case SendResult::HeldOutside:  // the job has been stopped already
        case SendResult::Failed:
            break;  // this tick sends nothing; the job goes on
    }
    return false;
}

void AcquisitionJobs::portGone(bool lost) {
    if (activity_ == Activity::Acquiring && lost) {
        // The polling waits for the port; nothing is recorded meanwhile.
        clockTimer_->stop();
        bus_->release(BusJob::Acquisition);
        setActivity(Activity::WaitingForPort);
        setNote(Note::Port, QStringLiteral("串口已断开，等待串口恢复后自动继续采集"));
    } else if (isAcquiring()) {
        stopAcquisition();
    } else if (activity_ == Activity::Searching) {
        stopSearch();
        if (lost)
            setNote(Note::Port, QStringLiteral("串口已断开，搜索已停止"));
    }
    if (!lost)
        Q_EMIT portNotOpen();
}

void AcquisitionJobs::onPortLost() {
    if (activity_ == Activity::Acquiring || activity_ == Activity::Searching)
        portGone(true);
}

void AcquisitionJobs::onPortReopened() {
    if (activity_ != Activity::WaitingForPort)
        return;
    if (!bus_->take(BusJob::Acquisition)) {
        setNote(Note::Port, QStringLiteral("串口已恢复，但串口被其他任务占用，采集等待中"));
        return;
    }
    bus_->listen(this, this);
    clockTimer_->start();
    setActivity(Activity::Acquiring);
    setNote(Note::Port, QStringLiteral("串口已恢复，采集已自动继续"));
}

void AcquisitionJobs::onHeldOutside(bool held) {
    if (!held) {
        setNote(Note::Port, QString());
        return;
    }
    // The other program acquires from now on: this one's jobs end.
    const bool working = activity_ != Activity::Idle;
    stopAcquisition();
    stopSearch();
    if (working)
        refuseOutside(QStringLiteral("本程序的采集或搜索已停止"));
}

void AcquisitionJobs::refuseOutside(const QString &what) {
    setNote(Note::Port, bus_->outsideText() + QStringLiteral("，") + what);
}

// ---- a logger's acquisition, shown ----

void AcquisitionJobs::showOutside(const LoggerStatus &status) {
    if (!outside_)
        outside_ = std::make_unique<LoggerStatus>();
    *outside_ = status;
    applyOutside();
}

void AcquisitionJobs::applyOutside() {
    QList<ModuleRow> rows;
    rows.reserve(outside_->modules.size());
    for (const LoggerModule &m : std::as_const(outside_->modules)) {
        ModuleRow row;
        row.address = m.address;
        row.model = m.model;
        row.enabled = m.enabled;
        row.temperature = m.temperature;
        row.humidity = m.humidity;
        row.recordPeriod = m.recordPeriod;
        row.recordSeconds = recordSecondsOf(m.recordPeriod);
        row.badRecordPeriod = !validRecordPeriod(m.recordPeriod);
        row.alarm = m.alarmFlag;
        rows.append(row);
    }
    modules_->showRows(rows);
    QStringList lines{
        QStringLiteral("qx7logger（进程%1）正在采集，这里显示它的实时数据").arg(outside_->pid)};
    lines << outside_->notes;
    setNote(Note::Outside, lines.join(QLatin1Char('\n')));
    Q_EMIT outsideChanged();
}

void AcquisitionJobs::endOutside() {
    if (!outside_)
        return;
    outside_.reset();
    setNote(Note::Outside, QString());
    // The list as this program knows it, without the logger's readings.
    loadList();
    Q_EMIT outsideChanged();
}

QString AcquisitionJobs::counterText() const {
    return outside_ ? outside_->counters : cycle_.counterText();
}

QString AcquisitionJobs::runTimeText() const {
    return outside_ ? outside_->runTime : cycle_.runTime.text();
}

void AcquisitionJobs::onStoreBacklog(int waiting, const QString &error) {
    if (waiting == 0)
        setNote(Note::Store, QString());
    else
        setNote(Note::Store, QStringLiteral("数据库暂时无法写入（%1），%2条记录等待保存，采集继续")
                                 .arg(error)
                                 .arg(waiting));
}

void AcquisitionJobs::onStoreOverflow(int dropped) {
    setNote(Note::StoreOverflow,
            QStringLiteral("数据库超过一小时无法写入，最早的%1条记录已丢弃").arg(dropped));
}

void AcquisitionJobs::onStoreSetAside(int writes, const QString &error) {
    setNote(Note::StoreSetAside,
            QStringLiteral("有%1条记录无法写入数据库（%2），已放弃，其后的记录照常保存")
                .arg(writes)
                .arg(error));
}

// ---- state ----

void AcquisitionJobs::setActivity(Activity activity) {
    if (activity_ == activity)
        return;
    activity_ = activity;
    Q_EMIT activityChanged(activity);
}

void AcquisitionJobs::setNote(Note which, const QString &text) {
    if (notes_.value(which) == text)
        return;
    if (text.isEmpty())
        notes_.remove(which);
    else
        notes_.insert(which, text);
    Q_EMIT notesChanged();
}

QStringList AcquisitionJobs::notes() const {
    return notes_.values();
}

void AcquisitionJobs::setReceiveBox(const QString &text) {
    if (receiveBox_ == text)
        return;
    receiveBox_ = text;
    Q_EMIT receiveBoxChanged(text);
}
