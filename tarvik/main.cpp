// tarvik: the command line of Tarvik_CdTe.
#include "cli.h"

#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv, argv + argc);
    std::error_code ec;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) exe = std::filesystem::absolute(argv[0], ec);
    tarvikcli::Io io;
    io.terminal = ::isatty(STDERR_FILENO) != 0;
    return tarvikcli::run(args, tarvikcli::locate(exe), io);
}
