// Writes the seed corpora of the formats' fuzz targets with the tests' own
// writers: make_seeds <fuzz/corpus>.  Small spectra, so that the fuzzers
// start from short inputs that reach every part of each reader.
#include "formats/measuredcsv_writer.h"
#include "formats/spectrum.h"
#include "writers.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;
using namespace formats;

namespace {

void put(const fs::path& file, const std::string& bytes)
{
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << bytes;
    std::printf("%s (%zu bytes)\n", file.c_str(), bytes.size());
}

testing::Truth truth(std::size_t n, std::uint64_t seed = 1)
{
    testing::Truth t;
    t.counts = testing::someCounts(n, seed);
    return t;
}

std::string columns(std::size_t n, const char* head, const char* row, bool energies)
{
    const auto c = testing::someCounts(n, 3);
    std::string s = head;
    for (std::size_t k = 0; k < n; ++k) {
        char buf[96];
        if (energies) std::snprintf(buf, sizeof buf, row, k, 0.05 + 0.1 * static_cast<double>(k), static_cast<unsigned long long>(c[k]));
        else std::snprintf(buf, sizeof buf, row, k, static_cast<unsigned long long>(c[k]));
        s += buf;
    }
    return s;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds <fuzz/corpus folder>\n");
        return 2;
    }
    const fs::path out = argv[1];
    put(out / "pmca" / "dp5_256.mca", testing::pmcaFile(truth(256)));
    put(out / "pmca" / "plain_64.mca", testing::pmcaFile(truth(64, 2), false, "\n"));
    put(out / "spe" / "fit_128.spe", testing::speFile(truth(128)));
    testing::Truth q = truth(64, 4);
    q.quadratic = 1e-5;
    put(out / "spe" / "mcacal_64.spe", testing::speFile(q, 10, true));
    put(out / "chn" / "trailer_128.chn", testing::chnFile(truth(128)));
    put(out / "chn" / "bare_64.chn", testing::chnFile(truth(64, 5), false));
    put(out / "chn" / "quadratic_64.chn", testing::chnFile(q, true, 16));
    put(out / "n42" / "two_64.n42", testing::n42File({truth(64), truth(64, 6)}));
    put(out / "n42" / "zeroes_64.n42", testing::n42File({truth(64, 7)}, true));
    put(out / "columns" / "channel_energy_count.csv", columns(64, "channel,energy,count\n", "%zu,%.4f,%llu\n", true));
    put(out / "columns" / "semicolons.csv", columns(64, "# exported\nKanal;Energie;Counts\n", "%zu;%.4f;%llu\n", true));
    put(out / "columns" / "channel_count.txt", columns(64, "", "%zu\t%llu\n", false));
    // The measured layout: the import writer's own output, and a short file.
    Spectrum s = parseSpectra(testing::pmcaFile(truth(1024, 8)), "seed.mca").front();
    MeasuredCsvOptions o;
    o.sourceName = "seed.mca";
    put(out / "measured" / "imported_1024.csv", toMeasuredCsv(s, o).bytes);
    std::string shortCsv;
    for (int i = 1; i <= 31; ++i) shortCsv += "header " + std::to_string(i) + "\r\n";
    for (int k = 1; k <= 64; ++k) shortCsv += std::to_string(k) + "," + std::to_string(0.1 * k) + "," + std::to_string(k * 7 % 50) + "\r\n";
    put(out / "measured" / "short_64.csv", shortCsv);
    return 0;
}
