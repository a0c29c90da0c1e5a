#include "platform/stop_request.hpp"

#include "platform/error.hpp"

#include <atomic>

namespace quillan {

namespace {

// Lock-free, so that a signal handler may set it and any thread read it.
std::atomic<int> g_cause{0};
std::atomic<int (*)()> g_source{nullptr};
static_assert(std::atomic<int>::is_always_lock_free);

}  // namespace

void request_stop(int cause) noexcept {
    int none = 0;
    g_cause.compare_exchange_strong(none, cause);
}

int stop_cause() noexcept {
    if (int (*source)() = g_source.load(std::memory_order_relaxed)) return source();
    return g_cause.load(std::memory_order_relaxed);
}

void clear_stop() noexcept { g_cause.store(0); }

void stop_point() {
    if (stop_cause() != 0) throw Cancelled();
}

StopSource::StopSource(int (*cause)()) : previous_(g_source.exchange(cause)) {}

StopSource::~StopSource() { g_source.store(previous_); }

}  // namespace quillan
