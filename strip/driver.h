// The run of the stripping program in a working folder: read TempFile.dat
// and Com.txt, check everything that can be checked before the work, wait
// for Enter, strip the spectrum against the response tables in RES while
// showing one progress line per channel, write the ".mca1" result, wait for
// Enter again.
#pragma once

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

#include "strip/response_table.h"

namespace tvstrip {

// Reads response tables from the folder RES of a working folder, each code
// once.  The name of every table to open passes through the scratch file
// Dataname.kat (its first 30 characters are the name opened), which stays in
// the working folder with the name of the last table loaded.
class ResponseTableFiles {
public:
    // The scratch file is kept in `workDir`; the folder RES is read from
    // `tableRoot` (the working folder unless given).
    explicit ResponseTableFiles(std::filesystem::path workDir, std::filesystem::path tableRoot = {})
        : workDir_(std::move(workDir)), tableRoot_(tableRoot.empty() ? workDir_ : std::move(tableRoot)) {}
    ResponseTableFiles(const ResponseTableFiles&) = delete;
    ResponseTableFiles& operator=(const ResponseTableFiles&) = delete;

    // The table of an energy code.  Throws fixedio::Error naming the file
    // when it is missing or cannot be read.
    const ResponseTable& operator()(int code);
    int filesRead() const { return static_cast<int>(cache_.size()); }

    // Leaves Dataname.kat holding the line of the last table loaded (nothing
    // when no table was loaded).  Throws fixedio::Error when it cannot be
    // written.  Only the last line stays behind, so it is written once, at
    // the end of the loading or when the loading stopped, not for each table.
    void leaveScratch();

private:
    std::filesystem::path workDir_;
    std::filesystem::path tableRoot_;
    std::map<int, ResponseTable> cache_;
    std::string scratchLine_;
};

struct Console {
    std::FILE* in;
    std::FILE* out;
    std::FILE* err;
};

// Runs the stripping program in `workDir`.  Returns the exit status: 0 after
// a complete run, 1 when the run was stopped (the reason is on console.err;
// no result file has been written then and an earlier one is untouched).
int runStripping(const std::filesystem::path& workDir, const Console& console);

} // namespace tvstrip
