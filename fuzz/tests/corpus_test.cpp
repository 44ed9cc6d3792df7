// The oracle the fuzz targets apply to result files, and the health of the
// seed corpora: a seed its reader refuses would leave the fuzzer starting
// from the error path only, so every seed must still be read in full.
#include "result_layout.h"

#include "conv/exchange.h"
#include "conv/profile.h"
#include "conv/scatterer.h"
#include "fixedio/fixedio.h"
#include "strip/exchange.h"
#include "strip/response_table.h"
#include "strip/detector_profile.h"
#include "strip/stripping.h"
#include "strip/unfold.h"
#include "strip/unfold_response.h"

#include "formats/spectrum.h"
#include "settings.h"
#include "spectrumfiles.h"
#include "spectrumload.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::vector<fs::path> seeds(const char* target)
{
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(fs::path(TARVIK_FUZZ_CORPUS_DIR) / target))
        if (e.is_regular_file()) files.push_back(e.path());
    return files;
}

} // namespace

// ---------------------------------------------------------------------------
// The layout check

TEST(FuzzResultLayout, AcceptsWholeLinesOfTheRightCount)
{
    EXPECT_FALSE(fuzzsupport::resultLayoutProblem("a\r\nb\r\n", 2));
    EXPECT_FALSE(fuzzsupport::resultLayoutProblem("", 0));
    EXPECT_FALSE(fuzzsupport::resultLayoutProblem("\r\n\r\n\r\n", 3));  // empty lines count
}

TEST(FuzzResultLayout, FindsLineEndsThatWouldShiftTheRecords)
{
    // A lone CR or LF splits a line for the front end's reader.
    EXPECT_TRUE(fuzzsupport::resultLayoutProblem("a\rb\r\nc\r\n", 2));
    EXPECT_TRUE(fuzzsupport::resultLayoutProblem("a\nb\r\nc\r\n", 2));
    EXPECT_TRUE(fuzzsupport::resultLayoutProblem("a\r\r\nb\r\n", 2));
    // The last line without its line end.
    EXPECT_TRUE(fuzzsupport::resultLayoutProblem("a\r\nb", 2));
}

TEST(FuzzResultLayout, FindsAWrongNumberOfLines)
{
    const auto fewer = fuzzsupport::resultLayoutProblem("a\r\n", 2);
    ASSERT_TRUE(fewer);
    EXPECT_NE(fewer->find("1 lines instead of 2"), std::string::npos) << *fewer;
    EXPECT_TRUE(fuzzsupport::resultLayoutProblem("a\r\nb\r\nc\r\n", 2));
}

// ---------------------------------------------------------------------------
// Seeds of the console programs' files

TEST(FuzzSeedCorpus, ExchangeFilesOfTheStrippingProgramAreRead)
{
    const auto temp = seeds("tempfile");
    ASSERT_FALSE(temp.empty());
    for (const fs::path& f : temp) {
        SCOPED_TRACE(f.string());
        fixedio::LineReader in(f, "TempFile.dat");
        tvstrip::StripJob job;
        ASSERT_NO_THROW(tvstrip::readTempFile(in, job));
        EXPECT_NO_THROW(tvstrip::planStripping(job.voltage, job.kevPerChannel));
    }
    const auto header = seeds("comtxt");
    ASSERT_FALSE(header.empty());
    for (const fs::path& f : header) {
        SCOPED_TRACE(f.string());
        fixedio::LineReader in(f, "Com.txt");
        tvstrip::StripJob job;
        EXPECT_NO_THROW(tvstrip::readHeaderLines(in, job));
    }
}

TEST(FuzzSeedCorpus, ResponseTablesAreRead)
{
    const auto tables = seeds("response");
    ASSERT_FALSE(tables.empty());
    for (const fs::path& f : tables) {
        SCOPED_TRACE(f.string());
        const tvstrip::ResponseTable r = tvstrip::loadResponseTable(f);
        float sum = 0;
        for (float v : r) sum += v;
        EXPECT_GT(sum, 0.0f) << "a table without counts exercises little of the stripping";
    }
}

TEST(FuzzSeedCorpus, ExchangeFilesOfTheConversionProgramAreRead)
{
    const auto requests = seeds("tempfile2");
    ASSERT_FALSE(requests.empty());
    for (const fs::path& f : requests) {
        SCOPED_TRACE(f.string());
        const tvconv::ConversionRequest r = tvconv::readConversionRequest(f);
        // The target converts with the shipped file of this name.
        const fs::path name = r.scattererPath.filename();
        EXPECT_TRUE(name == "PMMA.dat" || name == "Carbon.dat") << name;
    }
    const auto headers = seeds("comdat");
    ASSERT_FALSE(headers.empty());
    for (const fs::path& f : headers) {
        SCOPED_TRACE(f.string());
        EXPECT_EQ(tvconv::readResultHeader(f).size(), static_cast<std::size_t>(tvconv::headerLineCount));
    }
    const auto scatterers = seeds("scatterer");
    ASSERT_FALSE(scatterers.empty());
    for (const fs::path& f : scatterers) {
        SCOPED_TRACE(f.string());
        EXPECT_NO_THROW(tvconv::readScattererFile(f));
    }
}

