"""Tarvik_CdTe on NumPy arrays: the stripping correction and unfolding of
spectra measured with the CdTe detector, the conversion of a scattered
spectrum into the primary one, and the beam-quality figures of a spectrum.

Every function runs the same C++ code as the programs tvstrip, tvconv and
the command line `tarvik`; the "standard" methods give exactly the counts
those programs write.

    import tarvik
    measured = tarvik.read("Tarvik_data/W80kV_2.5mmAl_direct.csv")
    stripped = tarvik.strip(measured, kv=80, kev_per_channel=0.1)
    unfolded = tarvik.strip(measured, kv=80, kev_per_channel=0.1, method="unfold")
    q = tarvik.quality(unfolded)
    print(q.mean_energy_keV, q.hvl1_al_mm, q.hvl1_al_mm_u)
    tarvik.write(stripped, "W80kV.mca1")

Spectrum         counts per channel with keV per channel, kind, texts
read, write      the spectrum files (.csv, .mca1, .mca2; read also the
                 analysers' .mca, .Spe, .Chn, N42, text columns)
read_all         every spectrum of a file (N42 may hold several)
strip            measured -> stripped (methods "standard", "unfold")
convert          stripped scattered spectrum -> primary spectrum
quality          beam-quality figures with uncertainties (Quality)
characterize     the detector's energy scale, resolution and mu-tau from
                 calibration-source spectra (Characterization)
Error            what the programs refuse, with their messages
InputError       values that cannot be worked with (also a ValueError)
data_folder      where the shipped response data and scatterer files are
forget_data      read the response data and scatterer files again
"""

from ._core import (
    Characterization,
    Error,
    InputError,
    Quality,
    Spectrum,
    characterize,
    convert,
    data_folder,
    forget_data,
    quality,
    read,
    read_all,
    strip,
    write,
)

__all__ = [
    "Spectrum",
    "Quality",
    "Error",
    "InputError",
    "read",
    "read_all",
    "write",
    "strip",
    "convert",
    "quality",
    "Characterization",
    "characterize",
    "data_folder",
    "forget_data",
]

