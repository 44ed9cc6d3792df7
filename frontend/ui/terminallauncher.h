// Starts a console program of the working directory in a terminal window of
// its own (the desktop's x-terminal-emulator, else xterm), detached so that
// it outlives the front end, without waiting for it.  A working directory
// without the program uses the one in the front end's own folder (an
// installed system), run in the working directory all the same.
#pragma once

#include "launcher.h"

#include <QString>

namespace tarvik {

class TerminalLauncher : public ProgramLauncher {
public:
    std::optional<std::string> start(const std::string& program,
                                     const std::filesystem::path& workDir) override;

    // What the terminal runs: "./program" when the working folder holds it,
    // else the program's full path in `ownDir` (the front end's folder);
    // none when neither is an executable file.
    static std::optional<QString> commandFor(const QString& program, const QString& workDir, const QString& ownDir);
};

} // namespace tarvik
