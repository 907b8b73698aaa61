// Start-up: time from exec to the first top-level window mapped on the X server, and the
// process's peak and anonymous resident memory once it has settled.
//   bench_startup RUNS NAME=COMMAND [NAME=COMMAND ...]     (DISPLAY must name an X server)
// Each program gets one warm-up run, then RUNS rounds run each program once, in turn; medians
// are printed, with the first program's ratio to each other one: the ratio of the medians and
// the median of the rounds' own ratios (which a change of the machine's load affects least).
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <poll.h>
#include <signal.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

struct Sample
{
    double ms = -1;
    double peakMiB = 0;
    double anonMiB = 0;
};

double statusKiB(pid_t pid, const char *field)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0)
            return std::atof(line.c_str() + std::strlen(field));
    }
    return 0;
}

Sample runOnce(const std::string &command)
{
    Sample s;
    // A server that resets after its last client left refuses connections for a moment.
    xcb_connection_t *x = xcb_connect(nullptr, nullptr);
    for (int attempt = 0; attempt < 50 && xcb_connection_has_error(x); ++attempt) {
        xcb_disconnect(x);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        x = xcb_connect(nullptr, nullptr);
    }
    if (const int error = xcb_connection_has_error(x)) {
        std::fprintf(stderr, "cannot connect to the X server (xcb error %d)\n", error);
        xcb_disconnect(x);
        return s;
    }
    xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(x)).data->root;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(x, root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(x);
    free(xcb_get_input_focus_reply(x, xcb_get_input_focus(x), nullptr)); // round trip

    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        execl("/bin/sh", "sh", "-c",
              ("exec " + command + " >/tmp/bench_startup_child.log 2>&1").c_str(), nullptr);
        _exit(127);
    }
    pollfd fd{xcb_get_file_descriptor(x), POLLIN, 0};
    bool mapped = false;
    while (!mapped) {
        const auto waited = std::chrono::steady_clock::now() - start;
        if (waited > std::chrono::seconds(30))
            break;
        poll(&fd, 1, 50);
        while (xcb_generic_event_t *event = xcb_poll_for_event(x)) {
            if ((event->response_type & 0x7f) == XCB_MAP_NOTIFY &&
                !reinterpret_cast<xcb_map_notify_event_t *>(event)->override_redirect)
                mapped = true;
            free(event);
        }
    }
    if (mapped) {
        s.ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                   .count();
        std::this_thread::sleep_for(std::chrono::milliseconds(1500)); // let it settle
        s.peakMiB = statusKiB(pid, "VmHWM:") / 1024.0;
        s.anonMiB = statusKiB(pid, "RssAnon:") / 1024.0;
    }
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    xcb_disconnect(x);
    return s;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s RUNS NAME=COMMAND...\n", argv[0]);
        return 2;
    }
    const int runs = std::max(1, std::atoi(argv[1]));
    struct Program
    {
        std::string name, command;
        std::vector<double> ms, peak, anon;
    };
    std::vector<Program> programs;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto eq = arg.find('=');
        programs.push_back({arg.substr(0, eq), arg.substr(eq + 1), {}, {}, {}});
    }
    for (const Program &p : programs)
        runOnce(p.command); // warm-up: caches, fonts
    // Round by round, each program once per round: a change in the machine's load falls on all
    // of them alike.
    for (int r = 0; r < runs; ++r) {
        for (Program &p : programs) {
            const Sample s = runOnce(p.command);
            if (s.ms < 0) {
                std::fprintf(stderr, "%s: no window within 30 s; it said:\n", p.name.c_str());
                std::system("tail -n 20 /tmp/bench_startup_child.log >&2");
                return 1;
            }
            p.ms.push_back(s.ms);
            p.peak.push_back(s.peakMiB);
            p.anon.push_back(s.anonMiB);
        }
    }
    struct Result
    {
        std::string name;
        double ms, peak, anon;
    };
    std::vector<Result> results;
    for (const Program &p : programs)
        results.push_back({p.name, median(p.ms), median(p.peak), median(p.anon)});
    std::printf("%-16s %14s %14s %14s\n", "program", "to window ms", "peak RSS MiB",
                "anon RSS MiB");
    for (const Result &r : results)
        std::printf("%-16s %14.1f %14.1f %14.1f\n", r.name.c_str(), r.ms, r.peak, r.anon);
    for (size_t i = 1; i < results.size(); ++i) {
        std::vector<double> roundRatios;
        for (int r = 0; r < runs; ++r)
            roundRatios.push_back(programs[0].ms[r] / programs[i].ms[r]);
        std::sort(roundRatios.begin(), roundRatios.end());
        std::printf("%s / %s: time %.2f (rounds: median %.2f, quartiles %.2f-%.2f), peak RSS %.2f, "
                    "anon RSS %.2f\n",
                    results[0].name.c_str(), results[i].name.c_str(), results[0].ms / results[i].ms,
                    median(roundRatios), roundRatios[runs / 4], roundRatios[(3 * runs) / 4],
                    results[0].peak / results[i].peak, results[0].anon / results[i].anon);
    }
    return 0;
}
