#pragma once

#include <QDateTime>

#include <functional>

// The clock of the record windows (quick period filters, backup file names).
// Tests put a fixed time here; an empty function gives the real clock back.
namespace recordsclock {
QDateTime now();
void set(std::function<QDateTime()> clock);
}  // namespace recordsclock
