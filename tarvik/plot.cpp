// The plot command: the spectra as lines over energy (keV), drawn with
// QPainter into a PNG image, an SVG drawing or a PDF page.  Needs only the
// offscreen platform of QtGui: no display.
#include "cli.h"

#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPdfWriter>
#include <QSaveFile>
#include <QBuffer>
#include <QSvgGenerator>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>

namespace tarvikcli {

bool plotAvailable() { return true; }

namespace {

// Round steps 1, 2, 5 x 10^n giving about `target` intervals.
double niceStep(double span, int target)
{
    const double raw = span / target;
    const double p = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (m * p >= raw) return m * p;
    return 10 * p;
}

std::string label(double v)
{
    char buf[32];
    if (std::fabs(v) >= 1e7) std::snprintf(buf, sizeof buf, "%.0e", v);
    else if (std::fabs(v) >= 1e5) std::snprintf(buf, sizeof buf, "%.0f", v);
    else std::snprintf(buf, sizeof buf, "%g", v);
    return buf;
}

void draw(QPainter& p, const QRectF& page, const std::vector<PlotSeries>& series, bool logScale, double lo,
          double hi)
{
    // Colours distinct in print and for red-green colour blindness.
    static const QColor palette[] = {QColor(0, 114, 178), QColor(213, 94, 0), QColor(0, 158, 115),
                                     QColor(204, 121, 167), QColor(86, 180, 233), QColor(230, 159, 0),
                                     QColor(0, 0, 0)};
    p.fillRect(page, Qt::white);
    const double em = page.height() / 40.0;
    QFont font("DejaVu Sans");
    font.setPixelSize(std::max(8, static_cast<int>(em * 0.9)));
    p.setFont(font);
    const QRectF plot(page.left() + 5.5 * em, page.top() + 1.5 * em, page.width() - 7 * em,
                      page.height() - 5 * em);

    double top = 0, positiveMin = 0;
    if (hi <= lo) {
        lo = 0;
        for (const auto& s : series)
            for (std::size_t i = 0; i < s.counts.size(); ++i)
                if (s.counts[i] > 0) hi = std::max(hi, s.end(i));
        if (hi <= 0) hi = 1;
    }
    for (const auto& s : series)
        for (std::size_t i = 0; i < s.counts.size(); ++i) {
            const double e = s.centre(i);
            if (e < lo || e > hi) continue;
            top = std::max(top, s.counts[i]);
            if (s.counts[i] > 0 && (positiveMin == 0 || s.counts[i] < positiveMin)) positiveMin = s.counts[i];
        }
    if (top <= 0) top = 1;
    double yLo = 0, yHi = top * 1.05;
    if (logScale) {
        yLo = std::pow(10.0, std::floor(std::log10(positiveMin > 0 ? positiveMin : 1)));
        yHi = std::pow(10.0, std::ceil(std::log10(top * 1.05)));
        if (yHi <= yLo) yHi = yLo * 10;
    }
    auto X = [&](double e) { return plot.left() + (e - lo) / (hi - lo) * plot.width(); };
    auto Y = [&](double c) {
        double f = logScale ? (std::log10(std::max(c, yLo)) - std::log10(yLo)) / (std::log10(yHi) - std::log10(yLo))
                            : (c - yLo) / (yHi - yLo);
        return plot.bottom() - std::clamp(f, 0.0, 1.0) * plot.height();
    };

    // Grid and axes.
    QPen grid(QColor(225, 225, 225));
    grid.setWidthF(em * 0.05);
    QPen axis(Qt::black);
    axis.setWidthF(em * 0.08);
    const double xs = niceStep(hi - lo, 10);
    for (double e = std::ceil(lo / xs) * xs; e <= hi + 1e-9 * xs; e += xs) {
        p.setPen(grid);
        p.drawLine(QPointF(X(e), plot.top()), QPointF(X(e), plot.bottom()));
        p.setPen(axis);
        p.drawText(QRectF(X(e) - 3 * em, plot.bottom() + 0.3 * em, 6 * em, 1.2 * em), Qt::AlignHCenter,
                   QString::fromStdString(label(e)));
    }
    std::vector<double> ticks;
    if (logScale) {
        for (double d = yLo; d <= yHi * 1.0001; d *= 10) ticks.push_back(d);
    } else {
        const double ys = niceStep(yHi - yLo, 8);
        for (double c = 0; c <= yHi; c += ys) ticks.push_back(c);
    }
    for (double c : ticks) {
        p.setPen(grid);
        p.drawLine(QPointF(plot.left(), Y(c)), QPointF(plot.right(), Y(c)));
        p.setPen(axis);
        p.drawText(QRectF(page.left(), Y(c) - 0.6 * em, 5 * em, 1.2 * em), Qt::AlignRight | Qt::AlignVCenter,
                   QString::fromStdString(label(c)));
    }
    p.setPen(axis);
    p.drawRect(plot);
    p.drawText(QRectF(plot.left(), plot.bottom() + 1.6 * em, plot.width(), 1.4 * em), Qt::AlignHCenter,
               "Energy (keV)");
    p.save();
    p.translate(page.left() + 0.9 * em, plot.center().y());
    p.rotate(-90);
    p.drawText(QRectF(-plot.height() / 2, -0.9 * em, plot.height(), 1.4 * em), Qt::AlignHCenter,
               logScale ? "Counts per channel (log)" : "Counts per channel");
    p.restore();

    // The spectra, clipped to the plot, and a legend.
    p.save();
    p.setClipRect(plot);
    p.setRenderHint(QPainter::Antialiasing);
    for (std::size_t k = 0; k < series.size(); ++k) {
        const auto& s = series[k];
        QPainterPath path;
        bool started = false;
        for (std::size_t i = 0; i < s.counts.size(); ++i) {
            const double e = s.centre(i);
            if (e < lo - s.kevPerChannel || e > hi + s.kevPerChannel) continue;
            const QPointF pt(X(e), Y(s.counts[i]));
            if (!started) { path.moveTo(pt); started = true; }
            else path.lineTo(pt);
        }
        QPen pen(palette[k % 7]);
        pen.setWidthF(em * 0.08);
        p.setPen(pen);
        p.drawPath(path);
    }
    p.restore();
    // Legend in the upper right corner, as wide as its longest name.
    const QFontMetricsF metrics(font, p.device());
    double textWidth = 0;
    for (const auto& s : series)
        textWidth = std::max(textWidth, metrics.horizontalAdvance(QString::fromStdString(s.name)));
    textWidth = std::min(textWidth, plot.width() * 0.6);
    const QRectF box(plot.right() - textWidth - 3.2 * em, plot.top() + 0.4 * em, textWidth + 2.8 * em,
                     (0.4 + 1.3 * series.size()) * em);
    p.setPen(QPen(QColor(160, 160, 160), em * 0.04));
    p.setBrush(QColor(255, 255, 255, 230));
    p.drawRect(box);
    p.setBrush(Qt::NoBrush);
    for (std::size_t k = 0; k < series.size(); ++k) {
        const double y = box.top() + (0.85 + 1.3 * k) * em;
        QPen pen(palette[k % 7]);
        pen.setWidthF(em * 0.15);
        p.setPen(pen);
        p.drawLine(QPointF(box.left() + 0.4 * em, y), QPointF(box.left() + 1.8 * em, y));
        p.setPen(axis);
        const QString name = metrics.elidedText(QString::fromStdString(series[k].name), Qt::ElideMiddle, textWidth);
        p.drawText(QRectF(box.left() + 2.2 * em, y - 0.65 * em, textWidth + 0.5 * em, 1.3 * em), Qt::AlignVCenter,
                   name);
    }
}

} // namespace

std::string plotSpectra(const std::vector<PlotSeries>& series, bool logScale, double lo, double hi,
                        const std::filesystem::path& out)
{
    // A QGuiApplication for the drawing (fonts), with the offscreen platform
    // unless another is asked for; it ends with this call, before the
    // program's static objects do.
    std::unique_ptr<QGuiApplication> app;
    int argc = 1;
    char name[] = "tarvik";
    char* argv[] = {name, nullptr};
    if (!QGuiApplication::instance()) {
        if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
        app = std::make_unique<QGuiApplication>(argc, argv);
    }
    const std::string ext = out.extension().string();
    const QString file = QString::fromStdString(out.string());
    // Written through a temporary file that replaces the target when complete.
    QSaveFile save(file);
    if (!save.open(QIODevice::WriteOnly)) return "cannot write " + out.string();
    if (ext == ".png") {
        QImage image(1600, 1000, QImage::Format_RGB32);
        QPainter p(&image);
        draw(p, QRectF(0, 0, 1600, 1000), series, logScale, lo, hi);
        p.end();
        if (!image.save(&save, "PNG")) return "cannot write the PNG image";
    } else if (ext == ".svg") {
        QSvgGenerator svg;
        svg.setOutputDevice(&save);
        svg.setSize(QSize(1600, 1000));
        svg.setViewBox(QRect(0, 0, 1600, 1000));
        svg.setTitle("Spectra");
        QPainter p(&svg);
        draw(p, QRectF(0, 0, 1600, 1000), series, logScale, lo, hi);
        p.end();
    } else if (ext == ".pdf") {
        QPdfWriter pdf(&save);
        pdf.setPageSize(QPageSize(QPageSize::A4));
        pdf.setPageOrientation(QPageLayout::Landscape);
        pdf.setResolution(300);
        QPainter p(&pdf);
        const QRect r = p.viewport();
        draw(p, QRectF(r), series, logScale, lo, hi);
        p.end();
    } else {
        save.cancelWriting();
        return "the output must end in .png, .svg or .pdf";
    }
    if (!save.commit()) return "cannot write " + out.string();
    return {};
}

} // namespace tarvikcli
