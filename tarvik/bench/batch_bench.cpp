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

#include <filesystem>

namespace {

namespace fs = std::filesystem;

const fs::path kData = TARVIK_DATA_DIR;
const char* kDemo = "W80kV_2.5mmAl_direct.csv";

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
// with Enter answered, its result written into Tarvik_data.
void BM_TvstripPerFile(benchmark::State& state)
{
    const fs::path work = fs::temp_directory_path() / ("tarvik_bench_" + std::to_string(getpid()));
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
    for (auto _ : state) {
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
    fs::remove_all(work);
}
BENCHMARK(BM_TvstripPerFile)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
