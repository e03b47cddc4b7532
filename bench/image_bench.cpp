// loadImage over the carried image: the split of 318 kB of Intel HEX into the line table, which
// start-up does once before the window opens. Also the whole state initialisation around it.
#include <benchmark/benchmark.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "app/startup.h"
#include "firmware/image_loader.h"

namespace {

const std::string& carriedImage() {
    static const std::string image = [] {
        std::ifstream in(VKT5_IMAGE_FILE, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }();
    return image;
}

void loadImageOnly(benchmark::State& run) {
    const auto state = std::make_unique<vkt5::UpgradeState>();
    state->imageLines.assign(vkt5::IMAGE_TABLE_SIZE, std::string());
    for (auto _ : run) {
        run.PauseTiming();
        state->scratch = carriedImage();
        run.ResumeTiming();
        benchmark::DoNotOptimize(vkt5::loadImage(*state));
    }
    run.counters["lines"] = state->lineCount;
}
BENCHMARK(loadImageOnly)->Unit(benchmark::kMillisecond);

void initialiseStateWithImage(benchmark::State& run) {
    for (auto _ : run) {
        const auto state = std::make_unique<vkt5::UpgradeState>();
        benchmark::DoNotOptimize(vkt5::initialiseState(*state, carriedImage()));
    }
}
BENCHMARK(initialiseStateWithImage)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
