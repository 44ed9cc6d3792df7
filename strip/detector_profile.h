// The detector profile: a small text file that describes the detector the
// response data of the unfolding method were made for (crystal, entrance
// window, charge transport, energy resolution).  tvgen simulates the
// response from it; tvstrip takes the energy resolution from it.
//
// Layout: one "key = value" per line; blank lines and lines starting with
// "#" are ignored; every key below appears exactly once; numbers in the
// units the key names.
//
//   material                    CdTe
//   crystal_side_mm             extent across the beam (square face)
//   crystal_thickness_mm        along the beam (cathode at the front face)
//   density_g_per_cm3
//   window_material             Be
//   window_thickness_um         0 for none
//   mutau_electrons_cm2_per_V
//   mutau_holes_cm2_per_V
//   bias_V
//   fwhm2_constant_keV2         a  \  FWHM(E)^2 = a + b*E + (c*E)^2,
//   fwhm2_linear_keV            b   > E in keV (electronic noise, charge
//   fwhm_proportional           c  /  statistics, a share proportional to E)
//
// Optional keys (a profile without them describes the detector alone):
//
//   energy_gain_kev_per_channel \  the analyser's energy scale, as fitted to
//   energy_offset_keV           /   line sources: channel i records the
//                                   calibrated energies (offset + (i-1)*gain,
//                                   offset + i*gain]; both or neither
//   pulse_pair_resolving_time_us    two pulses closer than this are recorded
//                                   as one (pulse pile-up)
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tvstrip {

inline constexpr const char* kDetectorProfileName = "detector.txt";

// A profile that cannot be read or holds an impossible value.  The message
// names the file, the line and the value.
class ProfileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct DetectorProfile {
    std::string material = "CdTe";
    double crystalSideMm = 0;
    double crystalThicknessMm = 0;
    double densityGPerCm3 = 0;
    std::string windowMaterial = "Be";
    double windowThicknessUm = 0;
    double mutauElectrons = 0;  // cm²/V
    double mutauHoles = 0;      // cm²/V
    double biasVolts = 0;
    double fwhm2Constant = 0;      // keV²
    double fwhm2Linear = 0;        // keV
    double fwhmProportional = 0;   // dimensionless
    // The analyser's energy scale, when the profile was fitted with one.
    std::optional<double> energyGainKevPerChannel;
    std::optional<double> energyOffsetKeV;
    std::optional<double> pulsePairResolvingTimeUs;

    // FWHM of the energy resolution at E keV.
    double fwhmKeV(double energyKeV) const;
    // A fingerprint of everything that shapes the simulated response (not
    // the resolution, the energy scale or the resolving time, which are
    // applied when the data are used).
    std::uint64_t transportFingerprint() const;
};

// Reads a profile from its text; `fileName` names it in messages.  Throws
// ProfileError for a missing, repeated or unknown key, a value that is not
// a number, and an impossible value (a size, density, mu-tau, bias or the
// constant resolution term not above 0; a negative window or resolution
// term; a material the simulation does not model; an energy gain without an
// offset or the other way round).
DetectorProfile parseDetectorProfile(std::string_view text, const std::string& fileName);

// Reads a profile file.  Throws ProfileError naming the file when it cannot
// be read.
DetectorProfile loadDetectorProfile(const std::string& path);

// The profile as a file of the layout above (values with 17 significant
// digits at most, so that reading it back gives the same numbers).
std::string formatDetectorProfile(const DetectorProfile& profile, std::string_view comment = {});

} // namespace tvstrip
