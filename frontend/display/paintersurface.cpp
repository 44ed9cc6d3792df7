#include "paintersurface.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPen>
#include <QPrinter>

#include <cmath>

namespace tarvik {

void PainterSurface::attach(QPainter* painter, double unitsPerPoint) {
    painter_ = painter;
    unitsPerPoint_ = unitsPerPoint;
}

QFont PainterSurface::currentQFont() const {
    QFont f(QString::fromStdString(font().name));
    f.setPixelSize(std::max(1, static_cast<int>(std::lround(font().size * unitsPerPoint_))));
    f.setItalic(font().italic);
    // Keep outlines exact when the painter scales them down to the device.
    f.setHintingPreference(QFont::PreferNoHinting);
    return f;
}

QColor PainterSurface::colourOf(int paletteIndex) const {
    if (monochrome_) return Qt::black;
    Rgb c = paletteColour(paletteIndex);
    return QColor(c.r, c.g, c.b);
}

void PainterSurface::usePen(int colour) {
    QPen pen(colourOf(colour));
    if (unitsPerPixel_ > 0) {
        pen.setCosmetic(false);
        pen.setWidthF(lineWidth() * unitsPerPixel_);
    } else {
        pen.setCosmetic(true);
        pen.setWidth(lineWidth());
    }
    pen.setStyle(Qt::SolidLine);
    pen.setCapStyle(Qt::SquareCap);
    painter_->setPen(pen);
    painter_->setBrush(Qt::NoBrush);
}

static QRectF rectOf(double x1, double y1, double x2, double y2) {
    return QRectF(QPointF(x1, y1), QPointF(x2, y2)).normalized();
}

void PainterSurface::paintClear() {
    if (!painter_) return;
    painter_->fillRect(painter_->window(), Qt::white);
}

void PainterSurface::paintFillRect(double x1, double y1, double x2, double y2, int colour) {
    if (!painter_) return;
    painter_->fillRect(rectOf(x1, y1, x2, y2), colourOf(colour));
}

void PainterSurface::paintRectOutline(double x1, double y1, double x2, double y2, int colour) {
    if (!painter_) return;
    usePen(colour);
    painter_->drawRect(rectOf(x1, y1, x2, y2));
}

void PainterSurface::paintLine(double x1, double y1, double x2, double y2, int colour) {
    if (!painter_) return;
    usePen(colour);
    painter_->drawLine(QPointF(x1, y1), QPointF(x2, y2));
}

void PainterSurface::paintPoint(double x, double y, int colour) {
    if (!painter_) return;
    usePen(colour);
    painter_->drawPoint(QPointF(x, y));
}

void PainterSurface::paintText(double x, double y, std::string_view text) {
    if (!painter_ || text.empty()) return;
    QFont f = currentQFont();
    painter_->setFont(f);
    painter_->setPen(colourOf(textColour()));
    QFontMetricsF fm(f);
    painter_->drawText(QPointF(x, y + fm.ascent()), QString::fromUtf8(text.data(), static_cast<int>(text.size())));
}

double PainterSurface::lineHeight() const {
    return QFontMetricsF(currentQFont()).height();
}

// ---------------------------------------------------------------- picture ----

PictureCanvas::PictureCanvas(QSize pixels) : image_(pixels, QImage::Format_RGB32) { reset(); }

void PictureCanvas::reset() {
    image_.fill(Qt::white);
    surface_ = PainterSurface();
    surface_.setFontName("Times New Roman");
    surface_.setFontSize(12);
}

PictureCanvas::Drawing::Drawing(PictureCanvas& canvas) : canvas_(canvas), painter_(new QPainter(&canvas.image_)) {
    const QSize px = canvas.image_.size();
    painter_->setWindow(0, 0, px.width() * kTwipsPerPixel, px.height() * kTwipsPerPixel);
    painter_->setViewport(0, 0, px.width(), px.height());
    painter_->setRenderHint(QPainter::TextAntialiasing, true);
    // A point is 20 twips.
    canvas_.surface_.attach(painter_, 20.0);
}

PictureCanvas::Drawing::~Drawing() {
    canvas_.surface_.detach();
    painter_->end();
    delete painter_;
}

// ---------------------------------------------------------------- printer ----

PrinterPageSurface::PrinterPageSurface(QPrinter& printer, QPainter& painter)
    : PainterSurface(true), printer_(printer), pagePainter_(painter) {
    attach(&painter, 20.0);
}

void PrinterPageSurface::setScale(double width, double height) {
    // The painter's device rectangle is the printable area of the page.
    const QRect device = pagePainter_.viewport();
    pagePainter_.setWindow(0, 0, static_cast<int>(width), static_cast<int>(height));
    pagePainter_.setViewport(device);
    pagePainter_.setRenderHint(QPainter::TextAntialiasing, true);
    // Points are physical: device pixels per point divided by the device
    // pixels per unit down the page.
    const double pixelsPerPoint = printer_.resolution() / 72.0;
    const double pixelsPerUnit = device.height() / height;
    setUnitsPerPoint(pixelsPerPoint / pixelsPerUnit);
    // Line widths are printer dots.  Held in page units rather than as
    // cosmetic pens: a print preview replays the page on the screen, where a
    // cosmetic pen would keep its width in screen pixels and the frame of 8
    // dots would come out as a bar.
    const double pixelsPerUnitAcross = device.width() / width;
    setUnitsPerPixel(2.0 / (pixelsPerUnit + pixelsPerUnitAcross));
}

void PrinterPageSurface::endDocument() {
    detach();
    if (pagePainter_.isActive()) pagePainter_.end();
}

} // namespace tarvik
