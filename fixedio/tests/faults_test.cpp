// Input files that are not what they seem (a folder, a named pipe, a file
// of gigabytes) and result writing under faults (full disk, protected file
// or folder, stale temporary files of killed runs).
#include "fixedio/files.h"
#include "fixedio/fixedio.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>

using namespace fixedio;
namespace fs = std::filesystem;

namespace {

std::string readAll(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeAll(const fs::path& p, const std::string& s)
{
    std::ofstream(p, std::ios::binary) << s;
}

struct TempDir {
    fs::path path;
    TempDir()
    {
        path = fs::temp_directory_path() / ("fixedio-faults-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(path);
        fs::create_directories(path);
    }
    ~TempDir()
    {
        fs::permissions(path, fs::perms::owner_all, fs::perm_options::add);
        fs::remove_all(path);
    }
    // Names in the folder other than `except`.
    std::vector<std::string> others(const std::string& except) const
    {
        std::vector<std::string> v;
        for (const auto& e : fs::directory_iterator(path))
            if (e.path().filename() != except) v.push_back(e.path().filename().string());
        return v;
    }
};

// A process id that no longer exists: a child that has ended and been reaped.
pid_t deadProcessId()
{
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(0);
    int st;
    ::waitpid(pid, &st, 0);
    return pid;
}

// ---- the injected write layer: a disk that fills up after some bytes ----

std::size_t bytesLeftOnDisk = 0;
std::string temporaryNameSeen;

ssize_t diskFillsUp(int fd, const void* data, std::size_t size)
{
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    std::error_code ec;
    temporaryNameSeen = fs::read_symlink(link, ec).filename().string();
    if (bytesLeftOnDisk == 0) {
        errno = ENOSPC;
        return -1;
    }
    const std::size_t n = std::min(size, bytesLeftOnDisk);
    bytesLeftOnDisk -= n;
    return ::write(fd, data, n);
}

struct InjectedWrites {
    explicit InjectedWrites(WriteFunction f) { setWriteFunction(f); }
    ~InjectedWrites() { setWriteFunction(nullptr); }
};

} // namespace

// ---------------------------------------------------------------- reading

TEST(UnusualInputFiles, NamedPipeIsRefusedWithoutWaitingForAWriter)
{
    TempDir dir;
    const fs::path fifo = dir.path / "RES.dat";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    std::string content;
    bool complete = true;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(readFileHead(fifo, kMaxInputBytes, content, complete), ReadStatus::Special);
    EXPECT_THROW(LineReader(fifo, "Carbon.dat"), Error);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST(UnusualInputFiles, FolderAndMissingFileAreToldApart)
{
    TempDir dir;
    std::string content;
    bool complete = true;
    EXPECT_EQ(readFileHead(dir.path, 100, content, complete), ReadStatus::NotAFile);
    EXPECT_EQ(readFileHead(dir.path / "none", 100, content, complete), ReadStatus::Missing);
    EXPECT_EQ(readFileHead(dir.path / "none" / "deeper", 100, content, complete), ReadStatus::Missing);
    EXPECT_FALSE(fs::exists(dir.path / "none"));  // nothing is created
    try {
        LineReader r(dir.path, "PMMA.dat");
        FAIL() << "a folder was read as a file";
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()), "PMMA.dat: the file does not exist or is not a regular file");
    }
}

TEST(UnusualInputFiles, HugeSparseFileIsReadOnlyUpToTheLimit)
{
    TempDir dir;
    const fs::path big = dir.path / "big.dat";
    // 6 GB that take no disk space: valid first lines, then zeros.
    writeAll(big, "first\r\nsecond\r\n");
    ASSERT_EQ(::truncate(big.c_str(), off_t{6} << 30), 0);
    std::string content;
    bool complete = true;
    ASSERT_EQ(readFileHead(big, 1 << 20, content, complete), ReadStatus::Ok);
    EXPECT_EQ(content.size(), std::size_t{1} << 20);
    EXPECT_FALSE(complete);

    // The lines inside the limit read as usual; the first read that needs
    // more says why instead of claiming the file ended.
    LineReader r(big, "TempFile.dat");
    EXPECT_EQ(r.line("the first line"), "first");
    EXPECT_EQ(r.line("the second line"), "second");
    try {
        r.line("the third line");
        FAIL() << "a line cut at the read limit was taken as complete";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("TempFile.dat, line 3: the file is larger than 16 MiB"),
                  std::string::npos)
            << e.what();
    }
}

TEST(UnusualInputFiles, FileOfExactlyTheLimitIsComplete)
{
    TempDir dir;
    const fs::path f = dir.path / "f";
    writeAll(f, std::string(4096, 'x'));
    std::string content;
    bool complete = false;
    ASSERT_EQ(readFileHead(f, 4096, content, complete), ReadStatus::Ok);
    EXPECT_TRUE(complete);
    writeAll(f, std::string(4097, 'x'));
    ASSERT_EQ(readFileHead(f, 4096, content, complete), ReadStatus::Ok);
    EXPECT_FALSE(complete);
    EXPECT_EQ(content.size(), 4096u);
}

// ---------------------------------------------------------------- writing

