// Resident memory of the headless program over a long run with a full
// process table: sleeping children bring the machine to about 1,000
// processes, then Trevlin runs (measuring once a second, building its
// history) for 30 minutes by default. Prints its footprint every minute and
// the figures at the end.
//   MemoryBenchmark [--minutes N] [--processes N]
#include "HeadlessTrevlin.h"

#include <cstdio>
#include <cstring>
#include <string>

using namespace trevlin::bench;

namespace {

int processCount() { return static_cast<int>(trevlin::linux::listNumericEntries("/proc").size()); }

}  // namespace

int main(int argc, char** argv) {
    double minutes = 30;
    int target = 1000;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--minutes")) minutes = std::atof(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--processes")) target = std::atoi(argv[i + 1]);
    }
    Sleepers sleepers(std::max(0, target - processCount()));
    std::printf("processes on the machine: %d (%zu sleepers added)\n", processCount(), sleepers.size());

    HeadlessTrevlin trevlin;
    sleepSeconds(10);
    const Footprint first = trevlin.footprint();
    std::printf("after 10 s: %.1f MB resident, %d threads, %d descriptors\n", first.residentMB, first.threads,
                first.descriptors);
    std::fflush(stdout);

    const double start = monotonic();
    double peak = first.residentMB;
    Footprint last = first;
    for (int minute = 1; monotonic() - start < minutes * 60; ++minute) {
        sleepSeconds(std::min(60.0, minutes * 60 - (monotonic() - start)));
        last = trevlin.footprint();
        if (last.residentMB == 0) {
            std::printf("Trevlin is gone:\n%s\n", trevlin.log().c_str());
            return 1;
        }
        peak = std::max(peak, last.residentMB);
        std::printf("minute %d: %.1f MB resident, %d threads, %d descriptors, %d processes\n", minute, last.residentMB,
                    last.threads, last.descriptors, processCount());
        std::fflush(stdout);
    }
    const bool clean = trevlin.stop();
    std::printf("\nafter %.0f minutes with about %d processes: %.1f MB resident (peak %.1f MB, %.1f MB after 10 s); "
                "target under 30 MB: %s\n",
                minutes, target, last.residentMB, peak, first.residentMB, last.residentMB < 30 ? "met" : "MISSED");
    std::printf("threads %d -> %d, descriptors %d -> %d, clean exit: %s\n", first.threads, last.threads,
                first.descriptors, last.descriptors, clean ? "yes" : "NO");
    return clean ? 0 : 1;
}
