"""Worked example: the two demo spectra through both correction methods.

The demo spectra in Tarvik_data are simulated measurements of a tungsten
tube at 80 kV behind 2.5 mm Al: one of the direct beam, one of the beam
scattered at 90 degrees off PMMA.  Their headers state the true mean energy
and half-value layer; examples/data holds the true spectra themselves
(made by `tvgen --demo-truth`).  This script

  * strips the direct beam with the standard method and with the unfolding,
  * strips the scattered beam and converts it back to the primary beam,
  * prints the mean energy and first half-value layer of each result with
    its counting uncertainty next to the truth,
  * draws measured, corrected and true spectra (in 1 keV bins) into a PNG.

    PYTHONPATH=build/python /usr/bin/python3 examples/demo_spectra.py [--out demo_spectra.png]
"""
import argparse
import pathlib
import re

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

import tarvik  # noqa: E402

HERE = pathlib.Path(__file__).resolve().parent
METHODS = ("standard", "unfold")


def stated(spectrum, label):
    """A number the demo's header states, e.g. "True HVL (air kerma): 2.633 mm Al"."""
    for line in spectrum.header:
        if line.startswith(label):
            return float(re.search(r"[-+]?\d+(\.\d+)?", line[len(label):]).group())
    raise ValueError(f"{spectrum.path} states no {label!r}")


def true_spectrum(measured):
    """The photons incident on the detector per channel: the shares of
    examples/data/<name>_true.csv times the photons the demo simulated."""
    name = pathlib.Path(measured.path).stem + "_true.csv"
    share = np.loadtxt(HERE / "data" / name, delimiter=",", comments="#", skiprows=6, usecols=2)
    return tarvik.Spectrum(share * stated(measured, "Photons simulated:"), measured_width(measured), kind="stripped")


def measured_width(measured):
    return stated(measured, "Channels: 1024 x")


def per_kev(spectrum, bin_kev=1.0):
    """Photons per keV in bins of bin_kev (whole channels; the unfolding's
    results scatter from channel to channel, their shape shows in 1 keV
    bins, as the round trips compare them) and the bins' centre energies."""
    w = spectrum.kev_per_channel
    k = max(1, int(round(bin_kev / w)))
    n = len(spectrum.counts) // k * k
    counts = spectrum.counts[:n].reshape(-1, k).sum(axis=1)
    edges = spectrum.offset_kev + np.arange(0, n + 1, k) * w
    return 0.5 * (edges[:-1] + edges[1:]), counts / (k * w)


