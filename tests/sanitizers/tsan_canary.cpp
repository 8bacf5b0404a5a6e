// Races on purpose, on a send rule's status text (guarded by statusMutex, taken by neither side):
// a QThread changes it while the main thread reads it. Built only under ThreadSanitizer and
// registered as tests that must fail: when ThreadSanitizer stops reporting this race, a
// suppression has started to hide races on our own fields.
//
//   tsan_canary inline   the text is replaced by code compiled into this program
//   tsan_canary qt       the text grows inside Qt (reallocated and copied by libQt5Core)

#include "model/GlobalData.h"

#include <QCoreApplication>
#include <QThread>
#include <atomic>
#include <cstdio>
#include <cstring>

namespace {

constexpr int kRounds = 2000;

// Relaxed on purpose: it tells the main thread when to start reading, and orders nothing.
std::atomic<bool> writing { false };

void replaceText(_SENDPATH_LISTDATA *rule)
{
    for (int i = 0; i < kRounds; ++i) {
        rule->statusText = QString::number(i);
        writing.store(true, std::memory_order_relaxed);
    }
}

void growText(_SENDPATH_LISTDATA *rule)
{
    for (int i = 0; i < kRounds; ++i) {
        rule->statusText.append(QLatin1Char('x'));
        writing.store(true, std::memory_order_relaxed);
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const bool inQt = argc > 1 && std::strcmp(argv[1], "qt") == 0;
    auto *rule = new _SENDPATH_LISTDATA;
    QThread *writer = QThread::create(inQt ? growText : replaceText, rule);
    writer->start();
    while (!writing.load(std::memory_order_relaxed))
        QThread::yieldCurrentThread();
    qsizetype seen = 0;
    for (int i = 0; i < kRounds; ++i)
        seen += rule->statusText.size();
    writer->wait();
    delete writer;
    delete rule;
    std::printf("no race reported (%lld characters seen)\n", static_cast<long long>(seen));
    return 0;
}
