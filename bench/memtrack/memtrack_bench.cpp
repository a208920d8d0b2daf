// The tracker's cost beside the plain run-time heap: each workload through the global operators
// (tracked) and through malloc and free (plain), in rounds that run the two alternately; for each,
// the median time per step and the ratio tracked / plain, its median over the rounds and its spread
// (lowest to highest), so that a change of 10% stands out from the noise.
//
//   memtrack_bench [rounds]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "workloads.h"

using namespace memtrack_bench;

namespace {

template <class Work>
double NanosecondsPerStep(long steps, Work work)
{
    const auto start = std::chrono::steady_clock::now();
    for (long i = 0; i < steps; ++i)
        work();
    return std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count() / steps;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// `measure(tracked, steps)` times `steps` steps of the workload on one side. A round runs the two
// sides alternately in `slices` slices, so that the machine's drift weighs on both alike.
template <class Measure>
void Report(const char* workload, int rounds, int slices, long steps, Measure measure)
{
    std::vector<double> tracked, plain, ratios;
    for (int round = 0; round < rounds; ++round) {
        double t = 0, p = 0;
        for (int slice = 0; slice < slices; ++slice)
            t += measure(true, steps / slices), p += measure(false, steps / slices);
        tracked.push_back(t / slices), plain.push_back(p / slices), ratios.push_back(t / p);
    }
    std::printf("%-26s %10.1f ns %10.1f ns %8.2f  %5.2f-%.2f\n", workload, Median(tracked), Median(plain),
                Median(ratios), *std::min_element(ratios.begin(), ratios.end()),
                *std::max_element(ratios.begin(), ratios.end()));
}

template <class Heap>
double Churn(long steps)
{
    LiveSet<Heap>* live = new LiveSet<Heap>;  // built and given back outside the timing
    const double cost = NanosecondsPerStep(steps, [live] { live->Step(); });
    delete live;
    return cost;
}

void* g_blocks[kLiveBlocks];

}  // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 9;
    std::printf("%-26s %13s %13s %8s  %s (%d rounds)\n", "workload", "tracked", "plain", "ratio", "spread", rounds);
    for (std::size_t size : {16, 64, 1024}) {
        char name[32];
        std::snprintf(name, sizeof name, "new/delete pair, %u bytes", static_cast<unsigned>(size));
        Report(name, rounds, 10, 2000000, [size](bool tracked, long steps) {
            return tracked ? NanosecondsPerStep(steps, [size] { NewDeletePair<TrackedHeap>(size); })
                           : NanosecondsPerStep(steps, [size] { NewDeletePair<PlainHeap>(size); });
        });
    }
    Report("10,000 live, churn", rounds, 1, 1000000,
           [](bool tracked, long steps) { return tracked ? Churn<TrackedHeap>(steps) : Churn<PlainHeap>(steps); });
    Report("build 10,000, release all", rounds, 1, 30, [](bool tracked, long steps) {
        return tracked ? NanosecondsPerStep(steps, [] { BuildAndTearDown<TrackedHeap>(g_blocks); })
                       : NanosecondsPerStep(steps, [] { BuildAndTearDown<PlainHeap>(g_blocks); });
    });
    return 0;
}
