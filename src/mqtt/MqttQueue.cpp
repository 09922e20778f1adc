#include "mqtt/MqttQueue.h"

#include <algorithm>

void MqttQueue::setLimit(int limit) {
    limit_ = limit > 0 ? limit : 1;
    trim();
}

std::vector<MqttMessage>::iterator MqttQueue::retainedFor(const QByteArray &topic) {
    return std::find_if(retained_.begin(), retained_.end(),
                        [&](const MqttMessage &m) { return m.topic == topic; });
}

int MqttQueue::push(const MqttMessage &message) {
    if (message.retain) {
        const auto it = retainedFor(message.topic);
        if (it != retained_.end()) {
            *it = message;
            return 0;
        }
        retained_.push_back(message);
    } else {
        fifo_.push_back(message);
    }
    return trim();
}

int MqttQueue::trim() {
    // The latest values (one per topic) are few and always kept; the history
    // gives way, oldest first.
    int dropped = 0;
    while (size() > limit_ && !fifo_.empty()) {
        fifo_.pop_front();
        ++dropped;
    }
    dropped_ += quint64(dropped);
    if (dropped > 0)
        overflowing_ = true;
    return dropped;
}

bool MqttQueue::canSend() const {
    return !inFlight_ && (!retained_.empty() || !fifo_.empty());
}

std::optional<MqttMessage> MqttQueue::takeNext() {
    if (!canSend())
        return std::nullopt;
    if (!retained_.empty()) {
        inFlight_ = InFlight{retained_.front(), -1};
        retained_.erase(retained_.begin());
    } else {
        inFlight_ = InFlight{fifo_.front(), -1};
        fifo_.pop_front();
    }
    return inFlight_->message;
}

void MqttQueue::setInFlightId(int mid) {
    if (inFlight_)
        inFlight_->mid = mid;
}

bool MqttQueue::acknowledge(int mid) {
    if (!inFlight_ || inFlight_->mid != mid)
        return false;
    inFlight_.reset();
    noteIfEmpty();
    return true;
}

void MqttQueue::noteIfEmpty() {
    if (isEmpty())
        overflowing_ = false;
}

void MqttQueue::requeueInFlight() {
    if (!inFlight_)
        return;
    MqttMessage m = std::move(inFlight_->message);
    inFlight_.reset();
    if (m.retain) {
        // A newer value of the topic, if one came meanwhile, makes it moot.
        if (retainedFor(m.topic) == retained_.end())
            retained_.insert(retained_.begin(), std::move(m));
    } else {
        fifo_.push_front(std::move(m));
    }
    trim();
}

void MqttQueue::dropInFlight() {
    inFlight_.reset();
    noteIfEmpty();
}

int MqttQueue::size() const {
    return int(fifo_.size() + retained_.size()) + (inFlight_ ? 1 : 0);
}

void MqttQueue::clear() {
    fifo_.clear();
    retained_.clear();
    inFlight_.reset();
    overflowing_ = false;
}
