// Provisioning a batch at once: rfcfg provision against 1, 4 and 16 virtual modules (each its
// own rfmodule-sim process), taking turns round by round so all three see the same machine.
// Prints the median time to provision the batch, rfcfg's CPU time per module and its peak memory.
//   bench_provision RFCFG RFMODULE_SIM [ROUNDS]
#include "childprocess.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <signal.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s RFCFG RFMODULE_SIM [ROUNDS]\n", argv[0]);
        return 2;
    }
    const std::string rfcfg = argv[1], sim = argv[2];
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 11;
    char pattern[] = "/tmp/bench-provision-XXXXXX";
    const std::string dir = mkdtemp(pattern);
    const int most = 16;
    std::vector<pid_t> modules;
    std::vector<std::string> ports;
    for (int i = 0; i < most; ++i) {
        ports.push_back(dir + "/module" + std::to_string(i + 1));
        modules.push_back(spawnChild({sim, "--link", ports.back()}, "/dev/null"));
    }
    for (const std::string &port : ports) {
        struct stat info;
        for (int tries = 0; tries < 100 && lstat(port.c_str(), &info) != 0; ++tries)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    const std::string profile = dir + "/profile.json";
    if (runChild({rfcfg, "-p", ports[0], "config", "get", "--json"}, profile.c_str()).status != 0) {
        std::fprintf(stderr, "config get failed\n");
        return 1;
    }

    const std::vector<int> sizes = {1, 4, 16};
    std::vector<std::vector<double>> wall(sizes.size()), cpu(sizes.size()), peak(sizes.size());
    const std::string out = dir + "/out.json";
    for (int round = 0; round <= rounds; ++round) { // round 0 warms up
        for (size_t s = 0; s < sizes.size(); ++s) {
            std::vector<std::string> args = {rfcfg,       "provision", "--from", profile,
                                             "--address", "0101",      "--json"};
            for (int i = 0; i < sizes[s]; ++i)
                args.insert(args.end(), {"-p", ports[size_t(i)]});
            const ChildOutcome o = runChild(args, out.c_str());
            if (o.status != 0) {
                std::fprintf(stderr, "provision of %d failed with %d\n", sizes[s], o.status);
                return 1;
            }
            if (round == 0)
                continue;
            wall[s].push_back(o.wallMs);
            cpu[s].push_back(o.cpuMs / sizes[s]);
            peak[s].push_back(double(o.peakKiB) / 1024);
        }
    }
    for (pid_t pid : modules)
        kill(pid, SIGTERM);
    for (pid_t pid : modules)
        waitpid(pid, nullptr, 0);
    std::system(("rm -rf '" + dir + "'").c_str());

    std::printf("rfcfg provision, median of %d rounds after a warm-up (sizes take turns)\n",
                rounds);
    std::printf("%-8s %12s %16s %10s\n", "modules", "batch ms", "CPU ms/module", "peak MiB");
    for (size_t s = 0; s < sizes.size(); ++s)
        std::printf("%-8d %12.1f %16.2f %10.1f\n", sizes[s], median(wall[s]), median(cpu[s]),
                    median(peak[s]));
    std::printf("16 at once / one: %.2f x the time\n", median(wall[2]) / median(wall[0]));
    return 0;
}
