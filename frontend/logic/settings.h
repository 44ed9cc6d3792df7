// The settings file UserName.txt: facility, analyser and detector names and
// the energy width per channel, one per line (Shift_JIS, CR LF).
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tarvik {

inline constexpr std::string_view kSettingsFile = "UserName.txt";
inline constexpr std::string_view kDefaultAnalyser = "RAMTEC-413";
inline constexpr std::string_view kDefaultDetector = "XR-100T-CdTe";
inline constexpr std::string_view kDefaultKevPerChannel = "0.2";

struct Settings {
    std::string facilityName;
    std::string analyserName;
    std::string detectorName;
    double kevPerChannel = 0;
};

// Lines 1-3 whole, line 4 as one numeric field.  Empty when the file is
// missing or ends before its fourth line.
std::optional<Settings> readSettings(const std::filesystem::path& file);

// The read at start-up: the settings, or why there are none.  `problem` is
// empty when the file was read or simply does not exist yet (a first
// start); otherwise it tells the user, in the window's language, what could
// not be read.
struct SettingsAtStart {
    std::optional<Settings> settings;
    std::string problem;
};
SettingsAtStart readSettingsAtStart(const std::filesystem::path& file);

// Replaces the file with the four texts as typed, through a temporary file
// and a rename, so that a failed write (a full disk) keeps the old file.  Throws ExchangeError
// (message for the user) when a text cannot be written in Shift_JIS or the
// file cannot be written.
void writeSettings(const std::filesystem::path& file, std::string_view facility,
                   std::string_view analyser, std::string_view detector, std::string_view kevText);

} // namespace tarvik
