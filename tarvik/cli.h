// The `tarvik` command line: subcommands init, strip, convert, quality,
// export and plot.  run() parses, works through the files and reports; it
// returns the exit status (0 all files done, 1 some file failed, 2 the
// command itself was wrong).
#pragma once

#include <cstdio>
#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

namespace tarvikcli {

struct Io {
    std::FILE* out = stdout;
    std::FILE* err = stderr;
    bool terminal = false;  // err is a terminal: a progress bar instead of lines
};

// Where the programs and the shipped data are.
struct Locations {
    std::filesystem::path dataDir;    // holds RES/, Carbon.dat, PMMA.dat, Tarvik_data/
    std::filesystem::path programDir; // holds tvstrip and tvconv (may be empty: see programs)
    std::vector<std::filesystem::path> programs;  // tvstrip, tvconv
};
// Installed layout first (<exe dir>/../share/tarvik, programs beside the
// executable), then the build tree.
Locations locate(const std::filesystem::path& executable);

int run(const std::vector<std::string>& args, const Locations& where, const Io& io);

// Draws the spectra into an image, SVG or PDF (the format from the file
// name).  Empty on success, else the reason.  Defined only with Qt.
struct PlotSeries {
    std::string name;
    std::vector<double> counts;
    double kevPerChannel = 0;
    // A file of another format: the energy of each channel's centre, and
    // where the last channel ends; empty when channel i spans ((i-1)w, iw].
    std::vector<double> centresKeV;
    double topKeV = 0;

    double centre(std::size_t i) const { return centresKeV.empty() ? (i + 0.5) * kevPerChannel : centresKeV[i]; }
    double end(std::size_t i) const
    {
        if (centresKeV.empty()) return (i + 1) * kevPerChannel;
        return i + 1 < centresKeV.size() ? 0.5 * (centresKeV[i] + centresKeV[i + 1]) : topKeV;
    }
};
std::string plotSpectra(const std::vector<PlotSeries>& series, bool logScale, double lo, double hi,
                        const std::filesystem::path& out);
bool plotAvailable();

} // namespace tarvikcli
