// tvstrip: the stripping correction program, run by the front end in the
// working folder that holds TempFile.dat, Com.txt and the folder RES.
#include <cstdio>

#include "strip/driver.h"

int main()
{
    // Progress lines are many and short: buffer them, the run flushes
    // before every wait for Enter.
    static char buffer[1 << 16];
    std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
    return tvstrip::runStripping(std::filesystem::path{}, tvstrip::Console{stdin, stdout, stderr});
}
