#include "detector/kgroups.h"

namespace tvdet {

std::array<KGroup, 2> groupKLines(const std::string& symbol, int Z, const std::vector<xrl::Line>& lines)
{
    std::array<KGroup, 2> g{KGroup{symbol + " K-alpha", Z, 0, 0}, KGroup{symbol + " K-beta", Z, 0, 0}};
    double weighted[2] = {0, 0};
    for (const auto& line : lines) {
        const int i = line.name.rfind("KL", 0) == 0 ? 0 : 1;
        g[i].share += line.radiativeRate;
        weighted[i] += line.radiativeRate * line.energyKeV;
    }
    for (int i = 0; i < 2; ++i) {
        if (!(g[i].share > 0.0)) throw PhysicsDataError("no " + g[i].name + " lines in the physics data");
        g[i].energyKeV = weighted[i] / g[i].share;
    }
    return g;
}

std::array<KGroup, 4> cdTeKGroups()
{
    const auto cd = groupKLines("Cd", 48, xrl::kLines(48));
    const auto te = groupKLines("Te", 52, xrl::kLines(52));
    return {cd[0], cd[1], te[0], te[1]};
}

} // namespace tvdet
