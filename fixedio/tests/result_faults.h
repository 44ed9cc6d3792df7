// The fault tests that tvstrip and tvconv share: a working folder with an
// earlier result in Tarvik_data, the program run there with a protected
// result folder or file, a full disk, or killed at random moments, and the
// checks that the earlier result survives or the new one is complete.
// Each program's test derives a fixture that writes its own input files.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "fixedio/tests/child_process.h"

namespace faulttest {

// What the result file holds before each run.
extern const std::string kEarlier;

void writeFile(const std::filesystem::path& p, const std::string& s);

// The count block of an exchange file: the 1024 channels as " %06d", ten a
// line, CR LF.
std::string countBlock(const std::function<int(int channel)>& count);

class ResultFaults : public ::testing::Test {
protected:
    // `program` is run in the working folder; it writes Tarvik_data/`resultName`.
    ResultFaults(std::string program, std::string resultName);

    // Writes the program's input files into `work`.
    virtual void writeInputs() = 0;

    void SetUp() override;
    void TearDown() override;

    // Everything in the data folder besides the result.
    std::vector<std::string> strayFiles() const;

    // The run failed with `reason` on stderr, said that no result was
    // written, and left the earlier result and nothing else.
    void expectEarlierKept(const Outcome& r, const std::string& reason);

    // A run within 20 s refused with `reason`, the earlier result kept.
    void expectRefused(const std::string& reason);

    // The result folder write-protected: refused before the start prompt.
    void checkProtectedResultFolder();
    // The result file write-protected: not replaced.
    void checkProtectedResultFile();
    // Files may not grow beyond 4 KiB (the 22 KiB result does not fit): the
    // failed write is reported, never as finished.
    void checkFullDisk();
    // 250 runs killed at random moments (or as many as fit in 20 s;
    // TARVIK_KILL_RUNS asks for more): each leaves the earlier result or the
    // complete new one, never a mixture, and only hidden temporary files,
    // which the next complete run removes.
    void checkKilledAtRandomMoments();

    std::string program;
    std::string resultName;
    std::filesystem::path work, data, result;
};

} // namespace faulttest
