// The run of the stripping program in a working folder: read TempFile.dat
// and Com.txt, check everything that can be checked before the work, wait
// for Enter, strip the spectrum against the response tables in RES while
// showing one progress line per channel, write the ".mca1" result, wait for
// Enter again.
#pragma once

#include <cstdio>
#include <filesystem>
#include <optional>
#include <set>
#include <string>

#include "strip/response_table.h"

namespace tvstrip {

// Reads response tables from the folder RES of a working folder.  The name
// of every table to open passes through the scratch file Dataname.kat (its
// first 30 characters are the name opened), which stays in the working
// folder with the name of the last table loaded.  Only the table asked for
// last is held: the correction asks for each code once, from the top down,
// and keeping every table touched some 170 KB of fresh memory per run.
class ResponseTableFiles {
public:
    // The scratch file is kept in `workDir`; the folder RES is read from
    // `tableRoot` (the working folder unless given).
    explicit ResponseTableFiles(std::filesystem::path workDir, std::filesystem::path tableRoot = {})
        : workDir_(std::move(workDir)), tableRoot_(tableRoot.empty() ? workDir_ : std::move(tableRoot)) {}
    ResponseTableFiles(const ResponseTableFiles&) = delete;
    ResponseTableFiles& operator=(const ResponseTableFiles&) = delete;

    // The table of an energy code, valid until a table of another code is
    // asked for.  Throws fixedio::Error naming the file when it is missing
    // or cannot be read.  A code asked for again after another is read
    // again but, as the first time was the one that loaded it, leaves the
    // scratch line as it is.
    const ResponseTable& operator()(int code);

    // Leaves Dataname.kat holding the line of the last table loaded (nothing
    // when no table was loaded).  Throws fixedio::Error when it cannot be
    // written.  Only the last line stays behind, so it is written once, at
    // the end of the loading or when the loading stopped, not for each table.
    void leaveScratch();

private:
    std::filesystem::path workDir_;
    std::filesystem::path tableRoot_;
    std::set<int> loaded_;
    std::optional<int> currentCode_;  // of current_, once a table was read whole
    ResponseTable current_{};
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
