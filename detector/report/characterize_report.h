// The report picture of one source of a characterization: the measured
// spectrum, the fitted model and its parts over energy (logarithmic
// counts), the residuals in standard deviations below, and the fitted
// values beside.  Drawn with QtGui (no display needed: the offscreen
// platform serves).
#pragma once

#include <filesystem>
#include <string>

#include <QImage>

#include "detector/characterize.h"

namespace tvdet {

// The picture of source k (width × height pixels).
QImage renderCharacterizationReport(const Characterization& c, std::size_t k, int width = 1800, int height = 1200);

// Keeps a QGuiApplication (offscreen platform unless another is asked for)
// while it lives, when the program has none: pictures of several sources
// then share one.
class ReportApplication {
public:
    ReportApplication();
    ~ReportApplication();
    ReportApplication(const ReportApplication&) = delete;
    ReportApplication& operator=(const ReportApplication&) = delete;

private:
    struct Impl;
    Impl* impl_;
};

// The picture written as PNG (through a temporary file).  Empty on
// success, else the reason.  Creates a QGuiApplication on the offscreen
// platform when the program has none.
std::string drawCharacterizationReport(const Characterization& c, std::size_t k, const std::filesystem::path& png);

} // namespace tvdet
