#include <QApplication>
#include <QLabel>

#include "platform/messages.h"

int main(int argc, char* argv[]) {
    corvane::platform::UseUnixEventLoop();
    QApplication app(argc, argv);
    QLabel label(QStringLiteral("Corvane"));
    label.setWindowTitle(QStringLiteral("Corvane"));
    label.resize(630, 410);
    label.show();
    return app.exec();
}
