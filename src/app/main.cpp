// The window program: the application object, the hidden main window's start-up (settings,
// command line, socket layer), then the window and the message loop.
#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "control/command_error.h"
#include "control/command_line.h"
#include "platform/messages.h"
#include "ui/form1.h"

namespace {

void PrintStartupError(const std::string& message) {
    const std::string shown = corvane::control::WithFullStop(message);
    std::fprintf(stderr, "%s\n", shown.c_str());
}

void ShowStartupError(const std::string& message) {
    PrintStartupError(message);
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Corvane"),
                    QString::fromStdString(corvane::control::WithFullStop(message)),
                    QMessageBox::Ok);
    box.exec();
}

// True when nothing tells Qt where to show a window: no X display, no Wayland display, no
// platform in the environment, and no -platform or -display among Qt's own options (which
// Qt also takes with two dashes). The default platform would abort the program then.
bool NoDisplayAvailable(int argc, char* argv[]) {
    if (!qEnvironmentVariableIsEmpty("DISPLAY") ||
        !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
        !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        return false;
    }
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strncmp(arg, "--", 2) == 0) {
            ++arg;
        }
        if (std::strcmp(arg, "-platform") == 0 || std::strcmp(arg, "-display") == 0) {
            return false;
        }
    }
    return true;
}

// True when Qt would take its default platform, xcb: nothing names a platform in the
// environment or among Qt's options, and the session is not a Wayland one (where Qt tries
// Wayland first). When xcb cannot open its display, Qt aborts.
bool DefaultX11Platform(int argc, char* argv[]) {
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") ||
        qgetenv("XDG_SESSION_TYPE") == QByteArrayLiteral("wayland")) {
        return false;
    }
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strncmp(arg, "--", 2) == 0) {
            ++arg;
        }
        if (std::strcmp(arg, "-platform") == 0) {
            return false;
        }
    }
    return true;
}

// Without a display the command line is still checked, so that a usage error reads the
// same everywhere; there is no window to show otherwise. `reason` says why there is none.
int RunWithoutDisplay(const std::vector<std::string>& args, const char* reason) {
    corvane::control::Settings scratch;  // nothing is loaded or stored
    std::string problem;
    if (corvane::control::ParseCommandLine(args, scratch, &problem) ==
        corvane::control::CommandLineResult::UsageError) {
        PrintStartupError(corvane::control::UsageErrorText(corvane::control::kUsageText, problem));
        return 0;
    }
    std::fprintf(stderr,
                 "corvane: no display is available (%s); use corvane-cli to relay without a "
                 "window.\n",
                 reason);
    return 1;
}

}  // namespace

int main(int argc, char* argv[]) {
    // "--version" and "--help" are answered before Qt starts: they need no display.
    if (const auto text =
            corvane::control::AnswerInfoRequest(std::vector<std::string>(argv + 1, argv + argc),
                                                "corvane", corvane::control::kHelpText)) {
        std::fputs(text->c_str(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    corvane::platform::UseUnixEventLoop();
    const bool noDisplay = NoDisplayAvailable(argc, argv);
    // A display named but not there: xcb fails, and the platform that needs no display
    // takes its place instead of Qt's abort.
    const bool fallBack = !noDisplay && DefaultX11Platform(argc, argv);
    if (noDisplay) {
        // A platform that needs no display, so that the application object can still take
        // Qt's own options out of the command line exactly as it always does.
        qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("minimal"));
    } else if (fallBack) {
        qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("xcb;minimal"));
    }
    // Qt takes its own options (-platform, -display, ...) out of argc/argv here; the rest
    // follows the program's grammar.
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Corvane"));
    QApplication::setOrganizationName(QStringLiteral("Halvard"));
    QApplication::setDesktopFileName(QStringLiteral("org.halvard.Corvane"));
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        args.emplace_back(argv[i]);
    }
    if (noDisplay) {
        return RunWithoutDisplay(args, "DISPLAY, WAYLAND_DISPLAY and QT_QPA_PLATFORM are unset");
    }
    if (fallBack) {
        qunsetenv("QT_QPA_PLATFORM");  // what the program starts sees the environment it had
        if (QGuiApplication::platformName() == QStringLiteral("minimal")) {
            return RunWithoutDisplay(args, "the display cannot be opened");
        }
    }

    try {
        corvane::ui::TForm1 form;
        switch (form.StartUp(args)) {
            case corvane::control::StartupResult::UsageError:
                ShowStartupError(corvane::control::UsageErrorText(corvane::control::kUsageText,
                                                                  form.Control().UsageProblem()));
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
