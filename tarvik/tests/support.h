// Helpers of the command-line tests: scratch folders, running a program and
// capturing its output, reading files.
#pragma once

#include "cli.h"

#include <gtest/gtest.h>

#include <cstdio>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace clitest {

namespace fs = std::filesystem;

inline fs::path scratch(const std::string& name)
{
    const fs::path d = fs::temp_directory_path() /
                       ("tarvik_test_" + name + "_" + std::to_string(::getpid()));
    fs::remove_all(d);
    fs::create_directories(d);
    return d;
}

inline std::string slurp(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::ostringstream os;
    os << in.rdbuf();
    return os.str();
}

inline void spit(const fs::path& p, const std::string& bytes)
{
    std::ofstream out(p, std::ios::binary);
    out << bytes;
}

struct Result {
    int status = -1;
    std::string out, err;
};

// Runs `command` (a shell command line) in `dir`, stdin from /dev/null.
inline Result runIn(const fs::path& dir, const std::string& command)
{
    const fs::path o = dir / ".stdout", e = dir / ".stderr";
    const std::string line = "cd '" + dir.string() + "' && " + command + " </dev/null >'" + o.string() + "' 2>'" +
                             e.string() + "'";
    const int rc = std::system(line.c_str());
    Result r;
    r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    r.out = slurp(o);
    r.err = slurp(e);
    fs::remove(o);
    fs::remove(e);
    return r;
}

// The content of a temporary file, which is closed.
inline std::string drain(std::FILE* f)
{
    std::string text(static_cast<std::size_t>(std::ftell(f)), '\0');
    std::rewind(f);
    text.resize(std::fread(text.data(), 1, text.size(), f));
    std::fclose(f);
    return text;
}

// The command line run in this process in `dir` with `args` (args[0] is
// the program's name), as main() runs it with its output redirected.
inline Result runTarvikInProcess(const fs::path& dir, const std::vector<std::string>& args)
{
    const fs::path before = fs::current_path();
    fs::current_path(dir);
    tarvikcli::Io io;
    io.out = std::tmpfile();
    io.err = std::tmpfile();
    Result r;
    r.status = tarvikcli::run(args, tarvikcli::locate(TARVIK_EXECUTABLE), io);
    r.out = drain(io.out);
    r.err = drain(io.err);
    fs::current_path(before);
    return r;
}

inline std::string tarvikExe() { return std::string("'") + TARVIK_EXECUTABLE + "'"; }

// A working folder with the shipped response tables and scatterer files
// (with the Compton profiles beside them).
inline fs::path workingFolder(const std::string& name)
{
    const fs::path w = scratch(name);
    const fs::path data = TARVIK_DATA_DIR;
    fs::create_directory_symlink(data / "RES", w / "RES");
    for (const char* f : {"Carbon.dat", "PMMA.dat", "Carbon_profile.dat", "PMMA_profile.dat"})
        fs::copy_file(data / f, w / f);
    fs::create_directory(w / "Tarvik_data");
    return w;
}

} // namespace clitest