def run(out_png, resamples=20):
    demo = tarvik.data_folder() / "Tarvik_data"
    direct = tarvik.read(demo / "W80kV_2.5mmAl_direct.csv")
    scattered = tarvik.read(demo / "W80kV_2.5mmAl_PMMA90deg.csv")
    w = measured_width(direct)
    truth = true_spectrum(direct)

    corrected, primary = {}, {}
    for method in METHODS:
        corrected[method] = tarvik.strip(direct, kv=80, kev_per_channel=w, method=method)
        # The demo's header: "scattered 90 deg off PMMA; path in it 10 mm".
        behind = tarvik.strip(scattered, kv=80, kev_per_channel=w, method=method)
        primary[method] = tarvik.convert(behind, angle=90, length_mm=10, scatterer="PMMA", method=method)

    rows, figures = [], {}
    true_mean, true_hvl = stated(direct, "True mean energy at the detector:"), stated(direct, "True HVL (air kerma):")
    for label, results in (("direct beam, stripped", corrected), ("PMMA 90 deg, converted", primary)):
        for method in METHODS:
            q = tarvik.quality(results[method], resamples=resamples)
            figures[label, method] = q
            rows.append(dict(spectrum=label, method=method, mean_energy_keV=q.mean_energy_keV,
                             mean_energy_keV_u=q.mean_energy_keV_u, hvl1_al_mm=q.hvl1_al_mm,
                             hvl1_al_mm_u=q.hvl1_al_mm_u, true_mean_energy_keV=true_mean, true_hvl1_al_mm=true_hvl))
    q_true = tarvik.quality(truth, resamples=0)
    rows.append(dict(spectrum="true spectrum (examples/data)", method="", mean_energy_keV=q_true.mean_energy_keV,
                     mean_energy_keV_u=float("nan"), hvl1_al_mm=q_true.hvl1_al_mm, hvl1_al_mm_u=float("nan"),
                     true_mean_energy_keV=true_mean, true_hvl1_al_mm=true_hvl))

    def legend(text, q):
        return f"{text}: {q.mean_energy_keV:.2f} keV, HVL1 {q.hvl1_al_mm:.3f} mm Al"

    # Linear scale up to a little above the continuum; the W K lines run off the top.
    def continuum_top(spectrum):
        e, n = per_kev(spectrum)
        return 1.5 * n[(e > 20) & (e < 55)].max()

    fig, (top, bottom) = plt.subplots(2, 1, figsize=(9, 9), sharex=True)
    e, n = per_kev(tarvik.Spectrum(direct.counts, w))
    top.plot(e, n, color="0.6", lw=0.8, ds="steps-mid", label="measured (W80kV_2.5mmAl_direct.csv)")
    for method, colour in zip(METHODS, ("tab:blue", "tab:red")):
        top.plot(*per_kev(corrected[method]), color=colour, lw=0.9, ds="steps-mid",
                 label=legend(f"stripped, {method}", figures["direct beam, stripped", method]))
    top.plot(*per_kev(truth), color="black", lw=1.2, ds="steps-mid", ls="--", label=legend("true, incident on the detector", q_true))
    top.set_ylim(0, continuum_top(truth))
    top.set_ylabel("photons per keV")
    top.set_title("Direct beam: W anode 80 kV, 2.5 mm Al")
    top.legend(fontsize=8, loc="upper right")

    # Shapes: the conversion scales its result to the measured total.
    def shape(spectrum):
        energies, density = per_kev(spectrum)
        return energies, density / spectrum.counts.sum()

    e, n = shape(tarvik.Spectrum(scattered.counts, w))
    bottom.plot(e, n, color="0.6", lw=0.8, ds="steps-mid", label="measured behind PMMA at 90 deg (scattered)")
    for method, colour in zip(METHODS, ("tab:blue", "tab:red")):
        bottom.plot(*shape(primary[method]), color=colour, lw=0.9, ds="steps-mid",
                    label=legend(f"stripped and converted, {method}", figures["PMMA 90 deg, converted", method]))
    bottom.plot(*shape(truth), color="black", lw=1.2, ds="steps-mid", ls="--", label=legend("true primary beam", q_true))
    bottom.set_ylim(0, continuum_top(truth) / truth.counts.sum())
    bottom.set_xlabel("energy (keV)")
    bottom.set_ylabel("share per keV")
    bottom.set_title("Primary beam from the scattered spectrum (PMMA, 90 deg, 10 mm path)")
    bottom.legend(fontsize=8, loc="upper right")
    bottom.set_xlim(0, 90)
    fig.tight_layout()
    fig.savefig(out_png, dpi=110)
    plt.close(fig)
    return rows


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--out", default="demo_spectra.png", help="the picture (PNG)")
    parser.add_argument("--resamples", type=int, default=20, help="Poisson resamples for the uncertainties")
    args = parser.parse_args()
    rows = run(args.out, args.resamples)
    print(f"{'spectrum':32} {'method':9} {'mean energy (keV)':>30} {'HVL1 Al (mm)':>30}")
    for r in rows:
        mean = f"{r['mean_energy_keV']:.3f} ± {r['mean_energy_keV_u']:.3f} ({r['mean_energy_keV'] - r['true_mean_energy_keV']:+.2f})"
        hvl = f"{r['hvl1_al_mm']:.4f} ± {r['hvl1_al_mm_u']:.4f} ({100 * (r['hvl1_al_mm'] / r['true_hvl1_al_mm'] - 1):+.1f} %)"
        print(f"{r['spectrum']:32} {r['method']:9} {mean:>30} {hvl:>30}")
    print(f"truth stated in the demo's header: {rows[0]['true_mean_energy_keV']} keV, "
          f"{rows[0]['true_hvl1_al_mm']} mm Al; picture: {args.out}")


if __name__ == "__main__":
    main()
