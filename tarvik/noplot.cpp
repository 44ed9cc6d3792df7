// The plot command of a build without Qt.
#include "cli.h"

namespace tarvikcli {

bool plotAvailable() { return false; }

std::string plotSpectra(const std::vector<PlotSeries>&, bool, double, double, const std::filesystem::path&)
{
    return "this build has no plot command (built without Qt)";
}

} // namespace tarvikcli
