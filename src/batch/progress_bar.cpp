#include "batch/progress_bar.hpp"

#include <cmath>
#include <cstdio>

namespace quillan {

namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

std::string duration_text(double seconds) {
    char buf[32];
    const long long s = std::llround(seconds);
    if (s < 60) std::snprintf(buf, sizeof buf, "%llds", s);
    else if (s < 3600) std::snprintf(buf, sizeof buf, "%lldm%02llds", s / 60, s % 60);
    else std::snprintf(buf, sizeof buf, "%lldh%02lldm", s / 3600, (s % 3600) / 60);
    return buf;
}

}  // namespace

std::string ProgressBar::line(const std::string& action, long long done, long long total, double elapsed) {
    if (total <= 0) return action + "  working";
    if (done < 0) done = 0;
    if (done > total) done = total;
    const double fraction = static_cast<double>(done) / static_cast<double>(total);
    constexpr int kCells = 20;
    const int full = static_cast<int>(fraction * kCells);
    std::string bar =
        "[" + std::string(static_cast<std::size_t>(full), '#') + std::string(static_cast<std::size_t>(kCells - full), '.') + "]";
    char buf[160];
    std::snprintf(buf, sizeof buf, "  %lld/%lld  %3d%%", done, total, static_cast<int>(fraction * 100.0));
    std::string text = action + "  " + bar + buf;
    if (elapsed > 0.0 && done > 0) {
        const double rate = static_cast<double>(done) / elapsed;
        std::snprintf(buf, sizeof buf, "  %.0f/s  %s left", rate,
                      duration_text(static_cast<double>(total - done) / rate).c_str());
        text += buf;
    }
    return text;
}

void ProgressBar::update(long long done, long long total, Clock::time_point now) {
    if (total != total_ || done < last_done_) {
        total_ = total;
        start_ = now;
        last_draw_ = Clock::time_point{};
    }
    last_done_ = done;
    const bool finished = total > 0 && done >= total;
    if (drawn_ && !finished && now - last_draw_ < kRedrawInterval) return;
    last_draw_ = now;
    const double elapsed = std::chrono::duration<double>(now - start_).count();
    // Carriage return, the line, then erase whatever an earlier, longer line left.
    out_ << '\r' << line(action_, done, total, elapsed) << "\x1b[K" << std::flush;
    drawn_ = true;
}

void ProgressBar::erase() {
    if (!drawn_) return;
    out_ << "\r\x1b[K" << std::flush;
    drawn_ = false;
}

}  // namespace quillan
