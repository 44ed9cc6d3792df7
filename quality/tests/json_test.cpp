// JSON documents written as one line: the exact text, and what a JSON
// reader makes of it.
#include "quality/json.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using nlohmann::ordered_json;

TEST(JsonLine, EveryKindOfValueInItsOrder)
{
    ordered_json j;
    j["z"] = 1.5;
    j["a"] = ordered_json::array({1, -2, 3.25, true, false, nullptr, "x"});
    j["empty"] = ordered_json::object();
    j["none"] = ordered_json::array();
    j["whole"] = std::uint64_t{18446744073709551615u};
    j["nested"]["k"] = std::numeric_limits<double>::quiet_NaN();
    j["nested"]["l"] = -std::numeric_limits<double>::infinity();
    EXPECT_EQ(quality::jsonLine(j),
              R"({"z":1.5,"a":[1,-2,3.25,true,false,null,"x"],"empty":{},"none":[],)"
              R"("whole":18446744073709551615,"nested":{"k":null,"l":null}})");
}

TEST(JsonLine, AJsonReaderGetsBackWhatWasWritten)
{
    // Names with quotes, backslashes, control characters and UTF-8 come back
    // unchanged; a byte that is not UTF-8 comes back as the code point of the
    // same number; numbers to their ten digits.
    ordered_json j;
    j["name"] = std::string("a\"b\\c\td\ne\x01/スペクトル.csv");
    j["sjis"] = std::string("\x83\x58.csv");
    j["values"] = ordered_json::array({1.0 / 3, 2.5e-300, -1.234567890123e308, 6.02214076e23, -0.0});
    const ordered_json back = ordered_json::parse(quality::jsonLine(j));
    EXPECT_EQ(back["name"], j["name"]);
    EXPECT_EQ(back["sjis"].get<std::string>(), "\xC2\x83X.csv");
    ASSERT_EQ(back["values"].size(), 5u);
    for (std::size_t i = 0; i < 5; ++i) {
        const double want = j["values"][i].get<double>(), got = back["values"][i].get<double>();
        EXPECT_LE(std::fabs(got - want), 5e-10 * std::fabs(want)) << i;
    }
}

} // namespace
