#include "gui/console_key.hpp"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace quillan {

namespace {

// Puts the terminal into single-key mode for the life of the object.
class SingleKeyMode {
public:
    explicit SingleKeyMode(int fd) : fd_(fd) {
        if (tcgetattr(fd_, &saved_) != 0) return;
        termios raw = saved_;
        raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        active_ = tcsetattr(fd_, TCSANOW, &raw) == 0;
    }
    ~SingleKeyMode() {
        if (active_) tcsetattr(fd_, TCSANOW, &saved_);
    }
    SingleKeyMode(const SingleKeyMode&) = delete;
    SingleKeyMode& operator=(const SingleKeyMode&) = delete;

private:
    int fd_;
    termios saved_{};
    bool active_ = false;
};

}  // namespace

bool wait_for_console_key(int fd, const std::function<void()>& pump, const std::function<void()>& on_wait) {
    if (!isatty(fd)) return false;
    SingleKeyMode mode(fd);
    if (on_wait) on_wait();
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        const int ready = poll(&p, 1, 50);
        if (ready > 0) {
            // A key, or the terminal went away: either way the wait is over.
            char c;
            [[maybe_unused]] const auto n = read(fd, &c, 1);
            return true;
        }
        if (pump) pump();
    }
}

}  // namespace quillan
