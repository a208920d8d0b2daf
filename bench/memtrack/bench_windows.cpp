// A plain timing loop for the Windows build (run under Wine): each workload on
// the tracker and on the plain heap, best of five rounds, and the ratios.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>

#include "workloads.h"

using namespace memtrack_bench;

namespace {

using Clock = std::chrono::steady_clock;

template <class Work>
double BestNanosecondsPerStep(long steps, Work work)
{
    double best = 1e300;
    for (int round = 0; round < 5; ++round) {
        Clock::time_point start = Clock::now();
        for (long i = 0; i < steps; ++i)
            work();
        double elapsed = std::chrono::duration<double, std::nano>(Clock::now() - start).count();
        if (elapsed / steps < best)
            best = elapsed / steps;
    }
    return best;
}

template <class Heap>
double PairCost(std::size_t size)
{
    return BestNanosecondsPerStep(2000000, [size] { NewDeletePair<Heap>(size); });
}

template <class Heap>
double ChurnCost()
{
    LiveSet<Heap>* live = new LiveSet<Heap>;
    double cost = BestNanosecondsPerStep(1000000, [live] { live->Step(); });
    delete live;
    return cost;
}

template <class Heap>
double BuildTearDownCost()
{
    static void* blocks[kLiveBlocks];
    return BestNanosecondsPerStep(100, [] { BuildAndTearDown<Heap>(blocks); });
}

void Report(const char* workload, double tracked, double plain)
{
    std::printf("%-28s %12.1f ns %12.1f ns %8.2f\n", workload, tracked, plain, tracked / plain);
}

}  // namespace

int main()
{
    std::printf("%-28s %15s %15s %8s\n", "workload", "tracked", "plain", "ratio");
    for (std::size_t size : {std::size_t(16), std::size_t(64), std::size_t(1024)}) {
        char name[32];
        std::snprintf(name, sizeof name, "pair/%u", static_cast<unsigned>(size));
        Report(name, PairCost<TrackedHeap>(size), PairCost<PlainHeap>(size));
    }
    Report("live10000-churn", ChurnCost<TrackedHeap>(), ChurnCost<PlainHeap>());
    Report("live10000-build-teardown", BuildTearDownCost<TrackedHeap>(), BuildTearDownCost<PlainHeap>());
    return 0;
}
