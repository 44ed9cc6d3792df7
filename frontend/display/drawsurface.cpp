#include "drawsurface.h"

#include <array>

namespace tarvik {

Rgb paletteColour(int index) {
    static constexpr std::array<Rgb, 16> kPalette{{
        {0, 0, 0},       {0, 0, 128},     {0, 128, 0},     {0, 128, 128},
        {128, 0, 0},     {128, 0, 128},   {128, 128, 0},   {192, 192, 192},
        {128, 128, 128}, {0, 0, 255},     {0, 255, 0},     {0, 255, 255},
        {255, 0, 0},     {255, 0, 255},   {255, 255, 0},   {255, 255, 255},
    }};
    if (index < 0 || index > 15) return kPalette[0];
    return kPalette[static_cast<std::size_t>(index)];
}

RecordingSurface::Op RecordingSurface::make(Kind kind, double x1, double y1, double x2, double y2,
                                            int colour) const {
    Op op;
    op.kind = kind;
    op.x1 = x1;
    op.y1 = y1;
    op.x2 = x2;
    op.y2 = y2;
    op.colour = colour;
    op.lineWidth = lineWidth();
    op.font = font();
    return op;
}

void RecordingSurface::setScale(double width, double height) {
    ops.push_back(make(Kind::SetScale, 0, 0, width, height, 0));
}
void RecordingSurface::endDocument() { ops.push_back(make(Kind::EndDocument, 0, 0, 0, 0, 0)); }
void RecordingSurface::paintClear() { ops.push_back(make(Kind::Clear, 0, 0, 0, 0, palette::White)); }
void RecordingSurface::paintFillRect(double x1, double y1, double x2, double y2, int colour) {
    ops.push_back(make(Kind::FillRect, x1, y1, x2, y2, colour));
}
void RecordingSurface::paintRectOutline(double x1, double y1, double x2, double y2, int colour) {
    ops.push_back(make(Kind::RectOutline, x1, y1, x2, y2, colour));
}
void RecordingSurface::paintLine(double x1, double y1, double x2, double y2, int colour) {
    ops.push_back(make(Kind::Line, x1, y1, x2, y2, colour));
}
void RecordingSurface::paintPoint(double x, double y, int colour) {
    ops.push_back(make(Kind::Point, x, y, x, y, colour));
}
void RecordingSurface::paintText(double x, double y, std::string_view text) {
    Op op = make(Kind::Text, x, y, x, y, textColour());
    op.text = std::string(text);
    ops.push_back(std::move(op));
}

} // namespace tarvik
