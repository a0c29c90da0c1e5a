// Shapes of code the function-length listing must measure right: each
// function's expected length is in tests/scripts/function_lengths.sh.
#include <string>
#include <vector>

#define BRACES(a) \
    { a }

namespace sample {

struct Counter : Base {
public:
    Counter(int start) : count_{start}, step_(1) {
        // A brace in a character literal and in a comment: { {
        if (start == '{') step_ = 2;
    }
    int count() const { return count_; }
    bool operator==(const Counter& other) const {
        const std::string text = "}}";
        return count_ == other.count_ && !text.empty();
    }
    auto steps() const -> std::vector<int> { return {step_, step_}; }

private:
    int count_{0};
    int step_ = 1;
};

const auto twice_lambda = [](int x) {
    const int y = 2 * x;
    return y;
};
const int kTable[] = {1, 2, 3};

template <typename T>
T twice(T t) {
    /* } */ return t + t;  // }
}

const char* kRaw = R"(
}}}
)";

enum class Side { left, right };

long separated() noexcept {
    long v = 1'000'000;
    if (v > 0) {
        v += 1;
    }
    return v;
}

}  // namespace sample
