// Result names, result paths and file-list patterns shared by the stripping
// and the conversion dialog.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace tarvik {

// The data folder beneath the working directory.
inline constexpr std::string_view kDataFolder = "Tarvik_data";
// The console programs keep only the first 60 bytes of a result path.
inline constexpr std::size_t kMaxResultPathBytes = 60;

// File-list patterns of the windows.
inline constexpr std::string_view kMeasuredPattern = "*.csv";
inline constexpr std::string_view kStrippedPattern = "*.mca1";
inline constexpr std::string_view kDisplayPattern = "*.mca;*.mca1;*.mca2;*.csv;*.csv1;*.csv2";

// True when the name holds one of \ / : * ? < > |
bool hasForbiddenCharacter(std::string_view name);

// The file name without its last `count` characters (characters, not bytes,
// of the UTF-8 text); empty when it is not longer than that.
std::string dropLastCharacters(std::string_view fileName, std::size_t count);

// "Tarvik_data\" + name + extension, as written into an exchange file.
std::string resultPathFor(std::string_view name, std::string_view extension);

// A path written with "\" separators (UTF-8) as a path of this platform,
// relative to `workDir`.
std::filesystem::path localPath(const std::filesystem::path& workDir, std::string_view backslashPath);

// True when the file name matches one of the ";"-separated patterns, ignoring
// letter case ("*" any run of characters, "?" one character).
bool matchesPattern(std::string_view fileName, std::string_view patterns);

} // namespace tarvik
