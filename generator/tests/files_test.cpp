// The files the generator writes, read back by the programs that use them.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "fixedio/files.h"
#include "fixedio/fixedio.h"
#include "detector/detector.h"
#include "detector/physics_data.h"
#include "detector/response_tables.h"
#include "generator/scatterer.h"
#include "generator/spectra.h"

#ifdef TVGEN_HAVE_TVSTRIP
#include "strip/response_table.h"
#endif
#ifdef TVGEN_HAVE_TVCONV
#include "conv/scatterer.h"
#endif

namespace tvgen {
using namespace tvdet;
namespace {

namespace fs = std::filesystem;

class TempDir {
public:
    TempDir()
    {
        path_ = fs::temp_directory_path() /
                ("tvgen_test_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~TempDir() { fs::remove_all(path_); }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

std::vector<std::string> crlfLines(const std::string& content)
{
    std::vector<std::string> lines;
    std::size_t pos = 0;
    while (pos < content.size()) {
        const auto end = content.find("\r\n", pos);
        if (end == std::string::npos) {
            ADD_FAILURE() << "line without CR LF at byte " << pos;
            break;
        }
        lines.push_back(content.substr(pos, end - pos));
        pos = end + 2;
    }
    return lines;
}

ResponseRun smallRun(int code)
{
    tvdet::DetectorConfig c;
    const tvdet::Detector d(c);
    ResponseOptions o;
    o.photonsPerChunk = 20000;
    o.minChunks = 2;
    o.maxPeakUncertainty = 1.0;
    return simulateResponse(d, code, o);
}

TEST(ResponseFileTest, ThirtyRecordsOfTenEightColumnFields)
{
    const ResponseRun run = smallRun(600);
    const auto table = scaledTable(run);
    const auto lines = crlfLines(formatResponseTable(table));
    ASSERT_EQ(lines.size(), 30u);
    for (int r = 0; r < 30; ++r) {
        ASSERT_EQ(lines[static_cast<std::size_t>(r)].size(), 80u) << "record " << r + 1;
        for (int i = 0; i < 10; ++i) {
            const std::string field = lines[static_cast<std::size_t>(r)].substr(static_cast<std::size_t>(8 * i), 8);
            EXPECT_NEAR(fixedio::parseRealFieldDouble(field, 0), table[static_cast<std::size_t>(10 * r + i + 1)], 0.05);
        }
    }
    // 40000 photons scaled to 500000: every count becomes 12.5 table counts.
    EXPECT_DOUBLE_EQ(table[static_cast<std::size_t>(responseBin(60.0))],
                     12.5 * static_cast<double>(run.counts[static_cast<std::size_t>(responseBin(60.0))]));
}

TEST(ResponseFileTest, ValuesThatCannotBeWrittenAreRefused)
{
    std::array<double, kTableBins + 1> t{};
    t[5] = 1e6;
    EXPECT_THROW(formatResponseTable(t), std::range_error);
    t[5] = -1;
    EXPECT_THROW(formatResponseTable(t), std::range_error);
}

#ifdef TVGEN_HAVE_TVSTRIP
TEST(ResponseFileTest, StrippingProgramReadsTheTableBack)
{
    TempDir dir;
    const ResponseRun run = smallRun(595);
    const auto table = scaledTable(run);
    const auto file = dir.path() / responseFileName(595);
    fixedio::writeFileAtomically(file, formatResponseTable(table));
    const tvstrip::ResponseTable r = tvstrip::loadResponseTable(file);
    EXPECT_EQ(r[0], 0.0f);
    for (int b = 1; b <= kTableBins; ++b) ASSERT_NEAR(r[static_cast<std::size_t>(b)], table[static_cast<std::size_t>(b)], 0.05) << b;
    // The full-energy peak the stripping takes (bins k-1 and k) holds the
    // full-energy events of the simulation.
    const int k = responseBin(59.5);
    EXPECT_GT(r[static_cast<std::size_t>(k)] + r[static_cast<std::size_t>(k - 1)], 0.8 * 500000);
}
#endif

TEST(ScattererFileTest, TablesCoverEveryConversionTarget)
{
    const auto e = coefficientEnergiesMeV();
    const auto x = momentumTransfers();
    ASSERT_LE(e.size(), 38u);
    ASSERT_EQ(x.size(), 45u);
    EXPECT_GE(e.back(), 0.400);
    EXPECT_LT(e.back(), 1.022);  // below pair production: the pair columns are exactly 0
    EXPECT_GE(x.back(), 30.0);
    for (std::size_t i = 1; i < x.size(); ++i) EXPECT_GT(x[i], x[i - 1]);
    for (std::size_t i = 1; i < e.size(); ++i) EXPECT_GT(e[i], e[i - 1]);
    EXPECT_GT(x.front(), 0.0);
}

TEST(ScattererFileTest, PmmaMassFractionsAgreeWithTheNistCompound)
{
    const auto w = massFractions(pmma());
    const auto nist = tvdet::xrl::nistCompound("Polymethyl Methacralate (Lucite, Perspex)");
    EXPECT_NEAR(nist.density, pmma().density, 1e-9);
    for (std::size_t j = 0; j < nist.elements.size(); ++j)
        for (auto [Z, f] : w)
            if (Z == nist.elements[j]) {
                EXPECT_NEAR(f, nist.massFractions[j], 2e-4) << "Z=" << Z;
            }
}

#ifdef TVGEN_HAVE_TVCONV
TEST(ScattererFileTest, ConversionProgramReadsValuesMatchingThePhysicsData)
{
    TempDir dir;
    for (const auto& m : {graphite(), pmma()}) {
        const auto file = dir.path() / (m.name + ".dat");
        fixedio::writeFileAtomically(
            file, formatScattererFile(buildScattererTable(m, coefficientEnergiesMeV(), momentumTransfers())));
        const tvconv::ScattererData d = tvconv::readScattererFile(file);  // also checks the lookups' domain
        EXPECT_NEAR(d.density, m.density, 1e-6);
        ASSERT_EQ(d.coefficients.size(), coefficientEnergiesMeV().size());
        // Independent recomputation from the physics data (three significant
        // digits written: half a unit in the third digit).
        const auto w = massFractions(m);
        for (std::size_t i = 0; i < d.coefficients.size(); ++i) {
            const auto& row = d.coefficients[i];
            const double kev = coefficientEnergiesMeV()[i] * 1000.0;
            EXPECT_NEAR(row.energy, kev, 1e-4 * kev);
            double coh = 0, inc = 0, ph = 0;
            for (auto [Z, f] : w) {
                coh += f * tvdet::xrl::rayleigh(Z, kev);
                inc += f * tvdet::xrl::compton(Z, kev);
                ph += f * tvdet::xrl::photo(Z, kev);
            }
            EXPECT_NEAR(row.c1, coh, 0.0051 * coh) << m.name << " " << kev << " keV";
            EXPECT_NEAR(row.c2, inc, 0.0051 * inc) << m.name << " " << kev << " keV";
            EXPECT_NEAR(row.c3, ph, 0.0051 * ph) << m.name << " " << kev << " keV";
            EXPECT_EQ(row.unused4, 0.0f);
            EXPECT_EQ(row.unused5, 0.0f);
            EXPECT_NEAR(row.mu, (coh + inc + ph) * m.density, 0.006 * (coh + inc + ph) * m.density);
        }
        for (std::size_t i = 0; i < d.scattering.size(); ++i) {
            const auto& row = d.scattering[i];
            double s = 0;
            for (auto [Z, n] : m.atoms) s += n * tvdet::xrl::scatteringFunction(Z, row.x);
            EXPECT_NEAR(row.s, s, 5.1e-5 * s) << m.name << " x=" << row.x;
        }
        // At large momentum transfer every electron scatters incoherently.
        int electrons = 0;
        for (auto [Z, n] : m.atoms) electrons += Z * n;
        EXPECT_NEAR(d.scattering.back().s, electrons, 0.01 * electrons);
    }
}
#endif

TEST(MeasuredSpectrumTest, AnalyserCsvLayout)
{
    std::vector<std::string> header(31, "");
    header[3] = "SIMULATED demo";
    ChannelCounts counts{};
    counts[0] = 7;
    counts[1023] = 999999;
    const auto lines = crlfLines(formatMeasuredCsv(header, counts, 0.1));
    ASSERT_EQ(lines.size(), 31u + 1024u);
    EXPECT_EQ(lines[3], "SIMULATED demo");
    EXPECT_EQ(lines[31], "1,0.10,7");
    EXPECT_EQ(lines[31 + 1023], "1024,102.40,999999");
    counts[5] = 1000000;
    EXPECT_THROW(formatMeasuredCsv(header, counts, 0.1), std::range_error);
    header[2] = "a,b";
    counts[5] = 0;
    EXPECT_THROW(formatMeasuredCsv(header, counts, 0.1), std::invalid_argument);
}

TEST(MeasuredSpectrumTest, LinePeakSitsAtItsEnergyWithTheDetectorResolution)
{
    tvdet::DetectorConfig c;
    const tvdet::Detector d(c);
    MeasurementOptions o;
    o.photonsPerChunk = 20000;
    o.threads = 2;
    const ChannelCounts n = measureSpectrum(d, PhotonSpectrum{{59.54}, {1.0}}, 40000, o);
    // Mean and spread of the peak region (58..61 keV).
    double s0 = 0, s1 = 0, s2 = 0;
    for (int i = 580; i <= 610; ++i) {
        const double e = (i - 0.5) * 0.1, w = static_cast<double>(n[static_cast<std::size_t>(i - 1)]);
        s0 += w;
        s1 += w * e;
        s2 += w * e * e;
    }
    const double mean = s1 / s0, fwhm = std::sqrt(s2 / s0 - mean * mean) * 2.3548;
    EXPECT_NEAR(mean, 59.54, 0.03);
    EXPECT_NEAR(fwhm, resolutionFwhm(59.54), 0.06);
    // The Cd K-alpha escape peak appears 23.1 keV lower.
    std::int64_t escape = 0, beside = 0;
    for (int i = 361; i <= 368; ++i) escape += n[static_cast<std::size_t>(i - 1)];
    for (int i = 341; i <= 348; ++i) beside += n[static_cast<std::size_t>(i - 1)];
    EXPECT_GT(escape, 5 * beside);
}

} // namespace
} // namespace tvgen
