// Text, JSON and CSV records of the beam-quality figures.
#include "quality/beamquality.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cctype>
#include <limits>
#include <string>
#include <vector>

namespace {

quality::BeamQuality sample()
{
    quality::BeamQuality q;
    q.kevPerChannel = 0.1;
    q.total = {1000, 31.6};
    q.meanEnergyKeV = {42.5, 0.01};
    q.hvl1AlMm = {2.6, 0.003};
    q.hvl2AlMm = {3.9, std::nan("")};  // no uncertainty
    return q;
}

// Every "name": of a one-line JSON object, in order.
std::vector<std::string> keys(const std::string& json)
{
    std::vector<std::string> out;
    for (std::size_t i = 0; (i = json.find('"', i)) != std::string::npos;) {
        std::size_t j = i + 1;
        while (j < json.size() && (std::isalnum(static_cast<unsigned char>(json[j])) || json[j] == '_')) ++j;
        if (j > i + 1 && j + 1 < json.size() && json[j] == '"' && json[j + 1] == ':') {
            out.push_back(json.substr(i + 1, j - i - 1));
            j += 2;
        }
        i = j;
    }
    return out;
}

std::vector<std::string> splitCsv(const std::string& line)
{
    std::vector<std::string> out(1);
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') { out.back() += '"'; ++i; }
            else if (c == '"') quoted = false;
            else out.back() += c;
        } else if (c == '"') quoted = true;
        else if (c == ',') out.emplace_back();
        else out.back() += c;
    }
    return out;
}

TEST(QualityFormat, JsonHasEveryKeyOnceAndNullForMissing)
{
    const std::string j = quality::toJson(sample(), "a.mca1");
    const std::vector<std::string> expected = {
        "file", "kev_per_channel", "total", "total_u", "mean_energy_keV", "mean_energy_keV_u",
        "kerma_mean_energy_keV", "kerma_mean_energy_keV_u", "hvl1_al_mm", "hvl1_al_mm_u", "hvl2_al_mm",
        "hvl2_al_mm_u", "hvl1_cu_mm", "hvl1_cu_mm_u", "hvl2_cu_mm", "hvl2_cu_mm_u", "homogeneity_al",
        "homogeneity_al_u", "homogeneity_cu", "homogeneity_cu_u", "effective_energy_keV",
        "effective_energy_keV_u", "end_point_keV", "end_point_keV_u"};
    EXPECT_EQ(keys(j), expected);
    EXPECT_EQ(j.find('\n'), std::string::npos);
    EXPECT_NE(j.find("\"hvl1_al_mm\":2.6,"), std::string::npos) << j;
    EXPECT_NE(j.find("\"hvl2_al_mm_u\":null"), std::string::npos) << j;
    EXPECT_EQ(j.find("nan"), std::string::npos) << j;
}

