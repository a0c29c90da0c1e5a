// How large a picture file is: its width and height in pixels at `dpi`
// pixels to the inch.  The pictures are laid out at 96 to the inch, so a
// picture of more dots to the inch is laid out smaller and drawn finer: at
// 300 dpi its text is as large on paper as at 96.  The window's export and
// quillan-batch --plot-size/--plot-dpi both say sizes this way.
#pragma once

#include "platform/error.hpp"

#include <string>

namespace quillan {

struct PictureSize {
    int width = 1000, height = 800;
    int dpi = 96;
    static constexpr int kMinPixels = 100, kMaxPixels = 20000, kMinDpi = 36, kMaxDpi = 2400;
    // The least layout whose titles, labels and legend fit: below it the text
    // is cut off or runs together (1000x800 at 300 dpi is laid out at 320x256).
    static constexpr int kMinLayoutWidth = 400, kMinLayoutHeight = 320;

    // The size the picture is laid out at.
    double layout_width() const { return width * 96.0 / dpi; }
    double layout_height() const { return height * 96.0 / dpi; }
    // Whether the text of a picture of this size crowds or leaves its frame.
    bool crowded() const { return layout_width() < kMinLayoutWidth || layout_height() < kMinLayoutHeight; }
    // Fails, saying the allowed ranges, for a size out of them.
    void check() const {
        if (width < kMinPixels || width > kMaxPixels || height < kMinPixels || height > kMaxPixels)
            throw QuillanError("A picture must be from " + std::to_string(kMinPixels) + " to " + std::to_string(kMaxPixels) +
                               " pixels wide and high, not " + std::to_string(width) + "x" + std::to_string(height) + ".");
        if (dpi < kMinDpi || dpi > kMaxDpi)
            throw QuillanError("A picture's resolution must be from " + std::to_string(kMinDpi) + " to " +
                               std::to_string(kMaxDpi) + " dots per inch, not " + std::to_string(dpi) + ".");
    }
};

}  // namespace quillan
