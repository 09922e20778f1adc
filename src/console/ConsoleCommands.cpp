#include "console/ConsoleCommands.h"

#include "bus/Crc.h"
#include "bus/HexText.h"
#include "store/ValueText.h"

#include <iterator>

namespace console {

namespace {
struct Preset {
    const char *name;
    const char *command;
};

constexpr Preset kPresets[] = {
    {"采集温度", "01 04 00 00 00 01"},
    {"采集湿度", "01 04 00 01 00 01"},
    {"读模块地址", "01 03 00 00 00 01"},
    {"设置模块地址(修改xx)", "01 06 00 00 00 xx(请将xx改为新的模块地址)"},
    {"读模块速度", "01 03 00 01 00 01"},
    {"设置模块速度(修改xx)", "01 06 00 01 00 xx(请将xx改为新的速度类玛)"},
    {"读模块名称", "01 03 00 02 00 01"},
    {"设置模块名称(修改xx)", "01 06 00 02 xx xx(请将xx改为新的模块名称)"},
    {"读485收发间隔", "01 03 00 0D 00 01"},
    {"设置485收发间隔", "01 06 00 0D xx xx(请将xx改为新的485间隔)"},
};
constexpr int kPresetCount = int(std::size(kPresets));
}  // namespace

QStringList presetNames() {
    QStringList names;
    for (const Preset &p : kPresets) names << QString::fromUtf8(p.name);
    return names;
}

std::optional<QString> presetCommand(int index) {
    if (index < 0 || index >= kPresetCount)
        return std::nullopt;
    return QString::fromUtf8(kPresets[index].command);
}

CommandResult convertCommand(QString &text) {
    CommandResult result;
    const CommandBytes converted = commandTextToBytes(text);
    if (!converted.ok()) {
        result.error = QStringLiteral("命令中的“%1”超过FF，不能作为一个字节发送，请改正后再试")
                           .arg(converted.badText);
        return result;
    }
    if (converted.bytes.isEmpty()) {
        result.error = QStringLiteral("请先输入命令，例如：01 04 00 00 00 01");
        return result;
    }
    result.bytes = converted.bytes;
    return result;
}

CrcTexts crcTexts(const QByteArray &command) {
    quint8 low = 0, high = 0;
    GetCrc16(command, low, high);
    return {hexByte(low), hexByte(high)};
}

std::optional<quint8> moduleAddress(const QString &text) {
    const auto value = parseWholeNumber(text, 0, 255);
    if (!value)
        return std::nullopt;
    return quint8(*value);
}

QString badAddressText() {
    return QStringLiteral("模块地址无效：请输入0到255的整数");
}

}  // namespace console
