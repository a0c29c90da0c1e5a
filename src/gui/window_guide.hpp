// The guide the window's Help > Guide (F1) shows: how a first analysis goes,
// page by page, in a few paragraphs.
#pragma once

namespace quillan {

const char* window_guide_text();

}  // namespace quillan
