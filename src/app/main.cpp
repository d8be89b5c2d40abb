// The window program: the application object, the hidden main window's start-up (settings,
// command line, socket layer), then the window and the message loop.
#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "control/command_error.h"
#include "control/command_line.h"
#include "platform/messages.h"
#include "ui/form1.h"

namespace {

void ShowStartupError(const std::string& message) {
    const std::string shown = corvane::control::WithFullStop(message);
    std::fprintf(stderr, "%s\n", shown.c_str());
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Corvane"), QString::fromStdString(shown),
                    QMessageBox::Ok);
    box.exec();
}

}  // namespace

int main(int argc, char* argv[]) {
    corvane::platform::UseUnixEventLoop();
    // Qt takes its own options (-platform, -display, ...) out of argc/argv here; the rest
    // follows the program's grammar.
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Corvane"));
    QApplication::setOrganizationName(QStringLiteral("Halvard"));
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        args.emplace_back(argv[i]);
    }

    try {
        corvane::ui::TForm1 form;
        switch (form.StartUp(args)) {
            case corvane::control::StartupResult::UsageError:
                ShowStartupError(corvane::control::kUsageText);
                return 0;
            case corvane::control::StartupResult::SocketsFailed:
                return 1;
            case corvane::control::StartupResult::Ready:
                break;
        }
        form.show();
        // Without a window manager (a bare X server) nothing activates a new window.
        form.activateWindow();
        return app.exec();
    } catch (const std::exception& e) {
        ShowStartupError(e.what());
        return 1;
    }
}
