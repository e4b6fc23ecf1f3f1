// What the score server counts as it runs, for the web board's /metrics: written by the thread
// that answers submissions, read by the web thread, so every figure is atomic.
#pragma once

#include <array>
#include <atomic>

enum class RejectReason
{
    Invalid,    // not a valid submission
    TooLarge,   // more bytes than a submission can have
    TooSlow,    // took longer than a connection may
    Idle,       // nothing arrived
    Evicted,    // held its place too long without completing while others waited
    Busy,       // waited too long for a place, or the queue of those waiting was full
    Stopping,   // the server was stopping
    Incomplete, // the connection closed before the submission was whole
    NotStored   // the database could not store it
};
inline constexpr int RejectReasonCount = 9;

// The reason as a Prometheus label value.
inline const char *reasonLabel(RejectReason reason)
{
    static constexpr const char *labels[RejectReasonCount] = {
        "invalid", "too_large", "too_slow",   "idle",      "evicted",
        "busy",    "stopping",  "incomplete", "not_stored"};
    return labels[static_cast<int>(reason)];
}

struct ServerMetrics
{
    std::atomic<long long> accepted{0};
    std::array<std::atomic<long long>, RejectReasonCount> rejected{};
    std::atomic<int> openConnections{0};    // being read, answered or closing
    std::atomic<int> waitingConnections{0}; // accepted, waiting for a place
};
