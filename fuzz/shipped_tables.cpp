#include "shipped_tables.h"

#include "fuzz_support.h"
#include "result_layout.h"

#include "fixedio/fixedio.h"
#include "frontend/logic/spectrumfiles.h"

#include <algorithm>
#include <limits>
#include <string>

namespace fuzzsupport {

namespace fs = std::filesystem;

const std::map<int, tvstrip::ResponseTable>& shippedResponseTables()
{
    static const std::map<int, tvstrip::ResponseTable> tables = [] {
        std::map<int, tvstrip::ResponseTable> t;
        for (const fs::directory_entry& e : fs::directory_iterator(dataDir() / "RES")) {
            const std::string name = e.path().filename().string();
            const std::size_t k = name.find("kev.dat");
            if (k == std::string::npos || k == 0) continue;
            t.emplace(std::stoi(name.substr(0, k)), tvstrip::loadResponseTable(e.path()));
        }
        if (t.empty()) finding("no response tables in " + (dataDir() / "RES").string());
        return t;
    }();
    return tables;
}

const tvstrip::ResponseTable& shippedTable(int code)
{
    const auto& t = shippedResponseTables();
    auto it = t.find(code);
    if (it == t.end())
        throw fixedio::Error("the response table " + tvstrip::responseFileName(code) + " is missing from the folder RES");
    return it->second;
}

const tvconv::ScattererData& shippedCarbon()
{
    static const tvconv::ScattererData d = tvconv::readScattererFile(dataDir() / "Carbon.dat");
    return d;
}

const tvconv::ScattererData& shippedPmma()
{
    static const tvconv::ScattererData d = tvconv::readScattererFile(dataDir() / "PMMA.dat");
    return d;
}

const tvstrip::Counts& demoCounts()
{
    static const tvstrip::Counts c = [] {
        const tarvik::MeasuredSpectrum m =
            tarvik::readMeasuredFile(dataDir() / "Tarvik_data" / "W80kV_2.5mmAl_PMMA90deg.csv", 32);
        tvstrip::Counts out{};
        for (int ch = 1; ch <= tvstrip::kChannels; ++ch)
            out[static_cast<std::size_t>(ch - 1)] = static_cast<std::int32_t>(m.counts[static_cast<std::size_t>(ch)]);
        return out;
    }();
    return c;
}

tvstrip::Counts unfoldShortSpectrum(const tvstrip::UnfoldResponse& response, tvstrip::UnfoldReport* report)
{
    tvstrip::UnfoldOptions options;
    options.iterations = 4;
    options.maxLastChange = std::numeric_limits<double>::infinity();
    tvstrip::Counts measured{};
    const tvstrip::Counts& demo = demoCounts();
    std::copy(demo.begin(), demo.begin() + 40, measured.begin());
    const tvstrip::Counts incident =
        tvstrip::unfoldSpectrum(measured, kShortWidth, kShortVoltage, response, options, report);
    for (std::size_t i = 0; i < incident.size(); ++i)
        if (incident[i] < 0) finding("incident channel " + std::to_string(i + 1) + " is negative");
    return incident;
}

void requireResultLayout(const std::string& text, int lines, const char* what)
{
    if (const auto problem = resultLayoutProblem(text, lines)) finding(std::string(what) + ": " + *problem);
}

} // namespace fuzzsupport
