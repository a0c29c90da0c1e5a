#include "batch/stop_signals.hpp"

#include "platform/stop_request.hpp"

#include <csignal>

namespace quillan {

namespace {

struct sigaction g_old_int, g_old_term;

extern "C" void record_stop(int signal) { request_stop(signal); }

}  // namespace

StopSignals::StopSignals() {
    struct sigaction sa {};
    sa.sa_handler = record_stop;
    sigemptyset(&sa.sa_mask);
    // Not one-shot: a signal that came while a step was busy elsewhere is
    // still only a request, and so is the next one.
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, &g_old_int);
    sigaction(SIGTERM, &sa, &g_old_term);
}

StopSignals::~StopSignals() {
    sigaction(SIGINT, &g_old_int, nullptr);
    sigaction(SIGTERM, &g_old_term, nullptr);
}

int StopSignals::received() { return stop_cause(); }

}  // namespace quillan
