// tvstrip: the stripping correction program, run by the front end in the
// working folder that holds TempFile.dat, Com.txt and the folder RES.
#include <cstdio>
#include <cstring>

#include "strip/driver.h"

namespace {

const char kUsage[] =
    "Usage: tvstrip\n"
    "The stripping correction of a measured spectrum. Run in a working folder that\n"
    "holds TempFile.dat and Com.txt (written by the stripping dialog of Tarvik_CdTe\n"
    "or by 'tarvik strip') and the response data in RES/. Line 109 of TempFile.dat\n"
    "chooses the method: absent or 'standard' for the channel-by-channel stripping,\n"
    "'unfold' for the unfolding with the full detector response. Press Enter to\n"
    "start and again to close; the result is the .mca1 file named in TempFile.dat.\n"
    "For many spectra without Enter presses use 'tarvik strip'.\n";

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    // Progress lines are many and short: buffer them, the run flushes
    // before every wait for Enter.
    static char buffer[1 << 16];
    std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
    return tvstrip::runStripping(std::filesystem::path{}, tvstrip::Console{stdin, stdout, stderr});
}
