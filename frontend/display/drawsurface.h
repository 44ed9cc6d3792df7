// The drawing surface that the graph is drawn on: the display picture on
// screen, a printer page, or a recorder that keeps the operations.
//
// Like a picture control, the surface keeps a drawing state between calls:
// line width, font (name, size in points, italic), text colour and one
// current position.  Lines end with the position at their end point, a point
// moves it, and a text line is written with its top-left corner at the
// position and leaves the position at the start of the next line.
// Coordinates are logical units (twips on screen; on paper the page's own
// scale).  Colours are palette indices 0..15.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarvik {

struct Rgb {
    std::uint8_t r = 0, g = 0, b = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

// The 16-entry colour palette (black, dark blue, dark green, dark cyan, ...,
// white).  Indices outside 0..15 give black.
Rgb paletteColour(int index);

// Palette indices the display uses.
namespace palette {
inline constexpr int Black = 0;
inline constexpr int DarkCyan = 3;
inline constexpr int LightGrey = 7;
inline constexpr int Grey = 8;
inline constexpr int Blue = 9;
inline constexpr int Green = 10;
inline constexpr int Red = 12;
inline constexpr int Magenta = 13;
inline constexpr int White = 15;
} // namespace palette

struct FontStyle {
    std::string name = "Times New Roman";
    double size = 12.0;  // points
    bool italic = false;
    friend bool operator==(const FontStyle&, const FontStyle&) = default;
};

class DrawSurface {
public:
    virtual ~DrawSurface() = default;

    // ---- drawing state ----
    void setLineWidth(int pixels) { lineWidth_ = pixels < 1 ? 1 : pixels; }
    int lineWidth() const { return lineWidth_; }
    void setFontName(std::string_view name) { font_.name = std::string(name); }
    void setFontSize(double points) { font_.size = points; }
    void setItalic(bool on) { font_.italic = on; }
    const FontStyle& font() const { return font_; }
    void setTextColour(int paletteIndex) { textColour_ = paletteIndex; }
    int textColour() const { return textColour_; }
    void setPosition(double x, double y) { x_ = x; y_ = y; }
    double currentX() const { return x_; }
    double currentY() const { return y_; }

    // ---- page (paper only; the screen ignores them) ----
    // Maps the drawing area of the page to width × height units.
    virtual void setScale(double width, double height) { (void)width; (void)height; }
    // Ends the document: the page goes to the printer.
    virtual void endDocument() {}

    // ---- drawing ----
    // The whole surface to white; the position back to the top-left corner.
    void clear() { paintClear(); x_ = 0; y_ = 0; }
    void fillRect(double x1, double y1, double x2, double y2, int colour) {
        paintFillRect(x1, y1, x2, y2, colour);
        x_ = x2; y_ = y2;
    }
    void rectOutline(double x1, double y1, double x2, double y2, int colour) {
        paintRectOutline(x1, y1, x2, y2, colour);
        x_ = x2; y_ = y2;
    }
    void line(double x1, double y1, double x2, double y2, int colour) {
        paintLine(x1, y1, x2, y2, colour);
        x_ = x2; y_ = y2;
    }
    // A line from the current position.
    void lineTo(double x, double y, int colour) {
        paintLine(x_, y_, x, y, colour);
        x_ = x; y_ = y;
    }
    void setPoint(double x, double y, int colour) {
        paintPoint(x, y, colour);
        x_ = x; y_ = y;
    }
    // One text line at the current position (top-left corner of the text).
    void print(std::string_view text) {
        paintText(x_, y_, text);
        x_ = 0;
        y_ += lineHeight();
    }

protected:
    virtual void paintClear() = 0;
    virtual void paintFillRect(double x1, double y1, double x2, double y2, int colour) = 0;
    virtual void paintRectOutline(double x1, double y1, double x2, double y2, int colour) = 0;
    virtual void paintLine(double x1, double y1, double x2, double y2, int colour) = 0;
    virtual void paintPoint(double x, double y, int colour) = 0;
    // Uses font() and textColour().
    virtual void paintText(double x, double y, std::string_view text) = 0;
    // Height of one text line in the current font, logical units.  The
    // default takes 20 units per point (twips) and the usual line spacing.
    virtual double lineHeight() const { return font_.size * 20.0 * 1.15; }

private:
    int lineWidth_ = 1;
    FontStyle font_;
    int textColour_ = palette::Black;
    double x_ = 0, y_ = 0;
};

// Keeps every operation with the state it was drawn in; for tests and for
// looking at what a drawing does without a screen.
class RecordingSurface : public DrawSurface {
public:
    enum class Kind { Clear, FillRect, RectOutline, Line, Point, Text, SetScale, EndDocument };
    struct Op {
        Kind kind = Kind::Clear;
        double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
        int colour = 0;      // line colour, or text colour for Text
        int lineWidth = 1;
        std::string text;
        FontStyle font;
    };

    std::vector<Op> ops;

    void setScale(double width, double height) override;
    void endDocument() override;

protected:
    void paintClear() override;
    void paintFillRect(double x1, double y1, double x2, double y2, int colour) override;
    void paintRectOutline(double x1, double y1, double x2, double y2, int colour) override;
    void paintLine(double x1, double y1, double x2, double y2, int colour) override;
    void paintPoint(double x, double y, int colour) override;
    void paintText(double x, double y, std::string_view text) override;

private:
    Op make(Kind kind, double x1, double y1, double x2, double y2, int colour) const;
};

} // namespace tarvik
