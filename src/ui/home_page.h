// The product's home page, shown in the about box and opened by the Home Page command.
#pragma once

namespace corvane::ui {

inline constexpr const char* kHomePageUrl = "https://corvane.example.org/";

}  // namespace corvane::ui
