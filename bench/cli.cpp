// The command line's own cost: rfcfg version from exec to exit, and a long link test's CPU time
// per frame and peak memory, each run against a virtual module.
//   bench_cli RFCFG DEVICE [VERSION_RUNS] [FRAMES...]
#include "childprocess.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char *argv[])
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_cli RFCFG DEVICE [VERSION_RUNS] [FRAMES...]\n");
        return 2;
    }
    const std::string rfcfg = argv[1], device = argv[2];
    const int runs = argc > 3 ? std::atoi(argv[3]) : 51;
    std::vector<int> frameCounts;
    for (int i = 4; i < argc; ++i)
        frameCounts.push_back(std::atoi(argv[i]));
    if (frameCounts.empty())
        frameCounts = {1000, 10000};

    // The floor (a process that does nothing), the program without a port, and a real exchange.
    const std::vector<std::pair<const char *, std::vector<std::string>>> programs = {
        {"/bin/true", {"/bin/true"}},
        {"rfcfg --help", {rfcfg, "--help"}},
        {"rfcfg version", {rfcfg, "-p", device, "version"}},
    };
    for (const auto &[name, args] : programs) {
        runChild(args, "/dev/null"); // warm-up
        std::vector<double> wall, cpu;
        for (int i = 0; i < runs; ++i) {
            const ChildOutcome o = runChild(args, "/dev/null");
            if (o.status != 0) {
                std::fprintf(stderr, "%s failed with status %d\n", name, o.status);
                return 1;
            }
            wall.push_back(o.wallMs);
            cpu.push_back(o.cpuMs);
        }
        std::printf("%-14s exec to exit, %d runs: median %.1f ms (min %.1f, max %.1f); CPU "
                    "median %.1f ms\n",
                    name, runs, median(wall), *std::min_element(wall.begin(), wall.end()),
                    *std::max_element(wall.begin(), wall.end()), median(cpu));
    }

    for (int frames : frameCounts) {
        const std::string summary = "/tmp/bench_cli_summary.json";
        const ChildOutcome o = runChild({rfcfg, "-p", device, "--json", "send", "1234", "0102",
                                         "--count", std::to_string(frames), "--interval", "0"},
                                        summary.c_str());
        std::printf("link test, %d frames at --interval 0: %.2f s, %.0f frames/s; CPU %.1f µs "
                    "per frame; peak RSS %.1f MiB; exit status %d\n",
                    frames, o.wallMs / 1e3, frames / (o.wallMs / 1e3), o.cpuMs * 1e3 / frames,
                    o.peakKiB / 1024.0, o.status);
        if (FILE *f = std::fopen(summary.c_str(), "r")) {
            char line[1024];
            if (std::fgets(line, sizeof line, f))
                std::printf("  %s", line);
            std::fclose(f);
        }
    }
    return 0;
}
