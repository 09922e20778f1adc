#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// What the console does with the command box, the address box and the
// counter boxes, without the widgets.

namespace console {

// The ten common commands of Combo2: the item texts and the command texts
// they put into the command box. All of them address module 1.
QStringList presetNames();
// The command text of preset `index` (0 to 9); nothing for any other index.
std::optional<QString> presetCommand(int index);

// A command text turned into bytes, or the reason it cannot be.
struct CommandResult {
    QByteArray bytes;  // the command bytes, without CRC
    QString error;     // what is wrong with the text; empty when it converts
    bool ok() const { return error.isEmpty(); }
};

// Trims `text` in place (the box shows the trimmed text afterwards) and
// converts it token by token. An empty text and a token above FF are errors.
CommandResult convertCommand(QString &text);

// The CRC of a command as the two boxes show it, low byte first.
struct CrcTexts {
    QString low;
    QString high;
};
CrcTexts crcTexts(const QByteArray &command);

// The module address box: a whole decimal number from 0 to 255, blanks
// around it allowed. Both links read it this way.
std::optional<quint8> moduleAddress(const QString &text);
// What the window says when the address box holds anything else.
QString badAddressText();

}  // namespace console
