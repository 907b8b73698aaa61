#pragma once
// Running another program for a benchmark: spawned with its standard output to a file, then
// timed from exec to exit with the CPU time and peak memory the system counted for it.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <vector>

extern char **environ;

struct ChildOutcome
{
    double wallMs = 0;
    double cpuMs = 0; // user + system of the child
    long peakKiB = 0;
    int status = -1;
};

inline pid_t spawnChild(std::vector<std::string> args, const char *outputFile)
{
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outputFile, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        std::perror("posix_spawn");
        std::exit(1);
    }
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

inline ChildOutcome runChild(const std::vector<std::string> &args, const char *outputFile)
{
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = spawnChild(args, outputFile);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    ChildOutcome o;
    o.wallMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    o.cpuMs = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
              (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
    o.peakKiB = usage.ru_maxrss;
    o.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return o;
}

inline double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty()      ? 0
           : v.size() % 2 ? v[v.size() / 2]
                          : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}
