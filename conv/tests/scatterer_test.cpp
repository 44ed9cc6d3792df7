#include "conv/scatterer.h"
#include "test_tables.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace tvconv {
namespace {

namespace fs = std::filesystem;

class ScattererFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() /
               ("tvconv_scatterer_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path write(const std::string& content)
    {
        const fs::path p = dir_ / "Test.dat";
        testing::writeFile(p, content);
        return p;
    }
    // The message of the refusal of `content`.
    std::string refusal(const std::string& content)
    {
        try {
            readScattererFile(write(content));
        } catch (const fixedio::Error& e) {
            return e.what();
        }
        ADD_FAILURE() << "accepted";
        return {};
    }

    fs::path dir_;
};

// Two coefficient rows and 45 scattering rows in a few of the number forms
// the fields allow.
std::string smallFile(int declaredRows = 2)
{
    std::string t = fixedio::formatI(declaredRows, 3) + "\r\n";
    t += " 1.700000\r\n";
    // Energy E9.3, then five E9.2 fields.
    t += " .100E-01  .23E+00  .14E+00  .50E+01  .10E-01  .00E+00\r\n";
    // A D exponent, implied decimals, a bare-sign exponent, an LF line end.
    t += "   1.0D-1       23   1.3E-1    412+1      0.0         \n";
    for (int k = 1; k <= 45; ++k) {
        std::string x = fixedio::formatE(0.01 * k, 10, 3);
        t += x + fixedio::formatE(1.0, 12, 5) + fixedio::formatE(0.1 * k, 12, 5) + "\r\n";
    }
    t += "a line after the tables is not read\r\n";
    return t;
}

TEST_F(ScattererFile, ReadsTheTablesInEveryNumberForm)
{
    const ScattererData d = readScattererFile(write(smallFile()));
    EXPECT_EQ(d.density, 1.7f);
    ASSERT_EQ(d.coefficients.size(), 2u);
    ASSERT_EQ(d.scattering.size(), 45u);
    EXPECT_EQ(d.file, (dir_ / "Test.dat").string());

    const CoefficientRow& r1 = d.coefficients[0];
    EXPECT_EQ(r1.energy, float(double(0.01f) * 1000.0));  // MeV read as single, then × 1000.0
    EXPECT_EQ(r1.c1, 0.23f);
    EXPECT_EQ(r1.c2, 0.14f);
    EXPECT_EQ(r1.c3, 5.0f);
    EXPECT_EQ(r1.unused4, 0.01f);
    EXPECT_EQ(r1.mu, float((double(0.23f) + double(0.14f) + double(5.0f)) * double(1.7f)));

    const CoefficientRow& r2 = d.coefficients[1];
    EXPECT_EQ(r2.energy, float(double(0.1f) * 1000.0));
    EXPECT_EQ(r2.c1, 0.23f) << "\"23\" without a point has two implied decimals";
    EXPECT_EQ(r2.c2, 0.13f);
    EXPECT_EQ(r2.c3, 41.2f) << "\"412+1\": two implied decimals and the exponent 1";
    EXPECT_EQ(r2.unused5, 0.0f) << "a blank field reads 0";

    EXPECT_EQ(d.scattering[0].x, 0.01f);
    EXPECT_EQ(d.scattering[44].x, 0.45f);
    EXPECT_EQ(d.scattering[44].s, 4.5f);
    EXPECT_EQ(d.scattering[3].unused, 1.0f);
}

TEST_F(ScattererFile, RefusesTableSizesOutsideTheCapacity)
{
    std::string tooMany = smallFile();
    tooMany.replace(0, 3, " 39");
    std::string m = refusal(tooMany);
    EXPECT_NE(m.find("line 1"), std::string::npos) << m;
    EXPECT_NE(m.find("39 rows; at most 38"), std::string::npos) << m;

    std::string one = smallFile();
    one.replace(0, 3, "  1");
    EXPECT_NE(refusal(one).find("at least 2"), std::string::npos);

    // 44 scattering rows: the file ends where row 45 should stand (line 49).
    std::string t = smallFile();
    t = t.substr(0, t.rfind("\r\n", t.rfind("a line after") - 3) + 2);
    m = refusal(t);
    EXPECT_NE(m.find("Test.dat, line 49"), std::string::npos) << m;
    EXPECT_NE(m.find("scattering-function row 45 of 45"), std::string::npos) << m;
}

TEST_F(ScattererFile, RefusesEntriesTheInterpolationCannotUse)
{
    // Row 2 energy not above row 1.
    std::string t = smallFile();
    t.replace(t.find("   1.0D-1"), 9, "   1.0D-2");
    std::string m = refusal(t);
    EXPECT_NE(m.find("Test.dat, line 4"), std::string::npos) << m;
    EXPECT_NE(m.find("coefficient row 2"), std::string::npos) << m;
    EXPECT_NE(m.find("ascending"), std::string::npos) << m;

    // S of scattering row 1 is 0.
    t = smallFile();
    t.replace(t.find(" .10000E+00"), 11, " .00000E+00");
    m = refusal(t);
    EXPECT_NE(m.find("line 5"), std::string::npos) << m;
    EXPECT_NE(m.find("scattering function S 0"), std::string::npos) << m;

    // c1 + c2 negative.
    t = smallFile();
    t.replace(t.find("  .23E+00"), 9, " -.23E+00");
    m = refusal(t);
    EXPECT_NE(m.find("c1 + c2 -0.09"), std::string::npos) << m;

}

TEST_F(ScattererFile, MissingFileIsReportedAndNotCreated)
{
    const fs::path missing = dir_ / "PMMA.dat";
    try {
        readScattererFile(missing);
        ADD_FAILURE() << "accepted";
    } catch (const fixedio::Error& e) {
        EXPECT_NE(std::string(e.what()).find("PMMA.dat"), std::string::npos);
    }
    EXPECT_FALSE(fs::exists(missing));
}

} // namespace
} // namespace tvconv