TEST(QualityFormat, JsonFileNamesStayValidAndComplete)
{
    // A quote, a backslash, a control character and a Shift_JIS byte pair
    // (not UTF-8): escaped, nothing dropped; UTF-8 passes unchanged.
    const std::string j = quality::toJson(sample(), std::string("a\"b\\c\td\x83\x58.csv"));
    EXPECT_NE(j.find(R"("file":"a\"b\\c\u0009d\u0083X.csv")"), std::string::npos) << j;
    const std::string u = quality::toJson(sample(), "スペクトル.csv");
    EXPECT_NE(u.find("\"file\":\"スペクトル.csv\""), std::string::npos) << u;
}

TEST(QualityFormat, NumbersKeepTheirTenDigitFormInJsonAndCsv)
{
    // Ten significant digits, the shortest of fixed and exponent form, the
    // exponent with at least two digits; what is not finite is null in JSON
    // and empty in CSV.  Readers of earlier records rely on the same text.
    quality::BeamQuality q;
    q.kevPerChannel = 1.0 / 3;
    q.total = {123456789012.0, 0.1};
    q.meanEnergyKeV = {1e-300, 4.9406564584124654e-324};
    q.kermaMeanEnergyKeV = {1.7976931348623157e308, -0.0};
    q.hvl1AlMm = {-2.5e-5, std::numeric_limits<double>::infinity()};
    q.hvl2AlMm = {1e21, 100000};
    q.hvl1CuMm = {9999999999.5, 0.00012345678901};
    q.hvl2CuMm = {-std::numeric_limits<double>::infinity(), 12345678901234567890.0};
    q.homogeneityAl = {0.0, 1e15};
    q.homogeneityCu = {2.0, 1e-5};
    q.effectiveEnergyKeV = {1e-4, 0.000099999999995};
    q.endPointKeV = {79.999999999, -123.45};
    EXPECT_EQ(quality::toJson(q, "n.csv"),
              R"({"file":"n.csv","kev_per_channel":0.3333333333,"total":1.23456789e+11,"total_u":0.1,)"
              R"("mean_energy_keV":1e-300,"mean_energy_keV_u":4.940656458e-324,)"
              R"("kerma_mean_energy_keV":1.797693135e+308,"kerma_mean_energy_keV_u":-0,)"
              R"("hvl1_al_mm":-2.5e-05,"hvl1_al_mm_u":null,"hvl2_al_mm":1e+21,"hvl2_al_mm_u":100000,)"
              R"("hvl1_cu_mm":1e+10,"hvl1_cu_mm_u":0.000123456789,"hvl2_cu_mm":null,"hvl2_cu_mm_u":1.23456789e+19,)"
              R"("homogeneity_al":0,"homogeneity_al_u":1e+15,"homogeneity_cu":2,"homogeneity_cu_u":1e-05,)"
              R"("effective_energy_keV":0.0001,"effective_energy_keV_u":0.0001,)"
              R"("end_point_keV":80,"end_point_keV_u":-123.45})");
    EXPECT_EQ(quality::toCsv(q, "n.csv"),
              "n.csv,0.3333333333,1.23456789e+11,0.1,1e-300,4.940656458e-324,1.797693135e+308,-0,-2.5e-05,,"
              "1e+21,100000,1e+10,0.000123456789,,1.23456789e+19,0,1e+15,2,1e-05,0.0001,0.0001,80,-123.45");
    q.kevPerChannel = std::nan("");
    EXPECT_EQ(quality::toJson(q, "").rfind(R"({"file":"","kev_per_channel":null,"total":)", 0), 0u);
}

TEST(QualityFormat, CsvRecordMatchesItsHeader)
{
    const auto header = splitCsv(quality::csvHeader());
    const auto row = splitCsv(quality::toCsv(sample(), "with,comma \"q\".csv"));
    ASSERT_EQ(header.size(), row.size());
    ASSERT_EQ(header.size(), 24u);
    EXPECT_EQ(row[0], "with,comma \"q\".csv");
    for (std::size_t i = 0; i < header.size(); ++i) {
        if (header[i] == "hvl1_al_mm") { EXPECT_EQ(row[i], "2.6"); }
        if (header[i] == "hvl2_al_mm_u") { EXPECT_EQ(row[i], ""); }
        if (header[i] == "total_u") { EXPECT_EQ(row[i], "31.6"); }
    }
}

TEST(QualityFormat, TextShowsUncertaintyOnlyWhereThereIsOne)
{
    const std::string t = quality::formatText(sample(), "demo.csv");
    EXPECT_EQ(t.rfind("demo.csv\n", 0), 0u);
    EXPECT_NE(t.find("HVL1 Al: 2.6000 ± 0.0030 mm"), std::string::npos) << t;
    EXPECT_NE(t.find("HVL2 Al: 3.9000 mm"), std::string::npos) << t;
    EXPECT_NE(t.find("HVL1 Cu: n/a mm"), std::string::npos) << t;
}

} // namespace
