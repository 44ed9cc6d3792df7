#include "fixedio/installed.h"

#include <system_error>

namespace fixedio {

namespace fs = std::filesystem;

std::optional<fs::path> installedDataFolderFor(const fs::path& executable)
{
    if (executable.empty())
        return std::nullopt;
    const fs::path folder = executable.parent_path().parent_path() / "share" / "tarvik";
    std::error_code ec;
    if (!fs::is_directory(folder, ec))
        return std::nullopt;
    return folder;
}

std::optional<fs::path> installedDataFolder()
{
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (ec)
        return std::nullopt;
    return installedDataFolderFor(self);
}

fs::path dataPath(const fs::path& relative, const fs::path& workDir, const std::optional<fs::path>& installed)
{
    const fs::path local = workDir / relative;
    std::error_code ec;
    if (relative.is_absolute() || !installed || fs::exists(local, ec))
        return local;
    const fs::path copy = *installed / relative;
    if (fs::exists(copy, ec))
        return copy;
    return local;
}

} // namespace fixedio
