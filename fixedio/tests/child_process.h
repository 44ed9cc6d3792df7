// Runs a console program as the front end does (in a working folder, Enter
// piped in) for the fault tests: optionally with a file-size limit, which
// makes its writes fail like a full disk, or killed after a delay.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

namespace faulttest {

struct Outcome {
    bool exited = false;  // ended by itself (not killed, not timed out)
    int status = -1;      // exit status when it exited
    std::string out, err;
    double seconds = 0;
    long maxResidentKiB = 0;  // peak memory of the run
};

struct RunOptions {
    long fileSizeLimit = -1;        // bytes a written file may reach; -1: none
    double killAfterSeconds = -1;   // SIGKILL after this long; -1: never
    double timeoutSeconds = 30;     // SIGKILL and report a hang after this long
};

inline std::string fileText(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline Outcome runIn(const std::filesystem::path& dir, const std::string& program, const RunOptions& o = {})
{
    const std::filesystem::path outFile = dir / ".child.out", errFile = dir / ".child.err";
    int in[2];
    if (::pipe(in) != 0) return {};
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(in[0], 0);
        ::close(in[0]);
        ::close(in[1]);
        const int out = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(out, 1);
        ::dup2(err, 2);
        if (o.fileSizeLimit >= 0) {
            // Writes beyond the limit fail with EFBIG instead of raising SIGXFSZ.
            ::signal(SIGXFSZ, SIG_IGN);
            struct rlimit r;
            r.rlim_cur = r.rlim_max = static_cast<rlim_t>(o.fileSizeLimit);
            ::setrlimit(RLIMIT_FSIZE, &r);
        }
        if (::chdir(dir.c_str()) != 0) ::_exit(126);
        ::execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(in[0]);
    // A program that refuses its input may end before Enter is written: the
    // write then fails with EPIPE, which must not kill the test.
    ::signal(SIGPIPE, SIG_IGN);
    if (::write(in[1], "\n\n", 2) != 2) {
    }
    ::close(in[1]);

    Outcome r;
    int st = 0;
    const double limit = o.killAfterSeconds >= 0 ? o.killAfterSeconds : o.timeoutSeconds;
    bool killed = false;
    for (;;) {
        struct rusage usage {};
        const pid_t w = ::wait4(pid, &st, WNOHANG, &usage);
        r.maxResidentKiB = usage.ru_maxrss;
        if (w == pid) break;
        const double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (!killed && t >= limit) {
            ::kill(pid, SIGKILL);
            killed = true;
            continue;
        }
        if (o.killAfterSeconds >= 0 && !killed) {
            const double left = limit - t;
            std::this_thread::sleep_for(std::chrono::duration<double>(left < 1e-4 ? left : 1e-4));
        } else {
            std::this_thread::sleep_for(std::chrono::microseconds(killed ? 50 : 500));
        }
    }
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    r.exited = WIFEXITED(st);
    r.status = r.exited ? WEXITSTATUS(st) : -1;
    r.out = fileText(outFile);
    r.err = fileText(errFile);
    std::filesystem::remove(outFile);
    std::filesystem::remove(errFile);
    return r;
}

} // namespace faulttest
