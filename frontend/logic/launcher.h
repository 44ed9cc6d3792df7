// Starting a console program of the working directory in a terminal window
// of its own.  The windows use a terminal launcher; tests use a recorder.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tarvik {

class ProgramLauncher {
public:
    virtual ~ProgramLauncher() = default;
    // Starts ./program in workDir without waiting.  Empty on success, else
    // a reason for the user.
    virtual std::optional<std::string> start(const std::string& program,
                                             const std::filesystem::path& workDir) = 0;
};

// Records what would have been started; optionally refuses.
class RecordingLauncher : public ProgramLauncher {
public:
    struct Start {
        std::string program;
        std::filesystem::path workDir;
    };
    std::vector<Start> started;
    std::optional<std::string> failure;  // set to make every start fail

    std::optional<std::string> start(const std::string& program,
                                     const std::filesystem::path& workDir) override {
        if (failure) return failure;
        started.push_back({program, workDir});
        return std::nullopt;
    }
};

} // namespace tarvik
