// Starts a console program of the working directory in a terminal window of
// its own (the desktop's x-terminal-emulator, else xterm), detached so that
// it outlives the front end, without waiting for it.
#pragma once

#include "launcher.h"

namespace tarvik {

class TerminalLauncher : public ProgramLauncher {
public:
    std::optional<std::string> start(const std::string& program,
                                     const std::filesystem::path& workDir) override;
};

} // namespace tarvik
