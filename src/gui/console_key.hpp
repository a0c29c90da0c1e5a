// The pause for a key press.  It waits only when the input is a terminal a
// user can type into; started from a desktop launcher (input from /dev/null
// or a pipe) there is nobody to press a key, so it returns at once instead of
// freezing the window.
#pragma once

#include <functional>

namespace quillan {

// Waits for one key on `fd` when it is a terminal, calling `pump` about
// every 50 ms meanwhile so the window keeps painting.  `on_wait` is called
// once before the wait starts, so the user can be told where to press.
// Returns whether it waited.
bool wait_for_console_key(int fd, const std::function<void()>& pump, const std::function<void()>& on_wait = {});

}  // namespace quillan
