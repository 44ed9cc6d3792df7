// A batch of stripping corrections: in-process (what `tarvik strip` does for
// each file after the first) against starting tvstrip for each file through
// the exchange files, as the dialog does.
#include "engine.h"

#include "dialogs.h"
#include "exchange.h"
#include "fixedio/files.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const fs::path kData = TARVIK_DATA_DIR;
const char* kDemo = "W80kV_2.5mmAl_direct.csv";

// The folders of the whole run, removed when it ends: deleting thousands of
// files between measurements would slow the file system's making of new
// ones in the measurements after them.
const fs::path& scratchRoot()
{
    static const fs::path root = [] {
        const fs::path r = fs::temp_directory_path() / ("tarvik_bench_" + std::to_string(getpid()));
        fs::create_directories(r);
        return r;
    }();
    return root;
}

std::string inputName(std::size_t i)
{
    std::string name = "s";
    name += std::to_string(i);
    name += ".csv";
    return name;
}

fs::path scratchFolder(const std::string& what)
{
    static int n = 0;
    const fs::path d = scratchRoot() / (what + std::to_string(++n));
    fs::create_directories(d);
    return d;
}

void BM_InProcessStrip(benchmark::State& state)
{
    tarvikcli::ResponseTables tables(kData / "RES");
    tarvikcli::StripSettings s;
    s.kv = "80";
    s.kevPerChannel = "0.1";
    const fs::path out = fs::temp_directory_path() / "tarvik_bench.mca1";
    for (auto _ : state) {
        const auto run = tarvikcli::stripFile(kData / "Tarvik_data" / kDemo, s, tables);
        fixedio::writeFileAtomically(out, run.result);
    }
    fs::remove(out);
}
BENCHMARK(BM_InProcessStrip)->Unit(benchmark::kMillisecond);

// One tvstrip start per spectrum: exchange files written, the program run
// with Enter answered, its result written into Tarvik_data under a name of
// its own (a batch of spectra gives new results, not one result over and
// over).
void BM_TvstripPerFile(benchmark::State& state)
{
    const fs::path work = scratchFolder("tvstrip");
    fs::create_directories(work / "Tarvik_data");
    fs::create_directory_symlink(kData / "RES", work / "RES");
    tarvik::AppState app;
    tarvik::StripEntries e;
    e.folder = (kData / "Tarvik_data").string();
    e.selectedFile = kDemo;
    e.text3 = "80";
    e.text4 = "bench";
    e.text5 = "0.1";
    e.text6 = "32";
    int n = 0;
    for (auto _ : state) {
        e.text4 = "bench" + std::to_string(++n);
        tarvik::takeStripEntries(app, e);
        const auto x = std::get<tarvik::StripExchange>(tarvik::buildStripExchange(app, e));
        tarvik::writeFileBytes(work / "Com.txt", x.comTxt);
        tarvik::writeFileBytes(work / "TempFile.dat", x.tempFile);
        int in[2];
        if (pipe(in) != 0) break;
        const pid_t pid = fork();
        if (pid == 0) {
            dup2(in[0], 0);
            close(in[0]);
            close(in[1]);
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, 1);
            if (chdir(work.c_str()) != 0) _exit(127);
            execl(TVSTRIP_EXECUTABLE, "tvstrip", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(in[0]);
        const ssize_t n = write(in[1], "\n\n", 2);
        (void)n;
        close(in[1]);
        int st = 0;
        waitpid(pid, &st, 0);
    }
}
BENCHMARK(BM_TvstripPerFile)->Unit(benchmark::kMillisecond);

// One `tarvik strip` call on a batch of copies of the demo spectrum, as a
// script runs it (the results into a new folder each time), with the
// program's own default of parallel work; time per file in `per_file_ms`.
void BM_TarvikStripBatch(benchmark::State& state)
{
    const auto files = static_cast<std::size_t>(state.range(0));
    // The spectra of a batch lie on the disk already, written long before:
    // made once for the whole run and flushed before the first measurement.
    static const fs::path inputs = [files] {
        const fs::path d = scratchFolder("in");
        for (std::size_t i = 0; i < files; ++i)
            fs::copy_file(kData / "Tarvik_data" / kDemo, d / inputName(i));
        ::sync();
        return d;
    }();
    const fs::path work = scratchFolder("batch");
    fs::create_directory_symlink(kData / "RES", work / "RES");
    std::vector<std::string> args = {"tarvik", "strip", "--kv", "80", "--kev-per-channel", "0.1", "--outdir", ""};
    for (std::size_t i = 0; i < files; ++i) args.push_back((inputs / inputName(i)).string());
    int n = 0;
    for (benchmark::IterationCount i = 0; i < state.max_iterations; ++i)
        fs::create_directories(work / ("out" + std::to_string(i + 1)));
    std::chrono::duration<double, std::milli> elapsed{0};
    for (auto _ : state) {
        args[7] = "out" + std::to_string(++n);
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        // The results of the batch before are on the disk first, as they
        // would be by the time a person starts the next batch.
        ::sync();
        const auto start = std::chrono::steady_clock::now();
        const pid_t pid = fork();
        if (pid == 0) {
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, 1);
            dup2(null, 2);
            if (chdir(work.c_str()) != 0) _exit(127);
            execv(TARVIK_EXECUTABLE, argv.data());
            _exit(127);
        }
        int st = 0;
        waitpid(pid, &st, 0);
        elapsed += std::chrono::steady_clock::now() - start;
        if (!WIFEXITED(st) || WEXITSTATUS(st) != 0) {
            state.SkipWithError("tarvik strip failed");
            break;
        }
    }
    state.counters["per_file_ms"] = elapsed.count() / static_cast<double>(state.iterations() * files);
}
BENCHMARK(BM_TarvikStripBatch)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    fs::remove_all(scratchRoot(), ec);
    return 0;
}
