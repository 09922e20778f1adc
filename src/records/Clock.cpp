#include "records/Clock.h"

namespace recordsclock {
namespace {
std::function<QDateTime()> &hook() {
    static std::function<QDateTime()> clock;
    return clock;
}
}  // namespace

QDateTime now() {
    return hook() ? hook()() : QDateTime::currentDateTime();
}

void set(std::function<QDateTime()> clock) {
    hook() = std::move(clock);
}
}  // namespace recordsclock
