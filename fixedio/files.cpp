#include "files.h"

#include "fixedio.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <unistd.h>

namespace fixedio {

namespace {

std::filesystem::path folderOf(const std::filesystem::path& file)
{
    std::filesystem::path folder = file.parent_path();
    return folder.empty() ? std::filesystem::path(".") : folder;
}

} // namespace

void requireParentFolder(const std::filesystem::path& file, std::string_view what)
{
    std::error_code ec;
    std::filesystem::path folder = folderOf(file);
    if (!std::filesystem::is_directory(folder, ec)) {
        std::string msg = "the folder \"" + folder.string() + "\" for the ";
        msg.append(what);
        msg += " \"" + file.string() + "\" does not exist";
        throw Error(msg);
    }
}

void writeFileAtomically(const std::filesystem::path& file, std::string_view content)
{
    std::filesystem::path folder = folderOf(file);
    std::random_device rd;
    std::filesystem::path temp;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        std::string name = ".";
        name += file.filename().string();
        name += ".part";
        name += std::to_string(rd() % 1000000);
        temp = folder / name;
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    }
    if (fd < 0) throw Error(file.string() + ": cannot create the file (" + std::strerror(errno) + ")");

    const char* p = content.data();
    std::size_t left = content.size();
    bool ok = true;
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    int err = ok ? 0 : errno;
    if (::close(fd) != 0 && ok) { ok = false; err = errno; }
    if (ok && std::rename(temp.c_str(), file.c_str()) != 0) { ok = false; err = errno; }
    if (!ok) {
        ::unlink(temp.c_str());
        throw Error(file.string() + ": cannot write the file (" + std::strerror(err) + ")");
    }
}

} // namespace fixedio
