#include "batch/stop_signals.hpp"

#include "platform/stop_request.hpp"

#include <csignal>

namespace quillan {

namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction g_old[3];
int g_holders = 0;
bool g_keep = false;

extern "C" void record_stop(int signal) { request_stop(signal); }

}  // namespace

StopSignals::StopSignals() {
    if (g_holders++ > 0) return;
    struct sigaction sa {};
    sa.sa_handler = record_stop;
    sigemptyset(&sa.sa_mask);
    // Not one-shot: a signal that came while a step was busy elsewhere is
    // still only a request, and so is the next one.
    sa.sa_flags = SA_RESTART;
    for (int i = 0; i < 3; ++i) sigaction(kStopSignals[i], &sa, &g_old[i]);
    // A run handed over by quillan-batch to the picture program comes with
    // the signals blocked, and one sent in between still pending: it is
    // taken now, by the handler.
    sigset_t stops;
    sigemptyset(&stops);
    for (int i = 0; i < 3; ++i) sigaddset(&stops, kStopSignals[i]);
    pthread_sigmask(SIG_UNBLOCK, &stops, nullptr);
}

StopSignals::~StopSignals() {
    if (--g_holders > 0 || g_keep) return;
    for (int i = 0; i < 3; ++i) sigaction(kStopSignals[i], &g_old[i], nullptr);
}

int StopSignals::received() { return stop_cause(); }

void StopSignals::keep_to_exit() { g_keep = true; }

}  // namespace quillan
