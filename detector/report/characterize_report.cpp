#include "detector/report/characterize_report.h"

#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QSaveFile>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace tvdet {

namespace {

QString text(const char* pattern, double v)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, pattern, v);
    return QString::fromUtf8(buf);
}

QString valueLine(const char* name, const Value& v, const char* pattern, const char* unit)
{
    QString s = QString::fromUtf8(name) + "  " + text(pattern, v.value);
    if (std::isfinite(v.uncertainty)) s += QString::fromUtf8(" ± ") + text(pattern, v.uncertainty);
    else s += " (not determined)";
    if (*unit) s += QString(" ") + QString::fromUtf8(unit);
    return s;
}

double niceStep(double span, int target)
{
    const double raw = span / target;
    const double p = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (m * p >= raw) return m * p;
    return 10 * p;
}

} // namespace

QImage renderCharacterizationReport(const Characterization& c, std::size_t k, int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const SourceFit& s = c.sources[k];
    const double em = height / 45.0;
    QFont font("DejaVu Sans");
    font.setPixelSize(std::max(8, static_cast<int>(em * 0.85)));
    p.setFont(font);
    QFont bold = font;
    bold.setBold(true);

    const double textWidth = 22 * em;
    const QRectF spectrum(5.5 * em, 2.6 * em, width - textWidth - 7 * em, (height - 7 * em) * 0.72);
    const QRectF residual(spectrum.left(), spectrum.bottom() + 1.2 * em, spectrum.width(),
                          height - spectrum.bottom() - 4.2 * em);
    const std::size_t n = s.measured.size();
    auto energy = [&](std::size_t i) { return c.offset.value + (s.firstChannel + static_cast<double>(i) - 0.5) * c.gain.value; };
    const double lo = energy(0) - 0.5 * c.gain.value, hi = energy(n - 1) + 0.5 * c.gain.value;
    double top = 1, bottom = 1e300;
    for (std::size_t i = 0; i < n; ++i) {
        top = std::max({top, s.measured[i], s.model[i]});
        if (s.model[i] > 0) bottom = std::min(bottom, s.model[i]);
    }
    const double yHi = std::pow(10.0, std::ceil(std::log10(top * 1.5)));
    const double yLo = std::max(0.1, std::pow(10.0, std::floor(std::log10(std::max(bottom, 0.1)))));
    auto X = [&](double e) { return spectrum.left() + (e - lo) / (hi - lo) * spectrum.width(); };
    auto Y = [&](double v) {
        const double f = (std::log10(std::max(v, yLo)) - std::log10(yLo)) / (std::log10(yHi) - std::log10(yLo));
        return spectrum.bottom() - std::clamp(f, 0.0, 1.0) * spectrum.height();
    };
    const double rMax = 5;
    auto R = [&](double v) { return residual.center().y() - std::clamp(v / rMax, -1.0, 1.0) * residual.height() / 2; };

    // Title.
    p.setFont(bold);
    p.setPen(Qt::black);
    p.drawText(QRectF(spectrum.left(), 0.5 * em, width - 6 * em, 1.6 * em), Qt::AlignLeft | Qt::AlignVCenter,
               QString::fromStdString(s.nuclide) + "  —  " + QString::fromStdString(s.name));
    p.setFont(font);

    // Grids and axes.
    QPen grid(QColor(225, 225, 225), em * 0.05);
    QPen axis(Qt::black, em * 0.07);
    const double xs = niceStep(hi - lo, 10);
    for (double e = std::ceil(lo / xs) * xs; e <= hi; e += xs) {
        p.setPen(grid);
        p.drawLine(QPointF(X(e), spectrum.top()), QPointF(X(e), spectrum.bottom()));
        p.drawLine(QPointF(X(e), residual.top()), QPointF(X(e), residual.bottom()));
        p.setPen(axis);
        p.drawText(QRectF(X(e) - 3 * em, residual.bottom() + 0.3 * em, 6 * em, 1.2 * em), Qt::AlignHCenter,
                   text("%g", e));
    }
    for (double d = yLo; d <= yHi * 1.0001; d *= 10) {
        p.setPen(grid);
        p.drawLine(QPointF(spectrum.left(), Y(d)), QPointF(spectrum.right(), Y(d)));
        p.setPen(axis);
        p.drawText(QRectF(0, Y(d) - 0.6 * em, 5 * em, 1.2 * em), Qt::AlignRight | Qt::AlignVCenter, text("%g", d));
    }
    for (double r : {-4.0, -2.0, 0.0, 2.0, 4.0}) {
        p.setPen(r == 0 ? QPen(QColor(150, 150, 150), em * 0.06) : grid);
        p.drawLine(QPointF(residual.left(), R(r)), QPointF(residual.right(), R(r)));
        p.setPen(axis);
        p.drawText(QRectF(0, R(r) - 0.6 * em, 5 * em, 1.2 * em), Qt::AlignRight | Qt::AlignVCenter, text("%+g", r));
    }
    p.setPen(axis);
    p.setBrush(Qt::NoBrush);
    p.drawRect(spectrum);
    p.drawRect(residual);
    p.drawText(QRectF(residual.left(), residual.bottom() + 1.6 * em, residual.width(), 1.3 * em), Qt::AlignHCenter,
               "Energy (keV, fitted scale)");
    p.save();
    p.translate(1.0 * em, spectrum.center().y());
    p.rotate(-90);
    p.drawText(QRectF(-spectrum.height() / 2, -0.9 * em, spectrum.height(), 1.3 * em), Qt::AlignHCenter,
               "Counts per channel");
    p.restore();
    p.save();
    p.translate(1.0 * em, residual.center().y());
    p.rotate(-90);
    p.drawText(QRectF(-residual.height() / 2, -0.9 * em, residual.height(), 1.3 * em), Qt::AlignHCenter,
               "(n - model) / sqrt(model)");
    p.restore();

    // The parts, the model, the measurement.
    static const QColor partColour[kModelParts] = {QColor(0, 114, 178), QColor(0, 158, 115), QColor(230, 159, 0),
                                                   QColor(204, 121, 167), QColor(120, 120, 120)};
    p.save();
    p.setClipRect(spectrum);
    auto line = [&](const std::vector<double>& v, const QPen& pen) {
        QPainterPath path;
        for (std::size_t i = 0; i < n; ++i) {
            const QPointF pt(X(energy(i)), Y(v[i]));
            if (i == 0) path.moveTo(pt);
            else path.lineTo(pt);
        }
        p.setPen(pen);
        p.drawPath(path);
    };
    for (int q = 0; q < kModelParts; ++q)
        line(s.parts[static_cast<std::size_t>(q)], QPen(partColour[q], em * 0.07));
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    for (std::size_t i = 0; i < n; ++i)
        if (s.measured[i] > 0) p.drawEllipse(QPointF(X(energy(i)), Y(s.measured[i])), em * 0.09, em * 0.09);
    p.setBrush(Qt::NoBrush);
    line(s.model, QPen(QColor(213, 94, 0), em * 0.08));
    p.restore();
    p.save();
    p.setClipRect(residual);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(60, 60, 60));
    for (std::size_t i = 0; i < n; ++i) {
        const double r = (s.measured[i] - s.model[i]) / std::sqrt(std::max(s.model[i], 1e-9));
        p.drawEllipse(QPointF(X(energy(i)), R(r)), em * 0.08, em * 0.08);
    }
    p.restore();

    // Legend and the fitted values at the right.
    double y = spectrum.top();
    const double x0 = spectrum.right() + 1.2 * em;
    auto row = [&](const QString& t, const QFont* f = nullptr) {
        p.setFont(f ? *f : font);
        p.setPen(Qt::black);
        p.drawText(QRectF(x0, y, textWidth - 0.5 * em, 1.3 * em), Qt::AlignLeft | Qt::AlignVCenter, t);
        y += 1.35 * em;
    };
    auto key = [&](const QColor& colour, const QString& t, bool dot) {
        if (dot) {
            p.setPen(Qt::NoPen);
            p.setBrush(Qt::black);
            p.drawEllipse(QPointF(x0 + 0.7 * em, y + 0.65 * em), em * 0.15, em * 0.15);
            p.setBrush(Qt::NoBrush);
        } else {
            p.setPen(QPen(colour, em * 0.15));
            p.drawLine(QPointF(x0, y + 0.65 * em), QPointF(x0 + 1.4 * em, y + 0.65 * em));
        }
        p.setPen(Qt::black);
        p.drawText(QRectF(x0 + 1.8 * em, y, textWidth - 2.3 * em, 1.3 * em), Qt::AlignLeft | Qt::AlignVCenter, t);
        y += 1.35 * em;
    };
    key(Qt::black, "measured", true);
    key(QColor(213, 94, 0), "fitted model", false);
    for (int q = 0; q < kModelParts; ++q) key(partColour[q], QString::fromUtf8(kModelPartNames[static_cast<std::size_t>(q)]), false);
    y += 0.8 * em;
    row("Fitted detector (all sources)", &bold);
    row(valueLine("gain", c.gain, "%.6f", "keV/ch"));
    row(valueLine("offset", c.offset, "%.4f", "keV"));
    row(valueLine("FWHM at 59.54 keV", c.fwhmAt5954, "%.4f", "keV"));
    row(valueLine("a", c.fwhm2Constant, "%.4f", "keV²"));
    row(valueLine("b", c.fwhm2Linear, "%.5f", "keV"));
    row(valueLine("c", c.fwhmProportional, "%.5f", ""));
    row(valueLine("μτ e", c.mutauElectrons, "%.3g", "cm²/V"));
    row(valueLine("μτ h", c.mutauHoles, "%.3g", "cm²/V"));
    row(text("deviance/dof %.3f", c.deviancePerChannel));
    y += 0.8 * em;
    row("This source", &bold);
    row(text("channels %.0f", s.firstChannel) + text(" to %.0f", s.lastChannel));
    row(text("%.0f counts", s.counts));
    row(text("deviance/channel %.3f", s.deviance / static_cast<double>(n)));
    if (s.absorberGPerCm2.value > 0) row(valueLine("absorber", s.absorberGPerCm2, "%.4f", "g/cm² Al"));
    else row("absorber  none found");
    row(text("scattered %.3f per direct photon", s.decays.value > 0 ? s.scatteredPhotons.value / s.decays.value : 0.0));
    row(text("construction: %g V, ", c.construction.biasVolts) + text("%g mm, ", c.construction.thicknessMm) +
        text("%g µm Be", c.construction.windowUm));
    p.end();
    return image;
}

struct ReportApplication::Impl {
    int argc = 1;
    char name[7] = "tarvik";
    char* argv[2] = {name, nullptr};
    std::unique_ptr<QGuiApplication> app;
};

ReportApplication::ReportApplication() : impl_(new Impl)
{
    if (!QGuiApplication::instance()) {
        if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
        impl_->app = std::make_unique<QGuiApplication>(impl_->argc, impl_->argv);
    }
}

ReportApplication::~ReportApplication() { delete impl_; }

std::string drawCharacterizationReport(const Characterization& c, std::size_t k, const std::filesystem::path& png)
{
    const ReportApplication application;
    const QImage image = renderCharacterizationReport(c, k);
    QSaveFile save(QString::fromStdString(png.string()));
    if (!save.open(QIODevice::WriteOnly)) return "cannot write " + png.string();
    if (!image.save(&save, "PNG")) return "cannot write the PNG image";
    if (!save.commit()) return "cannot write " + png.string();
    return {};
}

} // namespace tvdet