TEST(ResultWritingFaults, FullDiskKeepsTheEarlierResultAndLeavesNoTemporaryFile)
{
    TempDir dir;
    const fs::path result = dir.path / "r.mca1";
    writeAll(result, "earlier result\r\n");
    const std::string content(30000, 'n');
    for (std::size_t room : {std::size_t{0}, std::size_t{1}, std::size_t{4096}, std::size_t{29999}}) {
        InjectedWrites inject(diskFillsUp);
        bytesLeftOnDisk = room;
        try {
            writeFileAtomically(result, content);
            FAIL() << "a write that ran out of space after " << room << " bytes reported success";
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find("No space left on device"), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find("r.mca1"), std::string::npos) << e.what();
        }
        EXPECT_EQ(readAll(result), "earlier result\r\n") << room;
        EXPECT_TRUE(dir.others("r.mca1").empty()) << dir.others("r.mca1").front();
    }
    // With room enough the same call succeeds.
    InjectedWrites inject(diskFillsUp);
    bytesLeftOnDisk = 30000;
    writeFileAtomically(result, content);
    EXPECT_EQ(readAll(result), content);
}

TEST(ResultWritingFaults, TemporaryFileIsHiddenAndCarriesNoSpectrumExtension)
{
    TempDir dir;
    InjectedWrites inject(diskFillsUp);
    bytesLeftOnDisk = 100;
    temporaryNameSeen.clear();
    writeFileAtomically(dir.path / "spec.mca2", "x");
    const std::string name = temporaryNameSeen;
    ASSERT_FALSE(name.empty());
    pid_t pid = 0;
    EXPECT_TRUE(isTemporaryResultName(name, pid)) << name;
    EXPECT_EQ(pid, ::getpid()) << name;
    EXPECT_EQ(name[0], '.');
    for (const char* ext : {".mca2", ".mca1", ".mca", ".csv"})
        EXPECT_NE(name.substr(name.size() - std::string(ext).size()), ext) << name;
}

TEST(ResultWritingFaults, ProtectedResultFileOrFolderIsRefusedAndKept)
{
    TempDir dir;
    const fs::path folder = dir.path / "Tarvik_data";
    fs::create_directories(folder);
    const fs::path result = folder / "r.mca1";
    writeAll(result, "earlier result\r\n");

    // The permission bits say "nobody writes here"; this holds for root too.
    fs::permissions(result, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    EXPECT_THROW(requireWritableResult(result, "result file"), Error);
    EXPECT_THROW(writeFileAtomically(result, "new"), Error);
    EXPECT_EQ(readAll(result), "earlier result\r\n");
    fs::permissions(result, fs::perms::owner_write, fs::perm_options::add);
    EXPECT_NO_THROW(requireWritableResult(result, "result file"));

    fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
    try {
        requireWritableResult(result, "result file");
        FAIL() << "a write-protected folder was accepted";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("write-protected"), std::string::npos) << e.what();
    }
    EXPECT_THROW(requireWritableResult(folder / "new.mca1", "result file"), Error);
    fs::permissions(folder, fs::perms::owner_all, fs::perm_options::add);

    fs::create_directories(folder / "dir.mca1");
    EXPECT_THROW(requireWritableResult(folder / "dir.mca1", "result file"), Error);
    EXPECT_THROW(requireWritableResult(dir.path / "missing" / "r.mca1", "result file"), Error);
    EXPECT_NO_THROW(requireWritableResult(folder / "new.mca1", "result file"));
}

TEST(ResultWritingFaults, StaleTemporariesOfEndedRunsAreRemovedOthersKept)
{
    TempDir dir;
    const pid_t dead = deadProcessId();
    const std::string stale = ".a.mca1.part" + std::to_string(dead) + "-123";
    const std::string live = ".b.mca1.part" + std::to_string(::getppid()) + "-77";  // our parent runs
    const std::string oldStyleOld = ".c.mca1.part445566";
    const std::string oldStyleNew = ".d.mca1.part12";
    for (const auto& n : {stale, live, oldStyleOld, oldStyleNew, std::string("e.mca1"),
                          std::string(".f.part"), std::string("g.part99-1")})
        writeAll(dir.path / n, "x");
    const auto twoHoursAgo = fs::file_time_type::clock::now() - std::chrono::hours(2);
    fs::last_write_time(dir.path / oldStyleOld, twoHoursAgo);

    writeFileAtomically(dir.path / "r.mca1", "result");

    EXPECT_FALSE(fs::exists(dir.path / stale));
    EXPECT_FALSE(fs::exists(dir.path / oldStyleOld));
    for (const auto& n : {live, oldStyleNew, std::string("e.mca1"), std::string(".f.part"),
                          std::string("g.part99-1"), std::string("r.mca1")})
        EXPECT_TRUE(fs::exists(dir.path / n)) << n;
}

TEST(ResultWritingFaults, TemporaryNamesAreRecognisedStrictly)
{
    pid_t pid = 0;
    EXPECT_TRUE(isTemporaryResultName(".x.mca1.part123-456", pid));
    EXPECT_EQ(pid, 123);
    EXPECT_TRUE(isTemporaryResultName(".x.mca1.part456", pid));
    EXPECT_EQ(pid, 0);
    for (const char* name : {"x.mca1.part1-2", ".x.mca1.part", ".x.mca1.part-2", ".x.mca1.part1-",
                             ".x.mca1.part1234567", ".x.mca1.partab-1", ".x.mca1", ".part1-2",
                             ".x.mca1.part0-5", ".x.mca1.part12345678901-1"})
        EXPECT_FALSE(isTemporaryResultName(name, pid)) << name;
}
