// The product's home page, shown in the about box and opened by the Home Page command.
#pragma once

#include "corvane_version.h"

namespace corvane::ui {

inline constexpr const char* kHomePageUrl = CORVANE_HOME_PAGE;

}  // namespace corvane::ui
