// Whole runs of a console program for the benchmarks of tvstrip and tvconv:
// the program started in a working folder with Enter piped in and timed to
// its end, the processor time of the runs kept per program so that a bench
// can print the ratio of two programs' runs at its end; and the count block
// the exchange files of both programs hold.
#pragma once

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

extern char** environ;

namespace benchrun {

// The count block of an exchange file: the 1024 counts (counts[0] is
// channel 1) as " %06d", ten a line, CR LF.
template <class Counts>
std::string countBlock(const Counts& counts)
{
    std::string text;
    char field[16];
    for (int i = 1; i <= 1024; ++i) {
        std::snprintf(field, sizeof field, " %06d", static_cast<int>(counts[static_cast<std::size_t>(i - 1)]));
        text += field;
        if (i % 10 == 0 || i == 1024) text += "\r\n";
    }
    return text;
}

// Processor time and number of whole runs per key over the whole bench
// process (all repetitions), for the comparison printed at the end.
struct RunTotals {
    double cpuMs = 0.0;
    double runs = 0.0;
};

inline std::map<std::string, RunTotals>& runTotals()
{
    static std::map<std::string, RunTotals> totals;
    return totals;
}

// Runs `exe` in `work` once per benchmark iteration, Enter piped in (the
// file enter.txt is written into `work`), its console output discarded.  A
// run that fails, or that leaves no `result` when one is named, stops the
// benchmark with an error.  The processor time of the runs, which the load
// of a shared machine stretches far less than the elapsed time, becomes the
// counter run_cpu_ms and, under `totalsKey` when one is given, part of the
// totals.
inline void timeWholeRuns(benchmark::State& state, const std::filesystem::path& work, const std::string& exe,
                          const std::string& totalsKey = {}, const std::filesystem::path& result = {})
{
    const std::string input = (work / "enter.txt").string();
    std::ofstream(input, std::ios::binary) << "\n\n";
    struct rusage before {};
    ::getrusage(RUSAGE_CHILDREN, &before);
    for (auto _ : state) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addchdir_np(&actions, work.c_str());
        posix_spawn_file_actions_addopen(&actions, 0, input.c_str(), O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        char* argv[] = {const_cast<char*>(exe.c_str()), nullptr};
        pid_t pid = 0;
        const int rc = posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        int status = 0;
        if (rc != 0 || ::waitpid(pid, &status, 0) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0 ||
            (!result.empty() && !std::filesystem::exists(result))) {
            state.SkipWithError((exe + " did not complete").c_str());
            break;
        }
    }
    struct rusage after {};
    ::getrusage(RUSAGE_CHILDREN, &after);
    const auto ms = [](const timeval& t) { return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_usec) / 1e3; };
    const double cpu = ms(after.ru_utime) + ms(after.ru_stime) - ms(before.ru_utime) - ms(before.ru_stime);
    state.counters["run_cpu_ms"] = cpu / static_cast<double>(state.iterations());
    if (!totalsKey.empty()) {
        RunTotals& t = runTotals()[totalsKey];
        t.cpuMs += cpu;
        t.runs += static_cast<double>(state.iterations());
    }
}

// At the end of a bench: the processor time per run of the program's whole
// runs (totals under "own") beside the plain baseline's ("plain"), when both
// were measured.
inline void printWholeRunRatio(const char* program)
{
    const auto& totals = runTotals();
    const auto own = totals.find("own");
    const auto plain = totals.find("plain");
    if (own == totals.end() || plain == totals.end() || !(own->second.runs > 0) || !(plain->second.runs > 0)) return;
    const double a = own->second.cpuMs / own->second.runs;
    const double b = plain->second.cpuMs / plain->second.runs;
    std::printf("Whole run at 80 kV, CPU per run: %s %.3f ms, plain program %.3f ms, ratio %.3f\n", program, a, b,
                a / b);
}

} // namespace benchrun
