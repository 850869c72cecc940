// Loading the ecosystem catalogue: the authored one (2,592 profiles and eight species), and one
// species at the limits of a record (288 boxes, 1,728 bonds), where the overlap and bond checks do the
// most work.
#include <string>

#include <benchmark/benchmark.h>

#include "ecology/Ecology.hpp"

namespace zarn {
namespace {

void runLoad(benchmark::State& state, const char* path) {
    Ecology ecology;
    std::string error;
    for (auto _ : state) {
        if (!ecology.load(path, error)) {
            state.SkipWithError(error.c_str());
            break;
        }
    }
}

BENCHMARK_CAPTURE(runLoad, authored, ZARN_ECOSYSTEM_CATALOGUE)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(runLoad, recordAtTheLimits, ZARN_ECOLOGY_LIMITS)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace zarn
