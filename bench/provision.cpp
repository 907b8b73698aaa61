// Provisioning a batch at once: rfcfg provision against 1, 4 and 16 virtual modules (each its
// own rfmodule-sim process), taking turns round by round so all three see the same machine.
// Prints the median time to provision the batch, rfcfg's CPU time per module and its peak memory.
//   bench_provision RFCFG RFMODULE_SIM [ROUNDS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

struct Outcome
{
    double wallMs = 0;
    double cpuMs = 0; // user + system of rfcfg
    long peakKiB = 0;
    int status = -1;
};

pid_t spawn(std::vector<std::string> args, const char *output)
{
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, output, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        std::perror("posix_spawn");
        std::exit(1);
    }
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

Outcome run(const std::vector<std::string> &args, const char *output)
{
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = spawn(args, output);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    Outcome o;
    o.wallMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    o.cpuMs = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
              (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
    o.peakKiB = usage.ru_maxrss;
    o.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return o;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

} // namespace

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
        modules.push_back(spawn({sim, "--link", ports.back()}, "/dev/null"));
    }
    for (const std::string &port : ports) {
        struct stat info;
        for (int tries = 0; tries < 100 && lstat(port.c_str(), &info) != 0; ++tries)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    const std::string profile = dir + "/profile.json";
    if (run({rfcfg, "-p", ports[0], "config", "get", "--json"}, profile.c_str()).status != 0) {
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
            const Outcome o = run(args, out.c_str());
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
