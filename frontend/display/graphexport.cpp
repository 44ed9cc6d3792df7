#include "graphexport.h"

#include "paintersurface.h"

#include <QCoreApplication>
#include <QImage>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <QSvgGenerator>

#include <cmath>

namespace tarvik {

namespace {

constexpr int kWidth = static_cast<int>(plot::PictureWidth);    // twips
constexpr int kHeight = static_cast<int>(plot::PictureHeight);  // twips
constexpr double kTwipsPerScreenPixel = PictureCanvas::kTwipsPerPixel;

// A painter surface in picture twips whose lines are as wide, relative to the
// graph, as on the screen.
class ExportSurface : public PainterSurface {
public:
    explicit ExportSurface(QPainter& painter) {
        attach(&painter, 20.0);  // a point is 20 twips
        setUnitsPerPixel(kTwipsPerScreenPixel);
        setFontName("Times New Roman");
        setFontSize(12);
    }
};

void paintGraph(const AppState& state, const CountAxis& axis, QPainter& painter, QSize device) {
    painter.setWindow(0, 0, kWidth, kHeight);
    painter.setViewport(0, 0, device.width(), device.height());
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    painter.fillRect(QRect(0, 0, kWidth, kHeight), Qt::white);
    ExportSurface surface(painter);
    drawGraph(state, surface, axis);
    surface.detach();
}

QString cannotWrite(const QString& path) {
    return QCoreApplication::translate("tarvik::GraphExport", "ファイル「%1」を書けませんでした").arg(path);
}

} // namespace

std::optional<QString> exportGraph(const AppState& state, const CountAxis& axis, const QString& path,
                                   GraphFileFormat format) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return cannotWrite(path);
    // Pixels of the picture on the screen.
    const QSize screen(static_cast<int>(std::lround(kWidth / kTwipsPerScreenPixel)),
                       static_cast<int>(std::lround(kHeight / kTwipsPerScreenPixel)));
    switch (format) {
    case GraphFileFormat::Png: {
        QImage image(screen * 2, QImage::Format_RGB32);
        image.fill(Qt::white);
        {
            QPainter painter(&image);
            paintGraph(state, axis, painter, image.size());
        }
        if (!image.save(&file, "PNG")) return cannotWrite(path);
        break;
    }
    case GraphFileFormat::Svg: {
        QSvgGenerator svg;
        svg.setOutputDevice(&file);
        svg.setSize(screen);
        svg.setViewBox(QRect(QPoint(0, 0), screen));
        svg.setTitle(QStringLiteral("Tarvik_CdTe spectrum"));
        QPainter painter;
        if (!painter.begin(&svg)) return cannotWrite(path);
        paintGraph(state, axis, painter, screen);
        painter.end();
        break;
    }
    case GraphFileFormat::Pdf: {
        QPdfWriter pdf(&file);
        pdf.setTitle(QStringLiteral("Tarvik_CdTe spectrum"));
        pdf.setCreator(QStringLiteral("Tarvik_CdTe"));
        // A page the size of the picture, one device dot per twip.
        pdf.setResolution(1440);
        pdf.setPageSize(QPageSize(QSizeF(kWidth / 1440.0 * 72.0, kHeight / 1440.0 * 72.0), QPageSize::Point,
                                  QString(), QPageSize::ExactMatch));
        pdf.setPageMargins(QMarginsF(0, 0, 0, 0));
        QPainter painter;
        if (!painter.begin(&pdf)) return cannotWrite(path);
        paintGraph(state, axis, painter, QSize(pdf.width(), pdf.height()));
        painter.end();
        break;
    }
    }
    if (!file.commit()) return cannotWrite(path);
    return std::nullopt;
}

std::optional<QString> writeWholeFile(const QString& path, const std::string& content) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return cannotWrite(path);
    if (file.write(content.data(), static_cast<qint64>(content.size())) != static_cast<qint64>(content.size()))
        return cannotWrite(path);
    if (!file.commit()) return cannotWrite(path);
    return std::nullopt;
}

} // namespace tarvik
