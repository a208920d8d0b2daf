// Google Benchmark on the host: each workload on the tracker and on the plain
// heap, then the ratios tracked / plain.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

#include "workloads.h"

using namespace memtrack_bench;

namespace {

template <class Heap>
void Pair(benchmark::State& state)
{
    std::size_t size = static_cast<std::size_t>(state.range(0));
    for (auto _ : state)
        NewDeletePair<Heap>(size);
}

template <class Heap>
void Churn(benchmark::State& state)
{
    LiveSet<Heap>* live = new LiveSet<Heap>;
    for (auto _ : state)
        live->Step();
    delete live;
}

template <class Heap>
void BuildTearDown(benchmark::State& state)
{
    std::vector<void*> blocks(kLiveBlocks);
    for (auto _ : state)
        BuildAndTearDown<Heap>(blocks.data());
}

// Ratios use the fastest repetition of each side: on a shared machine the
// slower ones measure the neighbours.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "min")
                continue;
            times[run.run_name.str()] = run.GetAdjustedCPUTime();
        }
    }
    std::map<std::string, double> times;
};

double Fastest(const std::vector<double>& values)
{
    return *std::min_element(values.begin(), values.end());
}

// Tracked and plain side by side, so that both see the same machine load.
void RegisterAll()
{
    for (int size : {16, 64, 1024}) {
        std::string name = "pair/" + std::to_string(size) + "/";
        benchmark::RegisterBenchmark((name + TrackedHeap::name).c_str(), &Pair<TrackedHeap>)
            ->Arg(size)->Repetitions(5)->ComputeStatistics("min", &Fastest);
        benchmark::RegisterBenchmark((name + PlainHeap::name).c_str(), &Pair<PlainHeap>)
            ->Arg(size)->Repetitions(5)->ComputeStatistics("min", &Fastest);
    }
    benchmark::RegisterBenchmark("live10000-churn/tracked", &Churn<TrackedHeap>)
        ->Repetitions(5)->ComputeStatistics("min", &Fastest);
    benchmark::RegisterBenchmark("live10000-churn/plain", &Churn<PlainHeap>)
        ->Repetitions(5)->ComputeStatistics("min", &Fastest);
    benchmark::RegisterBenchmark("live10000-build-teardown/tracked", &BuildTearDown<TrackedHeap>)
        ->Unit(benchmark::kMicrosecond)->Repetitions(5)->ComputeStatistics("min", &Fastest);
    benchmark::RegisterBenchmark("live10000-build-teardown/plain", &BuildTearDown<PlainHeap>)
        ->Unit(benchmark::kMicrosecond)->Repetitions(5)->ComputeStatistics("min", &Fastest);
}

}  // namespace

int main(int argc, char** argv)
{
    RegisterAll();
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    std::printf("\n%-28s %s\n", "workload", "tracked / plain (CPU time)");
    for (const auto& entry : reporter.times) {
        const std::string& name = entry.first;
        std::string::size_type cut = name.find("/tracked");
        if (cut == std::string::npos)
            continue;
        // Arguments follow the heap's name: pair/16/tracked/16.
        std::string plainName = name.substr(0, cut) + "/plain" + name.substr(cut + 8);
        auto plain = reporter.times.find(plainName);
        if (plain != reporter.times.end() && plain->second > 0)
            std::printf("%-28s %.2f\n", name.substr(0, cut).c_str(), entry.second / plain->second);
    }
    benchmark::Shutdown();
    return 0;
}
