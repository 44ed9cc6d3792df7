// The data installed with the programs.  A package puts the programs in
// <prefix>/bin and their data (RES/, the scatterer files, the demo spectra)
// in <prefix>/share/tarvik, so a program finds the data from its own
// location wherever the tree is installed or unpacked.  A working folder
// that holds its own data always comes first.
#pragma once

#include <filesystem>
#include <optional>

namespace fixedio {

// <folder of `executable`>/../share/tarvik when that folder exists.
std::optional<std::filesystem::path> installedDataFolderFor(const std::filesystem::path& executable);

// The same for the running program (/proc/self/exe, links resolved).
std::optional<std::filesystem::path> installedDataFolder();

// Where to read the data file or folder `relative`: `workDir / relative`
// when it exists there (or `relative` is absolute, or nothing is
// installed), else the installed copy when that exists, else the working
// folder's path again so that the caller reports it as missing.
std::filesystem::path dataPath(const std::filesystem::path& relative, const std::filesystem::path& workDir,
                               const std::optional<std::filesystem::path>& installed);

} // namespace fixedio
