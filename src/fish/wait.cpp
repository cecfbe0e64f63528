#include "fish/wait.h"

#include "base/clock.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <chrono>

namespace kingyo {

namespace {

using std::chrono::milliseconds;

// Sleeps in a nested loop until the timer or an exit ends it. Returns false when the
// application is leaving: its loops no longer run, so there is nothing to wait for.
bool sleepProcessingEvents(milliseconds span)
{
    QEventLoop loop;
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    QObject::connect(&wake, &QTimer::timeout, &loop, &QEventLoop::quit);
    wake.start(span);
    return loop.exec() != -1;
}

} // namespace

void Wait(std::int32_t waitTime, const Clock &clock)
{
    const milliseconds limit(waitTime);
    const auto start = clock.now();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    for (;;) {
        const auto elapsed = clock.now() - start;
        if (elapsed > limit) return;
        // One millisecond past the whole-millisecond remainder is strictly past the limit.
        const auto remaining = std::chrono::duration_cast<milliseconds>(limit - elapsed) + milliseconds(1);
        if (!sleepProcessingEvents(remaining)) return;
    }
}

void Wait(std::int32_t waitTime)
{
    static const SystemClock clock;
    Wait(waitTime, clock);
}

} // namespace kingyo
