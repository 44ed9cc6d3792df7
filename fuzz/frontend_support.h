// The front end's side of the fuzz targets: a drawing surface that draws
// nothing but refuses coordinates that are not finite, a user who answers
// Yes, and the display window's steps for one file.
#pragma once

#include "drawsurface.h"
#include "launcher.h"
#include "dialogs.h"

#include <filesystem>
#include <string>

namespace fuzzsupport {

class NullSurface : public tarvik::DrawSurface {
public:
    long operations = 0;

protected:
    void paintClear() override { ++operations; }
    void paintFillRect(double x1, double y1, double x2, double y2, int) override { check(x1, y1, x2, y2); }
    void paintRectOutline(double x1, double y1, double x2, double y2, int) override { check(x1, y1, x2, y2); }
    void paintLine(double x1, double y1, double x2, double y2, int) override { check(x1, y1, x2, y2); }
    void paintPoint(double x, double y, int) override { check(x, y, 0, 0); }
    void paintText(double x, double y, std::string_view) override { check(x, y, 0, 0); }

private:
    void check(double x1, double y1, double x2, double y2);
};

class YesPrompt : public tarvik::UserPrompt {
public:
    void tell(const tarvik::Notice& notice) override;
    bool askYesNo(const tarvik::Notice&) override { return true; }
};

// The display window with the file `file` of `folder`: a click on it, "グラフの
// 描画", a redraw, the cursor moved across the picture, clicked and stepped.
void exerciseDisplay(const std::string& folder, const std::string& file);

// The same file read straight by the display's readers and drawn on screen
// (linear and logarithmic count axis) and paper over 0..150 keV at 0.1 keV
// per channel.
void drawDirectly(const std::filesystem::path& file);

} // namespace fuzzsupport
