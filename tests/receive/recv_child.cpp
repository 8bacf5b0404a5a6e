// A receiving worker in a process of its own, for tests that kill it mid-file: lists the gap
// 127.0.0.1 and a rule into the directory given, prints the port it listens on, takes one
// connection and receives from it.
//
//     recv_child RECV_DIR

#include "receive/ReceiverFixture.h"

#include <QCoreApplication>
#include <cstdio>

namespace {
constexpr int kAcceptWaitMs = 60000;
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2)
        return 2;
    ReceiverFixture fixture(QString::fromLocal8Bit(argv[1]));
    std::printf("%u\n", unsigned(fixture.port()));
    std::fflush(stdout);
    return fixture.acceptGap(kAcceptWaitMs) && fixture.waitForWorkers() ? 0 : 1;
}
