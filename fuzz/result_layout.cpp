#include "result_layout.h"

namespace fuzzsupport {

std::optional<std::string> resultLayoutProblem(std::string_view text, int lines)
{
    int n = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t end = text.find("\r\n", pos);
        if (end == std::string_view::npos) return "line " + std::to_string(n + 1) + " has no CR LF";
        if (text.substr(pos, end - pos).find_first_of("\r\n") != std::string_view::npos)
            return "line " + std::to_string(n + 1) + " holds a line end of its own";
        ++n;
        pos = end + 2;
    }
    if (n != lines) return std::to_string(n) + " lines instead of " + std::to_string(lines);
    return std::nullopt;
}

} // namespace fuzzsupport
