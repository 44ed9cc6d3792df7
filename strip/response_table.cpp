#include "strip/response_table.h"

#include <charconv>
#include <cmath>
#include <string>

namespace tvstrip {

ResponseTable readResponseTable(fixedio::LineReader& in)
{
    ResponseTable r{};
    // What a record holds, for the message of a faulty record; one buffer
    // for all records keeps the reading free of allocations per record.
    std::string expected;
    expected.reserve(64);
    const auto appendNumber = [&expected](int v) {
        char digits[16];
        const auto end = std::to_chars(digits, digits + sizeof digits, v).ptr;
        expected.append(digits, end);
    };
    for (int record = 1; record <= kResponseRecords; ++record) {
        const int first = 10 * record - 9;
        expected.assign("response record ");
        appendNumber(record);
        expected += " (bins ";
        appendNumber(first);
        expected += " to ";
        appendNumber(first + 9);
        expected += ')';
        const std::vector<float> values = in.floats(10, fixedio::RealField{8, 0}, expected);
        for (int i = 0; i < 10; ++i) {
            const float v = values[static_cast<std::size_t>(i)];
            if (!std::isfinite(v))
                throw in.error("bin " + std::to_string(first + i) +
                               " holds a value too large for single precision");
            r[static_cast<std::size_t>(first + i)] = v;
        }
    }
    r[0] = 0.0f;
    return r;
}

ResponseTable loadResponseTable(const std::filesystem::path& file)
{
    fixedio::LineReader in(file);
    return readResponseTable(in);
}

std::string responseFileName(int code)
{
    const int width = code >= 1000 ? 4 : code >= 100 ? 3 : 2;
    return "RES\\" + fixedio::formatI(code, width) + "kev.dat";
}

} // namespace tvstrip
