// CPU cost of the feeding scene: the scene with Wait (a nested event loop that sleeps
// until its timer) against the same scene with a wait that spins on processEvents.
// Real time is about 2.6 s per scene for both; compare the CPU column.
#include "base/clock.h"
#include "base/random_source.h"
#include "fish/feeding_scene.h"
#include "fish/living_bowl.h"
#include "fish/wait.h"

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QWidget>
#include <benchmark/benchmark.h>

#include <memory>

namespace {

using namespace kingyo;

// A bowl with everything alive: the fish swims and the bubbles rise during the scene.
struct LiveBowl {
    LiveBowl()
    {
        form.resize(100, 100);
        bowlPicture = new QWidget(&form);
        bowlPicture->setObjectName("Picture1(0)");
        bowlPicture->setGeometry(0, 0, 100, 100);
        BowlHost host;
        host.form = &form;
        host.bowlPicture = bowlPicture;
        living = std::make_unique<LivingBowl>(host, random, clock);
        form.show();
    }

    SystemRandom random;
    SystemClock clock;
    QWidget form;
    QWidget *bowlPicture = nullptr;
    std::unique_ptr<LivingBowl> living;
};

// Moves the same widgets the bowl's own scene moves, so only the wait differs.
class WidgetStage final : public FeedingStage {
public:
    explicit WidgetStage(QWidget &form)
        : box_(form.findChild<QWidget *>("Picture1(9)")), nibbler_(form.findChild<QWidget *>("Image6"))
    {
    }
    void setWaterBoxTop(float twips) override { box_->move(box_->x(), qRound(twips / 15)); }
    void setFeedingFishLeft(int pixels) override { nibbler_->move(pixels, nibbler_->y()); }

private:
    QWidget *box_;
    QWidget *nibbler_;
};

void spinningWait(std::int32_t ms)
{
    QElapsedTimer started;
    started.start();
    do {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    } while (started.elapsed() <= ms);
}

void BM_FeedingSceneWithWait(benchmark::State &state)
{
    LiveBowl bowl;
    for (auto _ : state) bowl.living->playFeedingScene();
}

void BM_FeedingSceneWithSpinningWait(benchmark::State &state)
{
    LiveBowl bowl;
    WidgetStage stage(bowl.form);
    for (auto _ : state) playFeedingScene(stage, spinningWait);
}

BENCHMARK(BM_FeedingSceneWithWait)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FeedingSceneWithSpinningWait)->Iterations(3)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
