#include "files.h"

#include "fixedio.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>

namespace fixedio {

namespace {

std::filesystem::path folderOf(const std::filesystem::path& file)
{
    std::filesystem::path folder = file.parent_path();
    return folder.empty() ? std::filesystem::path(".") : folder;
}

WriteFunction writeFunction = nullptr;

ssize_t writeSome(int fd, const void* data, std::size_t size)
{
    return writeFunction ? writeFunction(fd, data, size) : ::write(fd, data, size);
}

// Write-protected: nobody may write (the permission bits, which bind even
// root in the user's view), or this process may not.
bool writeProtected(const struct stat& st, const std::filesystem::path& p)
{
    return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || ::access(p.c_str(), W_OK) != 0;
}

bool allDigits(std::string_view s)
{
    if (s.empty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

// Temporary files of runs that no longer exist.  Names of earlier versions
// carry no process id: those are removed once they are an hour old, when no
// run can still be writing them.
void removeStaleTemporaries(const std::filesystem::path& folder)
{
    DIR* d = ::opendir(folder.c_str());
    if (!d) return;
    const auto now = std::chrono::system_clock::now();
    while (const dirent* e = ::readdir(d)) {
        pid_t pid = 0;
        if (!isTemporaryResultName(e->d_name, pid)) continue;
        const std::filesystem::path p = folder / e->d_name;
        if (pid > 0) {
            if (pid == ::getpid() || ::kill(pid, 0) == 0 || errno != ESRCH) continue;
        } else {
            struct stat st;
            if (::lstat(p.c_str(), &st) != 0) continue;
            const auto age = now - std::chrono::system_clock::from_time_t(st.st_mtime);
            if (age < std::chrono::hours(1)) continue;
        }
        struct stat st;
        if (::lstat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode)) ::unlink(p.c_str());
    }
    ::closedir(d);
}

} // namespace

ReadStatus readFileHead(const std::filesystem::path& file, std::size_t limit, std::string& content, bool& complete)
{
    content.clear();
    complete = false;
    // O_NONBLOCK: opening a named pipe with no writer returns at once
    // instead of waiting for one.
    const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR) return ReadStatus::Missing;
        if (errno == EISDIR) return ReadStatus::NotAFile;
        if (errno == ENXIO || errno == ENODEV) return ReadStatus::Special;
        return ReadStatus::CannotOpen;
    }
    struct stat st;
    ReadStatus status = ReadStatus::Ok;
    if (::fstat(fd, &st) != 0)
        status = ReadStatus::CannotRead;
    else if (S_ISDIR(st.st_mode))
        status = ReadStatus::NotAFile;
    else if (!S_ISREG(st.st_mode))
        status = ReadStatus::Special;
    if (status != ReadStatus::Ok) {
        ::close(fd);
        return status;
    }
    // The size fstat gives is read, normally in one read: a file that grows
    // meanwhile is taken as it was, one that shrinks ends early.
    const auto size = static_cast<std::size_t>(st.st_size);
    content.resize(std::min(size, limit));
    std::size_t got = 0;
    while (got < content.size()) {
        const ssize_t n = ::read(fd, content.data() + got, content.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            status = ReadStatus::CannotRead;
            break;
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    complete = size <= limit;
    ::close(fd);
    content.resize(got);
    return status;
}

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

void requireWritableResult(const std::filesystem::path& file, std::string_view what)
{
    requireParentFolder(file, what);
    const std::filesystem::path folder = folderOf(file);
    struct stat st;
    if (::stat(folder.c_str(), &st) == 0 && writeProtected(st, folder)) {
        std::string msg = "the folder \"" + folder.string() + "\" for the ";
        msg.append(what);
        msg += " \"" + file.string() + "\" is write-protected; nothing can be written there";
        throw Error(msg);
    }
    if (::stat(file.c_str(), &st) != 0) return;  // a new file
    if (S_ISDIR(st.st_mode)) {
        std::string msg = "the ";
        msg.append(what);
        msg += " \"" + file.string() + "\" is the name of a folder";
        throw Error(msg);
    }
    if (writeProtected(st, file)) {
        std::string msg = "the ";
        msg.append(what);
        msg += " \"" + file.string() + "\" exists and is write-protected; it is kept as it is";
        throw Error(msg);
    }
}

bool isTemporaryResultName(std::string_view name, pid_t& pid)
{
    pid = 0;
    if (name.size() < 8 || name[0] != '.') return false;
    const std::size_t part = name.rfind(".part");
    if (part == std::string_view::npos || part < 2) return false;
    const std::string_view tail = name.substr(part + 5);
    const std::size_t dash = tail.find('-');
    if (dash == std::string_view::npos) return allDigits(tail) && tail.size() <= 6;
    const std::string_view id = tail.substr(0, dash);
    if (!allDigits(id) || !allDigits(tail.substr(dash + 1)) || id.size() > 9) return false;
    pid = static_cast<pid_t>(std::stol(std::string(id)));
    return pid > 0;
}

void setWriteFunction(WriteFunction f) { writeFunction = f; }

void sweepStaleTemporaries(const std::filesystem::path& folder) { removeStaleTemporaries(folder); }

void writeFileAtomically(const std::filesystem::path& file, std::string_view content)
{
    writeFileAtomically(file, content, StaleSweep::Sweep);
}

void writeFileAtomically(const std::filesystem::path& file, std::string_view content, StaleSweep sweep)
{
    const std::filesystem::path folder = folderOf(file);
    {
        // The earlier result may have been protected while this run worked.
        struct stat st;
        if (::stat(file.c_str(), &st) == 0 && !S_ISDIR(st.st_mode) && writeProtected(st, file))
            throw Error(file.string() + ": the file is write-protected; the earlier result is kept");
    }
    if (sweep == StaleSweep::Sweep) removeStaleTemporaries(folder);

    std::random_device rd;
    std::string prefix = ".";
    prefix += file.filename().string();
    prefix += ".part";
    prefix += std::to_string(::getpid());
    prefix += '-';
    std::filesystem::path temp;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        temp = folder / (prefix + std::to_string(rd() % 1000000));
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) throw Error(file.string() + ": cannot create the file (" + std::strerror(errno) + ")");

    const char* p = content.data();
    std::size_t left = content.size();
    bool ok = true;
    int err = 0;
    while (left > 0) {
        ssize_t n = writeSome(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            ok = false;
            err = errno;
            break;
        }
        if (n == 0) {  // no progress: treat as a full disk rather than spin
            ok = false;
            err = ENOSPC;
            break;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0 && ok) { ok = false; err = errno; }
    if (ok && std::rename(temp.c_str(), file.c_str()) != 0) { ok = false; err = errno; }
    if (!ok) {
        ::unlink(temp.c_str());
        throw Error(file.string() + ": cannot write the file (" + std::strerror(err) + ")");
    }
}

} // namespace fixedio
