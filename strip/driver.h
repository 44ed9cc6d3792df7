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
// Dataname.kat, which is written and read back for each load and stays in
// the working folder.
class ResponseTableFiles {
public:
    // The scratch file is kept in `workDir`; the folder RES is read from
    // `tableRoot` (the working folder unless given).
    explicit ResponseTableFiles(std::filesystem::path workDir, std::filesystem::path tableRoot = {})
        : workDir_(std::move(workDir)), tableRoot_(tableRoot.empty() ? workDir_ : std::move(tableRoot)) {}
    ~ResponseTableFiles();
    ResponseTableFiles(const ResponseTableFiles&) = delete;
    ResponseTableFiles& operator=(const ResponseTableFiles&) = delete;

    // The table of an energy code.  Throws fixedio::Error naming the file
    // when it is missing or cannot be read.
    const ResponseTable& operator()(int code);
    int filesRead() const { return static_cast<int>(cache_.size()); }

private:
    // Writes `name` as the only line of Dataname.kat and returns the name
    // read back from it.
    std::string passThroughScratch(const std::string& name);

    std::filesystem::path workDir_;
    std::filesystem::path tableRoot_;
    std::map<int, ResponseTable> cache_;
    int scratchFd_ = -1;
    long long scratchLength_ = -1;
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
