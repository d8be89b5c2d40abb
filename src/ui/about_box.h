// The about box: the emblem, the program's name and version, the publisher and the home
// page address, closed by its Close button.
#pragma once

#include <QDialog>

#include "corvane_version.h"

class QLabel;
class QPushButton;

namespace corvane::ui {

inline constexpr const char* kVersionText = "Version " CORVANE_VERSION;
inline constexpr const char* kPublisher = "Halvard Software";

class TAboutBox final : public QDialog {
    Q_OBJECT
public:
    explicit TAboutBox(QWidget* parent);

    QLabel* Image1;
    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label4;
    QPushButton* OKButton;
};

}  // namespace corvane::ui
