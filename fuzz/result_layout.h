// The layout of a result file as the front end reads it back: a fixed
// number of lines, each ended by CR LF, none holding a CR or LF of its own.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace fuzzsupport {

// What is wrong with the layout, or nothing when it is sound.
std::optional<std::string> resultLayoutProblem(std::string_view text, int lines);

} // namespace fuzzsupport
