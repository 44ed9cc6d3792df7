// Drawing surfaces that paint with QPainter: the display picture (twips, 15
// per screen pixel) and a printer page (12000 × 16900 units).
//
// The painter's window is set to the logical units, so a font must be sized
// in logical units too: a point is `unitsPerPoint` units (20 twips on
// screen).  Line widths are device pixels: cosmetic pens on screen; on a
// page they are printer dots turned into page units, so that a print
// preview, which replays the page at another scale, shows them as printed.
#pragma once

#include "drawsurface.h"

#include <QColor>
#include <QFont>
#include <QImage>

class QPainter;
class QPrinter;

namespace tarvik {

class PainterSurface : public DrawSurface {
public:
    // `monochrome`: everything in black (the printed page).
    explicit PainterSurface(bool monochrome = false) : monochrome_(monochrome) {}

    // Paints with `painter` (already begun, its window in logical units)
    // until detach().
    void attach(QPainter* painter, double unitsPerPoint);
    void detach() { painter_ = nullptr; }
    bool attached() const { return painter_ != nullptr; }

    // The font of the current state, sized in logical units.
    QFont currentQFont() const;
    QColor colourOf(int paletteIndex) const;

protected:
    void paintClear() override;
    void paintFillRect(double x1, double y1, double x2, double y2, int colour) override;
    void paintRectOutline(double x1, double y1, double x2, double y2, int colour) override;
    void paintLine(double x1, double y1, double x2, double y2, int colour) override;
    void paintPoint(double x, double y, int colour) override;
    void paintText(double x, double y, std::string_view text) override;
    double lineHeight() const override;

    QPainter* painter() const { return painter_; }
    void setUnitsPerPoint(double u) { unitsPerPoint_ = u; }
    // Logical units per device pixel for line widths; 0 (the default) draws
    // with cosmetic pens, whose width the painting device takes in its own
    // pixels.
    void setUnitsPerPixel(double u) { unitsPerPixel_ = u; }

private:
    void usePen(int colour);

    QPainter* painter_ = nullptr;
    double unitsPerPoint_ = 20;
    double unitsPerPixel_ = 0;
    bool monochrome_;
};

// The display picture's contents: an image of the picture's client area in
// screen pixels, drawn on in twips.  The surface keeps its drawing state
// (font, position) from one drawing to the next, as the picture does.
class PictureCanvas {
public:
    static constexpr int kTwipsPerPixel = 15;

    explicit PictureCanvas(QSize pixels);
    const QImage& image() const { return image_; }
    PainterSurface& surface() { return surface_; }

    // Paints on the image for as long as it lives.
    class Drawing {
    public:
        explicit Drawing(PictureCanvas& canvas);
        ~Drawing();
        Drawing(const Drawing&) = delete;
        Drawing& operator=(const Drawing&) = delete;
        DrawSurface& surface() { return canvas_.surface_; }

    private:
        PictureCanvas& canvas_;
        QPainter* painter_;
    };

    // Back to a white picture and the picture's own font.
    void reset();

private:
    QImage image_;
    PainterSurface surface_;
};

// The printer page: setScale() maps the printable area to the page units;
// endDocument() ends the painter, which sends the page.
class PrinterPageSurface : public PainterSurface {
public:
    PrinterPageSurface(QPrinter& printer, QPainter& painter);
    void setScale(double width, double height) override;
    void endDocument() override;

private:
    QPrinter& printer_;
    QPainter& pagePainter_;
};

} // namespace tarvik
