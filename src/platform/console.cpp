#include "platform/console.hpp"

namespace quillan {

void Console::line(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    *out_ << text << '\n';
    out_->flush();
}

void Console::echo(const std::string& name, const Value& value) { line(name + " = " + describe(value)); }

}  // namespace quillan
