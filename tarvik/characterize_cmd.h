// tarvik characterize: the detector characterization from spectra of
// calibration sources (detector/characterize.h), a thin driver: reads the
// spectra, runs the fit with progress on stderr, writes the result folder
// (a complete RES, characterization.json and .txt, a report picture per
// source) aside and renames it into place.  Nothing is written when
// anything fails.
#pragma once

#include "characterize_run.h"
#include "cli.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tarvikcli {

extern const char* const kCharacterizeHelp;

struct CharacterizeRequest : CharacterizeSettings {
    std::vector<std::pair<std::string, std::filesystem::path>> sources;  // nuclide, file
    double kevPerChannel = 0;          // nominal
    double firstLine = 32;
    std::filesystem::path out;
    std::optional<std::filesystem::path> res;  // the RES whose tables are copied; else RES/ here, else installed
};

// Runs the characterization; returns the exit status (0 done, 1 refused
// with the reason on stderr).
int characterizeCommand(const CharacterizeRequest& request, const Locations& where, const Io& io);

// The RES a command uses: --res when given (checked to be a folder), else
// RES/ of the current folder, else the installed data's.
std::filesystem::path resFolder(const std::optional<std::filesystem::path>& given, const Locations& where);

// One line naming the detector profile of a RES: its file and what it
// describes (characterized or not, mu-tau, bias, energy scale).
std::string describeProfile(const std::filesystem::path& res);

} // namespace tarvikcli
