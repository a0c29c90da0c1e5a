// The analysis actions the dispatcher can run, by action name.
#pragma once

#include "shell/env.hpp"

#include <string>

namespace quillan {

using AnalysisFn = void (*)(ActionEnv&);

// The analysis bound to an action name, or nullptr.
AnalysisFn find_analysis(const std::string& action);

}  // namespace quillan
