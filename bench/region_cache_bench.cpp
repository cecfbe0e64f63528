// The region cache for all eight bowl frames: built from pixel runs (as the bowl does)
// against the pixel-by-pixel union the run-based build replaces.
#include "fish/bowl_window.h"
#include "fish/pixel_region.h"
#include "fish/region_cache.h"

#include <QGuiApplication>
#include <benchmark/benchmark.h>

namespace {

const kingyo::BowlFrames &frames()
{
    static const kingyo::BowlFrames loaded = kingyo::BowlWindow::loadFrames();
    return loaded;
}

void RegionCacheFromRuns(benchmark::State &state)
{
    for (auto _ : state) {
        const kingyo::RgnData cache = kingyo::MakeRegions(frames());
        benchmark::DoNotOptimize(cache);
    }
}
BENCHMARK(RegionCacheFromRuns)->Unit(benchmark::kMicrosecond);

// What the window keeps: the cache turned into the eight masks.
void RegionCacheFromRunsToMasks(benchmark::State &state)
{
    for (auto _ : state) {
        const kingyo::RgnData cache = kingyo::MakeRegions(frames());
        std::array<QRegion, kingyo::kRegionSlots> masks;
        for (int i = 0; i < kingyo::kRegionSlots; ++i)
            masks[i] = kingyo::toQRegion(cache[i]);
        benchmark::DoNotOptimize(masks);
    }
}
BENCHMARK(RegionCacheFromRunsToMasks)->Unit(benchmark::kMicrosecond);

void RegionCachePixelByPixel(benchmark::State &state)
{
    for (auto _ : state) {
        for (const QImage &frame : frames())
            benchmark::DoNotOptimize(kingyo::testing::pixelByPixelRegion(frame));
    }
}
BENCHMARK(RegionCachePixelByPixel)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
