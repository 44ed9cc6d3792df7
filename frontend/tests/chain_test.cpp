// The whole chain as the user drives it: the dialogs' rules write the
// exchange files, then the real tvstrip and tvconv run on them in a scratch
// working folder (with small response tables and a small scatterer file
// written here), and their results are read back.
#include "exchange.h"
#include "spectrumfiles.h"
#include "testutil.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include <gtest/gtest.h>

using namespace tarvik;
using namespace tarvik::test;

namespace {

// Runs a console program in `dir`, answering both of its Enter prompts.
int runConsoleProgram(const std::filesystem::path& program, const std::filesystem::path& dir) {
    std::string cmd = "cd '" + dir.string() + "' && printf '\\n\\n' | '" + program.string() + "' > console.log 2>&1";
    return std::system(cmd.c_str());
}

// Response tables whose whole response (500000 counts) lies in the bin of
// the file's own energy: a corrected channel keeps its count, and channels
// in lower bins lose nothing.
void writeIdentityResponses(const std::filesystem::path& dir, int fromCode, int toCode) {
    std::filesystem::create_directories(dir / "RES");
    for (int code = fromCode; code <= toCode; code += 5) {
        int k = code / 5;  // bin of the file's own energy
        std::string s;
        for (int b = 1; b <= 300; ++b) {
            char f[16];
            std::snprintf(f, sizeof f, "%8.1f", b == k ? 500000.0 : 0.0);
            s += f;
            if (b % 10 == 0) s += "\r\n";
        }
        writeBytes(dir / "RES" / (std::to_string(code) + "kev.dat"), s);
    }
}

// A smooth, positive scatterer: 20 energies from 1 keV to 1 MeV and 45
// momentum-transfer values from 0.001 to 100 per angstrom.
void writeScatterer(const std::filesystem::path& file) {
    std::string s = " 20\r\n 1.000000\r\n";
    char line[128];
    for (int k = 0; k < 20; ++k) {
        double mev = std::pow(10.0, -3.0 + 3.0 * k / 19.0);
        double kev = mev * 1000.0;
        std::snprintf(line, sizeof line, "%9.3E%9.2E%9.2E%9.2E%9.2E%9.2E\r\n", mev, 0.15 + 0.05 / (1 + kev / 30),
                      0.02, 10.0 / (kev * kev) + 0.01, 0.0, 0.0);
        s += line;
    }
    for (int k = 0; k < 45; ++k) {
        double x = std::pow(10.0, -3.0 + 5.0 * k / 44.0);
        std::snprintf(line, sizeof line, "%10.3E%12.5E%12.5E\r\n", x, 0.0, 6.0 * (1.0 - std::exp(-x)) + 1e-3);
        s += line;
    }
    writeBytes(file, s);
}

int measuredCount(int ch) {
    if (ch == 120) return 3;  // too small to be corrected: kept as it is
    // one corrected channel per response bin, so that no corrected channel
    // lies in the bin of another
    return ch == 150 || ch == 160 || ch == 170 ? 100 + ch : 0;
}

std::string padded60(std::string s) {
    s.resize(60, ' ');
    return s;
}

} // namespace

TEST(ChainTest, StrippingThenConversionThroughTheConsolePrograms) {
    ScratchFolder dir;
    writeIdentityResponses(dir.path(), 50, 205);
    writeScatterer(dir.path() / "Carbon.dat");
    writeBytes(dir.data() / "meas.csv", measuredFile(31, measuredCount));

    // ---- stripping dialog, then tvstrip ----
    AppState state;
    ScriptedUser user;
    RecordingLauncher launcher;
    StripEntries e;
    e.folder = dir.dataUtf8();
    e.selectedFile = "meas.csv";
    e.text1 = "管電圧 20 kV";
    e.text3 = "20";
    e.text4 = "結果";
    e.text5 = "0.1";
    e.text6 = "32";
    ASSERT_EQ(stripGo(state, e, dir.path(), user, launcher), GoOutcome::Started) << user.lastText();
    ASSERT_EQ(runConsoleProgram(TVSTRIP_PATH, dir.path()), 0) << readBytes(dir.path() / "console.log");

    const std::filesystem::path mca1 = dir.data() / "結果.mca1";
    ASSERT_TRUE(std::filesystem::exists(mca1)) << readBytes(dir.path() / "console.log");
    auto r = splitCrLf(readBytes(mca1));
    ASSERT_EQ(r.size(), 1046u);
    EXPECT_EQ(r[0], padded60("\x8a\xc7\x93\x64\x88\xb3 20 kV"));  // the comment, in Shift_JIS
    EXPECT_EQ(r[1], padded60("-- No comment --"));
    EXPECT_EQ(r[2], " 20");
    EXPECT_EQ(r[3], "  .100");
    EXPECT_EQ(r[4], padded60("Header line 1"));
    EXPECT_EQ(r[20], padded60("Header line 17"));
    EXPECT_EQ(r[21], "  Ch.   KeV    Counts");
    EXPECT_EQ(r[22 + 149], " 150   15.00     250");

    ResultSpectrum stripped = readResultFile(mca1);
    for (int ch = 1; ch <= 1024; ++ch)
        EXPECT_EQ(stripped.counts[static_cast<std::size_t>(ch)], measuredCount(ch)) << "channel " << ch;

    // ---- conversion dialog, then tvconv ----
    ConvertClick click = convertFileClicked(state, dir.dataUtf8(), "結果.mca1");
    ASSERT_FALSE(click.error);
    EXPECT_EQ(click.text3, "20");
    ConvertEntries c;
    c.folder = dir.dataUtf8();
    c.selectedFile = "結果.mca1";
    c.text1 = click.text1;
    c.text2 = "";
    c.text4 = click.proposedName + "_一次線";
    c.text5 = "90";
    c.text6 = "10";
    ASSERT_EQ(convertGo(state, c, dir.path(), user, launcher), GoOutcome::Started) << user.lastText();
    ASSERT_EQ(runConsoleProgram(TVCONV_PATH, dir.path()), 0) << readBytes(dir.path() / "console.log");

    const std::filesystem::path mca2 = dir.data() / "結果_一次線.mca2";
    ASSERT_TRUE(std::filesystem::exists(mca2)) << readBytes(dir.path() / "console.log");
    auto q = splitCrLf(readBytes(mca2));
    ASSERT_EQ(q.size(), 1046u);
    EXPECT_EQ(q[0], r[0]);  // comment 1 as the box showed it
    EXPECT_EQ(q[1], std::string(60, ' '));  // the emptied comment box
    for (std::size_t i = 2; i < 21; ++i) EXPECT_EQ(q[i], padded60(r[i])) << "header line " << i + 1;
    ResultSpectrum primary = readResultFile(mca2);
    double total = 0;
    for (int ch = 1; ch <= 20; ++ch) EXPECT_EQ(primary.counts[static_cast<std::size_t>(ch)], 0);
    for (int ch = 1; ch <= 1024; ++ch) total += primary.counts[static_cast<std::size_t>(ch)];
    EXPECT_GT(total, 0);
}
