// Response data of the unfolding method: for photons of each node energy
// incident on the detector, the distribution of the energy the analyser
// records for them on its calibrated scale (before the resolution), held as
// the energy lost against the photon energy.  The Monte Carlo counts are
// kept as integers together with the number of photons simulated.
//
// File RES/unfold.rsp:
//   Tarvik unfold response 1
//   profile <16 hex digits>        transport fingerprint of the profile
//   loss-bin-keV <width>           width of a loss bin
//   photons-per-node <N>
//   nodes <n>
//   node <energy keV> <bins> <bytes>      n lines, ascending energies
//   checksum <16 hex digits>       FNV-1a 64 of the payload
//   data
//   <payload: per node, the counts of loss bins 0..bins-1 as unsigned
//    LEB128 varints, `bytes` bytes>
// Lines end in LF.  Bin b holds losses from b*width to (b+1)*width keV.
// Two nodes may share an energy's neighbourhood (just below and just above
// an absorption edge): the response is interpolated only between
// neighbouring nodes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <limits>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "strip/detector_profile.h"

namespace tvstrip {

inline constexpr const char* kUnfoldResponseName = "unfold.rsp";

// Response data that are missing, damaged or made for another detector or
// grid.  The message names the file and what is wrong.
class ResponseDataError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct ResponseNode {
    double energyKeV = 0;
    std::vector<std::uint32_t> counts;  // per loss bin
};

struct UnfoldResponse {
    std::uint64_t profileFingerprint = 0;
    double lossBinKeV = 0;
    std::uint64_t photonsPerNode = 0;
    std::vector<ResponseNode> nodes;  // ascending energies
    DetectorProfile profile;          // the resolution applied at use
    // Nodes above this energy were not decoded (their counts are empty):
    // a run needs the nodes up to its highest photon energy and the next
    // one above it.
    double decodedUpToKeV = std::numeric_limits<double>::infinity();
};

// The file's bytes for the data (the profile is not part of it).
std::string formatUnfoldResponse(const UnfoldResponse& r);

// Reads the file's bytes; `fileName` names it in messages.  Checks the
// layout, the checksum, ascending node energies, that no node records more
// photons than were simulated and that losses stay within the node's energy.
// Only the nodes up to `neededKeV` and the first one at or above it are
// decoded (the checks of the counts apply to those; the checksum covers
// all).
UnfoldResponse parseUnfoldResponse(std::string_view bytes, const std::string& fileName,
                                   double neededKeV = std::numeric_limits<double>::infinity());

// Reads RES/detector.txt and RES/unfold.rsp of a RES folder and checks that
// the data were made for that profile.  Throws ProfileError or
// ResponseDataError naming the file.  `neededKeV` as for
// parseUnfoldResponse: a run at V kV and w keV per channel needs the centre
// of its start channel, unfoldNeededKeV.
UnfoldResponse loadUnfoldResponse(const std::filesystem::path& resFolder,
                                  double neededKeV = std::numeric_limits<double>::infinity());

} // namespace tvstrip
