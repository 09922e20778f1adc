#include "records/FilterText.h"

#include "records/RecordQuery.h"
#include "store/ValueText.h"

#include <climits>

namespace filtertext {

QString checkAddress(const QString &text, const QString &box) {
    if (parseWholeNumber(text, 0, INT_MAX))
        return {};
    return QStringLiteral("“%2”的模块地址“%1”无效，请输入一个整数。").arg(text, box);
}

QString checkTime(const QString &text, const QString &box) {
    if (isRecordTime(text.trimmed()))
        return {};
    return QStringLiteral("“%2”的时间“%1”无效，请按 YYYY-MM-DD HH:MM:SS 的格式输入。")
        .arg(text, box);
}

QString checkTimeText(const QString &text, const QString &box) {
    bool safe = text.isValidUtf16();
    for (const QChar c : text) safe = safe && c.unicode() >= 0x20 && c.unicode() != 0x7f;
    if (safe)
        return {};
    return QStringLiteral("“%2”的时间“%1”含有不能用在查询中的字符。").arg(text, box);
}

QString checkBound(const QString &text, const QString &what, const QString &box) {
    if (parseDecimal(text))
        return {};
    return QStringLiteral("“%3”的%1“%2”不是数字。").arg(what, text, box);
}

QString checkPeriod(const QString &text, const QString &box) {
    if (periodMilliseconds(text))
        return {};
    return QStringLiteral("“%2”的更新周期“%1”无效，请输入大于0的秒数。").arg(text, box);
}

}  // namespace filtertext
