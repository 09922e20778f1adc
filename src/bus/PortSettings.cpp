#include "bus/PortSettings.h"

#include "bus/SerialPort.h"
#include "store/LiteConnection.h"
#include "store/Statements.h"
#include "store/ValueText.h"

namespace {
// The value of a settings row: missing (no row), or its text.
struct Row {
    bool found = false;
    QString value;
    QString error;
};

Row readRow(LiteConnection &db, const QString &sql) {
    Row row;
    LiteStatement st = db.prepare(sql);
    if (!st.Step()) {
        row.error = st.error();
        return row;
    }
    if (!st.done()) {
        row.found = true;
        row.value = cellText(st.ColumnValue(st.ColumnName(1)));
    }
    return row;
}
}  // namespace

std::optional<int> PortSettings::commPortOf(const QString &stored) {
    // Port numbers beyond 9 cannot be chosen in the dialog, but a number set
    // in the file is still a port this machine may have.
    const auto index = parseWholeNumber(stored, 0, 254);
    if (!index)
        return std::nullopt;
    return int(*index) + 1;
}

PortSettings PortSettings::load(LiteConnection &db) {
    PortSettings s;
    const Row port = readRow(db, sql::selectPortSetting());
    if (!port.error.isEmpty())
        s.problems << QStringLiteral("无法读取串口设置：") + port.error;
    else if (!port.found)
        s.problems << QStringLiteral("无法读取串口设置：syssetting中缺少rs232port");
    else if (!(s.commPort = commPortOf(port.value)))
        s.problems << QStringLiteral(
                          "串口设置rs232port的值“%1”无效（应为0到254的整数），"
                          "串口未打开，请在“串口设置”中选择串口")
                          .arg(port.value);

    const Row speed = readRow(db, sql::selectSpeedSetting());
    if (!speed.error.isEmpty())
        s.problems << QStringLiteral("无法读取串口速度：") + speed.error;
    else if (!speed.found)
        s.problems << QStringLiteral("无法读取串口速度：syssetting中缺少rs232speed，使用9600");
    else if (!SerialPort::validSpeed(speed.value))
        s.problems << QStringLiteral("串口速度rs232speed的值“%1”无效，使用9600").arg(speed.value);
    else
        s.speed = speed.value.trimmed();
    return s;
}

bool PortSettings::save(LiteConnection &db, int commPort, const QString &speed, QString *error) {
    LiteTransaction transaction(db);
    const bool saved = db.Execute(sql::updatePortSetting(commPort - 1)) &&
                       db.Execute(sql::updateSpeedSetting(speed.trimmed())) && transaction.commit();
    if (!saved && error)
        *error = db.lastError();
    return saved;
}
