#include "batch/stop_signals.hpp"

#include <csignal>

namespace quillan {

namespace {

volatile std::sig_atomic_t g_received = 0;
struct sigaction g_old_int, g_old_term;

extern "C" void record_stop(int signal) { g_received = signal; }

}  // namespace

StopSignals::StopSignals() {
    struct sigaction sa {};
    sa.sa_handler = record_stop;
    sigemptyset(&sa.sa_mask);
    // One-shot: the handler puts the default action back, so a second Ctrl-C
    // ends a program that does not stop soon enough.
    sa.sa_flags = SA_RESETHAND | SA_RESTART;
    sigaction(SIGINT, &sa, &g_old_int);
    sigaction(SIGTERM, &sa, &g_old_term);
}

StopSignals::~StopSignals() {
    sigaction(SIGINT, &g_old_int, nullptr);
    sigaction(SIGTERM, &g_old_term, nullptr);
}

int StopSignals::received() { return static_cast<int>(g_received); }

}  // namespace quillan
