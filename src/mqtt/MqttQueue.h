#pragma once

#include "mqtt/MqttFormat.h"

#include <deque>
#include <optional>
#include <vector>

// The messages waiting for the broker, in the order they must reach it, with
// at most one of them on its way (sent, its acknowledgement not yet back).
//
// - Messages that are not retained wait in arrival order. When more than
//   limit() messages wait, the oldest go first (they are counted in dropped()).
// - A retained message stands for the latest value of its topic, so only the
//   newest one per topic waits: a newer one replaces it. Retained messages go
//   out before the others, so that a dashboard shows the current values at
//   once after a reconnection while the history catches up.
// - One message at a time is in flight. When the connection is lost before
//   its acknowledgement came back, it goes back to the head of its line and
//   is sent again first on the next connection. Nothing is ever sent out of
//   order; a subscriber can see a message twice only when the connection broke
//   while that message was in flight (the broker may have had it already), and
//   then the repeat follows the first copy directly.
class MqttQueue {
public:
    static constexpr int kDefaultLimit = 10000;

    explicit MqttQueue(int limit = kDefaultLimit) : limit_(limit > 0 ? limit : 1) {}

    int limit() const { return limit_; }
    void setLimit(int limit);

    // Appends a message. Returns how many older messages were dropped to keep
    // within the limit (0 almost always).
    int push(const MqttMessage &message);

    // A message waits and none is in flight.
    bool canSend() const;
    // Takes the next message to send and marks it in flight; nothing when
    // canSend() is false.
    std::optional<MqttMessage> takeNext();
    // The broker's id of the message in flight (given by the client library).
    void setInFlightId(int mid);
    // The acknowledgement of `mid` came back: true when it was the message
    // in flight, which is then done.
    bool acknowledge(int mid);
    // The connection went before the acknowledgement: the message in flight
    // waits again, first in its line (unless a newer value of the same retained
    // topic arrived meanwhile).
    void requeueInFlight();
    // The message in flight cannot be sent at all (the library refuses it):
    // it is given up.
    void dropInFlight();

    bool hasInFlight() const { return inFlight_.has_value(); }
    // Messages waiting or in flight.
    int size() const;
    bool isEmpty() const { return size() == 0; }
    // Messages dropped because the queue was full, since it was made.
    quint64 dropped() const { return dropped_; }
    // Messages were dropped since the queue was last empty.
    bool overflowing() const { return overflowing_; }
    void clear();

private:
    struct InFlight {
        MqttMessage message;
        int mid = -1;
    };
    int trim();
    void noteIfEmpty();
    std::vector<MqttMessage>::iterator retainedFor(const QByteArray &topic);

    int limit_;
    std::deque<MqttMessage> fifo_;
    std::vector<MqttMessage> retained_;  // one per topic, in order of first arrival
    std::optional<InFlight> inFlight_;
    quint64 dropped_ = 0;
    bool overflowing_ = false;
};