TEST(FuzzSeedCorpus, DataOfTheUnfoldingMethodsAreRead)
{
    const auto profiles = seeds("detector_profile");
    ASSERT_FALSE(profiles.empty());
    const auto responses = seeds("unfold_response");
    ASSERT_FALSE(responses.empty());
    for (const fs::path& f : responses) {
        SCOPED_TRACE(f.string());
        std::ifstream in(f, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        tvstrip::UnfoldResponse r;
        ASSERT_NO_THROW(r = tvstrip::parseUnfoldResponse(bytes, f.string()));
        // The target unfolds 12 kV at 0.5 keV per channel: the data must reach it.
        EXPECT_NO_THROW(tvstrip::unfoldRange(r, 12, 0.5f));
        // Made for the detector of the profile seeds, as the loader demands.
        for (const fs::path& p : profiles) {
            SCOPED_TRACE(p.string());
            EXPECT_EQ(tvstrip::loadDetectorProfile(p.string()).transportFingerprint(), r.profileFingerprint);
        }
    }
    const auto compton = seeds("compton_profile");
    ASSERT_FALSE(compton.empty());
    for (const fs::path& f : compton) {
        SCOPED_TRACE(f.string());
        EXPECT_NO_THROW(tvconv::readProfileFile(f));
    }
}

// ---------------------------------------------------------------------------
// Seeds of the front end's files

TEST(FuzzSeedCorpus, SpectrumFilesAreReadByTheDialogsAndTheDisplay)
{
    const auto measured = seeds("csv");
    ASSERT_FALSE(measured.empty());
    for (const fs::path& f : measured) {
        SCOPED_TRACE(f.string());
        // The target presses "補正 GO" with 32 as the first data line.
        EXPECT_NO_THROW(tarvik::readMeasuredFile(f, 32));
        EXPECT_TRUE(tarvik::loadSpectrum(f).has_value());
    }
    const auto results = seeds("mca");
    ASSERT_FALSE(results.empty());
    for (const fs::path& f : results) {
        SCOPED_TRACE(f.string());
        EXPECT_NO_THROW(tarvik::readResultPreview(f));
        EXPECT_NO_THROW(tarvik::readResultFile(f));
        EXPECT_TRUE(tarvik::loadSpectrum(f).has_value());
    }
}

TEST(FuzzSeedCorpus, SettingsFilesAreRead)
{
    const auto files = seeds("settings");
    ASSERT_FALSE(files.empty());
    for (const fs::path& f : files) {
        SCOPED_TRACE(f.string());
        const tarvik::SettingsAtStart s = tarvik::readSettingsAtStart(f);
        EXPECT_TRUE(s.settings.has_value()) << s.problem;
        if (s.settings) {
            EXPECT_GT(s.settings->kevPerChannel, 0.0);
        }
    }
}

// The seeds of the spectrum-file targets (made by build/formats/make_seeds):
// each read in full as its target's format, with its times and calibration.
TEST(FuzzSeedCorpus, SpectrumFilesOfEveryFormatAreRead)
{
    const std::pair<const char*, formats::Format> kinds[] = {
        {"pmca", formats::Format::PmcaMca}, {"spe", formats::Format::Spe},
        {"chn", formats::Format::Chn},      {"n42", formats::Format::N42},
        {"columns", formats::Format::PlainText}, {"measured", formats::Format::MeasuredCsv}};
    for (const auto& [kind, format] : kinds) {
        const auto files = seeds(kind);
        ASSERT_GE(files.size(), 2u) << kind;
        for (const fs::path& f : files) {
            SCOPED_TRACE(f.string());
            formats::ReadOptions o;
            o.format = format;
            std::vector<formats::Spectrum> read;
            ASSERT_NO_THROW(read = formats::readSpectra(f, o));
            ASSERT_FALSE(read.empty());
            EXPECT_EQ(formats::readSpectra(f).front().format, format);  // also recognised as such
            if (format != formats::Format::PlainText && format != formats::Format::MeasuredCsv) {
                EXPECT_TRUE(read.front().liveTimeS.has_value());
            }
            if (format != formats::Format::MeasuredCsv && f.filename() != "bare_64.chn" &&
                f.filename() != "channel_count.txt") {
                EXPECT_TRUE(read.front().calibration.has_value());
            }
        }
    }
}
