// main() of the window benchmarks: offscreen unless a platform is given, Qt's UNIX event
// dispatcher as in the program, then the benchmarks.
#include <benchmark/benchmark.h>
#include <QApplication>

#include "platform/messages.h"

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));
    }
    corvane::platform::UseUnixEventLoop();
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
