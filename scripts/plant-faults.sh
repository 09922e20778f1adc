#!/usr/bin/env bash
# Plants known faults, one at a time, in a copy of the tree, builds the copy,
# runs every test and says for each fault whether a test caught it. Shows
# that the tests, trimmed or not, still catch what they must.
#
#   scripts/plant-faults.sh            every fault
#   scripts/plant-faults.sh crc stale  only these
#   scripts/plant-faults.sh --list     the faults and what each one breaks
#
# The copy lives in ${QX7_FAULT_DIR:-/tmp/qx7-faults} and is kept, so that a
# second run only rebuilds what a fault touches. Needs perl, and what
# scripts/install-deps.sh installs.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
copy=${QX7_FAULT_DIR:-/tmp/qx7-faults}

# name | file | text as it is | text with the fault | what breaks
# (a text may hold newlines but never a '|')
faults=(
"crc|src/bus/Crc.cpp|^ 0xA001)|^ 0xA000)|every frame's CRC is wrong"
"silence|src/bus/FrameAssembler.h|kSilenceMs = 25;|kSilenceMs = 250;|a pause of 60 ms no longer ends a frame"
"frame-cap|src/bus/FrameAssembler.h|kMaxFrameBytes = 256;|kMaxFrameBytes = 1 << 30;|a line that never pauses gives one endless frame"
"stale|src/acquisition/AcquisitionCycle.cpp|nowMs - row.readAtMs > maxAgeMs)|false)|a reading is recorded however old it is"
"any-address|src/acquisition/AcquisitionJobs.cpp|cycle_.takeReading(*modules_, reply.address,|cycle_.takeReading(*modules_, cycle_.pendingAddress(),|a reading from another module is credited to the one polled"
"clock-on-failure|src/acquisition/AcquisitionJobs.cpp|        // The polling waits for the port; nothing is recorded meanwhile.
        clockTimer_->stop();|        // The polling waits for the port; nothing is recorded meanwhile.|a lost port leaves the record clock running"
"no-reopen|src/bus/BusLink.cpp|    reopenTimer_->start();
    setStatus(QStringLiteral(\"串口COM%1已断开|    reopenTimer_->stop();
    setStatus(QStringLiteral(\"串口COM%1已断开|a lost port is never reopened"
"utc|src/store/Statements.cpp|datetime('now','+8 hour')|datetime('now')|records are stamped in UTC instead of UTC + 8 hours"
"delete-fallback|src/records/Maintenance.cpp|    if (!ticked) {
        if (previous != ticked_.end())
            ticked_.erase(previous);|    if (!ticked) {
        ticked_.clear();|unticking one time box forgets the one still ticked"
"writer-drops|src/store/RecordWriter.cpp|        for (Group &g : queue_) ++g.attempts;|        queuedWrites_ -= int(queue_.front().writes.size());
        queue_.pop_front();
        for (Group &g : queue_) ++g.attempts;|records the database refused are thrown away"
"humidity-8000|src/console/ConsoleReplies.cpp|    if (out.measurement->humidityShowable())
        out.count|    if (true)
        out.count|a humidity of 0x8000 or more is counted as a good reading"
"title-suffix|src/app/Main.cpp|#include <QDir>

|#include <QDir>
#include <QGuiApplication>

static const int appended = [] {
    QGuiApplication::setApplicationDisplayName(QStringLiteral(\"温湿度采集软件\"));
    return 0;
}();
|every window title gets the program's name appended"
"temp-affinity|src/store/Schema.cpp|\"temp REAL, \"|\"temp TEXT, \"|temperatures compare as texts"
"mqtt-retain|src/mqtt/MqttFormat.cpp|MqttMessage{lastTopic(prefix, address), payload, true, 1}|MqttMessage{lastTopic(prefix, address), payload, false, 1}|the latest reading is not retained"
"mqtt-prefix|src/mqtt/MqttFormat.cpp|return prefix.toUtf8() + '/' + QByteArray::number(address)|return \"qx7/\" + QByteArray::number(address)|module topics ignore the prefix"
"mqtt-password|src/mqtt/MqttConnection.cpp|s.server = settings_.server();|s.server = settings_.server() + QLatin1Char(' ') + settings_.password;|the password shows in the status line"
"mqtt-unbounded|src/mqtt/MqttQueue.cpp|while (size() > limit_ && !fifo_.empty())|while (size() > (1 << 30) && !fifo_.empty())|the queue grows without bound while the broker is away"
"mqtt-no-will|src/mqtt/MqttClient.cpp|        mosquitto_will_set(client_, will->topic.constData(), int(will->payload.size()),
                           will->payload.constData(), will->qos, will->retain);|        (void)will;|nobody says \"offline\" when the program dies"
"mqtt-drop-in-flight|src/mqtt/MqttConnection.cpp|        transport_.reset();
    }
    queue_.requeueInFlight();|        transport_.reset();
    }
    queue_.dropInFlight();|the message on its way when the connection breaks is lost"
"mqtt-goodbye-reconnects|src/mqtt/MqttConnection.cpp|        case State::SayingGoodbye:
            onGoodbyeDone();
            break;|        case State::SayingGoodbye:
            onBackoffElapsed();
            break;|a stop whose \"offline\" is never acknowledged connects again instead of ending"
"mqtt-untick|src/mqtt/ui/MqttSettingsDialog.cpp|        if (publisher)
            publisher->apply(std::nullopt);|        (void)publisher;|saving with MQTT unticked leaves the publisher running"
"console-any-address|src/console/ConsoleReplies.cpp|checkMeasurementReply(text, expectedAddress)|checkMeasurementReply(text, text.mid(1, 2).toInt(nullptr, 16))|the console believes a poll reply from any module"
"console-preset|src/console/ConsoleCommands.cpp|{\"读485收发间隔\", \"01 03 00 0D 00 01\"}|{\"读485收发间隔\", \"01 03 00 0E 00 01\"}|the preset 读485收发间隔 reads the wrong register"
"token-above-ff|src/bus/HexText.cpp|        if (v > 0xFF) {
            out.bytes.clear();|        if (v > 0xFFFF) {
            out.bytes.clear();|a command token above FF is sent as its low byte"
"receive-lowercase|src/bus/HexText.cpp|    return out;
}

QStringList receiveFields|    return out.toLower();
}

QStringList receiveFields|receive texts are written in lower case"
"crc-swapped|src/bus/Frames.cpp|    frame.append(char(low));
    frame.append(char(high));|    frame.append(char(high));
    frame.append(char(low));|every frame carries its CRC high byte first"
"port-index|src/bus/PortSettings.cpp|sql::updatePortSetting(commPort - 1)|sql::updatePortSetting(commPort)|the serial settings dialog saves the port one too high"
"writer-partial|src/store/RecordWriter.cpp|ok = ok && tx.commit();|ok = tx.commit() && ok;|part of a group that failed is stored, and again when it is retried"
"writer-no-set-aside|src/store/RecordWriter.cpp|            } else if (++queue_.front().hardFailures >= kSetAsideTries) {|            } else if (false) {|one write that always fails holds up every record behind it"
"record-second|src/store/RecordWriter.cpp|nowTime == dueTime && msec < RecordWriter::kSecondMarginMs|nowTime.left(16) == dueTime.left(16)|a record stored a second late is stamped with the second it is stored"
"alarms-never-end|src/alarms/AlarmRecorder.cpp|    record(monitor_.endAll(now()));|    (void)0;|stopping the acquisition leaves its alarms without an end"
"alarms-left-open|src/alarms/AlarmRecorder.cpp|    writer_->submit({{statement, statement, QString(), clock_.steadyMs(), true}});|    (void)statement;|an alarm an earlier run left open never ends"
"lost-port-silent|src/acquisition/AcquisitionJobs.cpp|        // Nothing can go out: the module is as unanswered as on a silent bus.
        Q_EMIT pollFailed(step.position, step.address);|        // Nothing can go out.|a lost port raises no no-reply alarm"
"editor-follows-selection|src/app/Module1.cpp|    editor->showModule(row);|    if (!editor->module())
        editor->showModule(row);|a double click on another row leaves the editor on the first module"
"sim-bad-crc|tools/qx7sim/SimBus.cpp|!sealOk(request)) {|false) {|the simulator answers a request with a wrong CRC"
"sim-crc|tools/qx7sim/SimFrames.cpp|(v & 1u) ? 0xA001u : 0u|(v & 1u) ? 0xA000u : 0u|the simulator seals its replies with a wrong CRC of its own"
"data-folder|src/store/DataFolder.cpp|    if (canCreateFiles(own))|    if (!own.isEmpty())|an installed program keeps its database beside itself in a folder it cannot write"
"demodb-module|tools/qx7demodb/main.cpp|QStringList modules{QStringLiteral(\"1\"), QStringLiteral(\"2\"), QStringLiteral(\"3\")};|QStringList modules{QStringLiteral(\"1\"), QStringLiteral(\"2\")};|the demo database registers modules 1 and 2 only"
"console-beside|src/app/MDImain.cpp|void MDImain::showAcquisition() {
    closeActiveChild();|void MDImain::showAcquisition() {|温湿度采集 leaves the console open beside it"
"alarm-flapping|src/alarms/AlarmMonitor.cpp|? (temperatureKind ? kTemperatureHysteresis : kHumidityHysteresis)|? 0.0|an alarm ends as soon as the value is back at its limit"
"alarm-two-polls|src/alarms/AlarmMonitor.h|kNoReplyPolls = 3;|kNoReplyPolls = 2;|two unanswered polls start the no-reply alarm"
"alarm-any-flag|src/services/AppServices.cpp|row.alarm != QStringLiteral(\"是\")|false|modules whose 报警 is 否 raise alarms"
"alarm-log-dropped|src/store/RecordWriter.cpp|            if (writes[i].keep) {|            if (false) {|alarm log rows that waited an hour are dropped"
"list-page-size|src/records/RecordListPass.h|if (++inPage_ == pageRows_)|if (++inPage_ > pageRows_)|the list's pages start a row late: records repeat and go missing from page to page"
"list-scrolled|src/records/PagedListModel.cpp|return cell(top_ + index.row(), index.column());|return cell(index.row(), index.column());|the list shows its first records wherever it is scrolled to"
"stats-mean|src/records/RecordStats.cpp|sumOther_ * 10.0|sumOther_|values not kept in tenths count a tenth of themselves in the mean"
"chart-bucket-end|src/records/ChartData.cpp|std::min<qint64>(first + bucketRows_, count_) - 1;|std::min<qint64>(first + bucketRows_, count_);|a chart bucket over several pixel columns is drawn from its four summary points"
"csv-last-page|src/records/RecordCsv.cpp|scan.limitTo(index.lastId);|scan.limitTo(index.pageStarts.empty() ? 0 : index.pageStarts.back());|the CSV file loses all but the first record of the last page"
"cancel-busy-wait|src/store/RowScan.h|return cancelled_ && cancelled_();|return false;|a cancelled pass still waits ten seconds for a file another program holds"
"filter-hum-low|src/records/RecordQuery.cpp|recordHumidityCondition(rule.compare, texts.humLow.trimmed())|recordHumidityCondition(rule.compare, texts.humHigh.trimmed())|the humidity's lower bound takes the upper bound's text"
"notify-rowid|src/notify/NotifyStatements.cpp|\"select (select max(id) from alarmlog), id,|\"select last_insert_rowid(), id,|the second channel's message of an alarm points at another alarm"
"notify-flood|src/notify/Notifier.cpp|state.nextAt = now_.steady + kSpacingMs;|state.nextAt = now_.steady;|alarms within 10 s go out as one message each"
"notify-errcode|src/notify/NotifyMessage.cpp|return {code.toInteger() == 0 && code.toDouble() == 0, text};|return {true, text};|a robot's refusal counts as delivered"
"notify-no-backoff|src/notify/Notifier.cpp|qMin(state.pause * 2, kMaxRetryMs)|kFirstRetryMs|a channel that keeps failing is tried every 10 s"
"beside-port|src/services/AppServices.cpp|    if (bus_->isHeldOutside()) {
        result.heldOutside|    if (false) {
        result.heldOutside|the desktop program beside a running logger tries the port at start"
"beside-mirror|src/services/AppServices.cpp|    acquisition_->showOutside(status);|    (void)status;|the desktop program beside a running logger shows none of its readings"
"shared-folder|src/services/AppServices.cpp|            shareWithFolderGroup(databasePath_);|            (void)databasePath_;|a database made in the service's shared folder is not writable by the service"
"logger-edits|src/logger/Logger.cpp|if (modules != modulesPrint_) {|if (false) {|the logger never picks up an edit of the module list"
)

if [ "${1:-}" = "--list" ]; then
    for f in "${faults[@]}"; do
        name=${f%%|*}
        echo "$name: ${f##*|}"
    done
    exit 0
fi

wanted=("$@")
selected() {
    [ ${#wanted[@]} -eq 0 ] && return 0
    local w
    for w in "${wanted[@]}"; do [ "$w" = "$1" ] && return 0; done
    return 1
}

# A fresh copy of the tracked files (what is committed or staged now).
mkdir -p "$copy"
git ls-files -z | (cd "$top" && xargs -0 tar -cf - 2>/dev/null) | tar -xf - -C "$copy"
cd "$copy"
build() {
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null &&
        cmake --build build --parallel "$(nproc)" >build.log 2>&1
}
echo "building the copy in $copy ..."
build || { echo "the unchanged copy does not build; see $copy/build.log" >&2; exit 1; }

caught=0
missed=0
for f in "${faults[@]}"; do
    # Split on '|'. The texts may hold newlines, so no line-based tool here.
    name=${f%%|*}
    rest=${f#*|}
    selected "$name" || continue
    file=${rest%%|*}
    rest=${rest#*|}
    from=${rest%%|*}
    rest=${rest#*|}
    to=${rest%%|*}
    what=${rest#*|}
    # The copy's own file is the original: the tree may change meanwhile.
    cp "$file" "$file.unplanted"
    if ! FROM="$from" TO="$to" perl -0pi -e '$n = s/\Q$ENV{FROM}\E/$ENV{TO}/; END { exit($n ? 0 : 3) }' "$file"; then
        echo "$name: the text to change is not in $file any more; update this script"
        missed=$((missed + 1))
        rm -f "$file.unplanted"
        continue
    fi
    if ! build; then
        echo "$name: caught by the build ($what)"
        caught=$((caught + 1))
    else
        # ctest fails when a test does: that is the point, not an error here.
        failing=$( (cd build && QT_QPA_PLATFORM=offscreen ctest --parallel "$(nproc)" 2>&1 || true) |
            sed -n 's/^[[:space:]]*[0-9]* - \([a-z0-9_]*\) (.*/\1/p' | tr '\n' ' ')
        if [ -n "$failing" ]; then
            echo "$name: caught by $failing($what)"
            caught=$((caught + 1))
        else
            echo "$name: MISSED ($what)"
            missed=$((missed + 1))
        fi
    fi
    # Put back by copying, not moving: the file must come out newer than
    # what the planted build made of it, or the build keeps the fault.
    cp "$file.unplanted" "$file"
    rm -f "$file.unplanted"
done
build >/dev/null 2>&1 || true
echo "caught $caught, missed $missed"
[ "$missed" -eq 0 ]
