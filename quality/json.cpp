#include "quality/json.h"

#include <cmath>
#include <cstdio>

namespace quality {

namespace {

void number(std::string& out, double v)
{
    if (!std::isfinite(v)) {
        out += "null";
        return;
    }
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.10g", v);
    out += buf;
}

void string(std::string& out, const std::string& s)
{
    auto hex = [&](unsigned c) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "\\u%04x", c);
        out += buf;
    };
    out += '"';
    for (std::size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c == '"' || c == '\\') { out += '\\'; out += static_cast<char>(c); ++i; continue; }
        if (c < 0x20) { hex(c); ++i; continue; }
        if (c < 0x80) { out += static_cast<char>(c); ++i; continue; }
        const std::size_t len = (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
        bool ok = len > 0 && i + len <= s.size();
        for (std::size_t k = 1; ok && k < len; ++k) ok = (static_cast<unsigned char>(s[i + k]) >> 6) == 0x2;
        if (ok) { out.append(s, i, len); i += len; }
        else { hex(c); ++i; }
    }
    out += '"';
}

void value(std::string& out, const nlohmann::ordered_json& j)
{
    using T = nlohmann::ordered_json::value_t;
    switch (j.type()) {
    case T::object:
    case T::array: {
        const bool object = j.is_object();
        out += object ? '{' : '[';
        for (auto it = j.begin(); it != j.end(); ++it) {
            if (it != j.begin()) out += ',';
            if (object) {
                string(out, it.key());
                out += ':';
            }
            value(out, *it);
        }
        out += object ? '}' : ']';
        break;
    }
    case T::string: string(out, j.get_ref<const std::string&>()); break;
    case T::number_float: number(out, j.get<double>()); break;
    // Whole numbers, booleans and null as the library writes them.
    default: out += j.dump(); break;
    }
}

} // namespace

std::string jsonLine(const nlohmann::ordered_json& j)
{
    std::string out;
    value(out, j);
    return out;
}

} // namespace quality
