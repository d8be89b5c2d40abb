// The product's home page, shown in the about box and opened by the Home Page command: the
// help installed with the program, CORVANE.HLP (HTML), found as the Contents command finds
// it, as a file URL.
#pragma once

#include <QUrl>

#include "ui/help_viewer.h"

namespace corvane::ui {

// Empty when the help file cannot be found.
inline QUrl HomePageUrl() {
    const QString path = FindHelpFile();
    return path.isEmpty() ? QUrl() : QUrl::fromLocalFile(path);
}

}  // namespace corvane::ui
