#include "displaylogic.h"

#include "cursor.h"
#include "graph.h"
#include "spectrumload.h"
#include "values.h"

#include <cmath>

namespace tarvik {

namespace {
// A message of display_text in the front end's language.
DisplayMessage warningMessage(const char* text) {
    return {DisplayMessage::Kind::Warning, translate("DisplayLogic", text)};
}
DisplayMessage plainMessage(const char* text) { return {DisplayMessage::Kind::Plain, translate("DisplayLogic", text)}; }
} // namespace

std::string DisplayLogic::joinPath(const std::string& folder, const std::string& file) {
    if (folder.empty()) return file;
    if (folder.back() == '/') return folder + file;
    return folder + "/" + file;
}

bool DisplayLogic::open(DrawSurface& picture) {
    st_.dataFilePath.clear();
    c_.text4 = std::string("0");
    c_.text5 = std::string("150");
    c_.colourOption = 2;
    picture.clear();
    c_.crosshair = false;
    bool first = st_.displayOpened == 0;
    st_.displayOpened = 1;
    c_.command4Enabled = false;
    c_.command5Enabled = false;
    st_.spectrumCount = 0;
    st_.cursorActive = 0;
    st_.trackingEnabled = 0;
    c_.line5Visible = c_.line6Visible = false;
    c_.readoutsVisible = false;
    c_.stepButtonsVisible = false;
    c_.readoutLabelsVisible = false;
    c_.stepButtonsEnabled = false;
    return first;
}

void DisplayLogic::preview(const std::string& folder, const std::string& file, DrawSurface& picture) {
    st_.dataFilePath = joinPath(folder, file);
    std::string annotation;
    try {
        annotation = readPreview(st_.dataFilePath, st_);
    } catch (const std::exception&) {
        return;  // the picture stays as it was
    }
    c_.text6 = formatPattern(valueOr0(st_.kevPerChannel), "0.000");

    picture.clear();
    picture.setFontName("ＭＳ ゴシック");
    picture.print("");
    picture.print(" " + st_.commentLine1);
    picture.print(" " + st_.commentLine2);
    picture.print("");
    // The voltage as a plain number with its leading and trailing blank.
    picture.print(
        withArgs(translate("DisplayLogic", " Ｘ線管電圧 = %1 [kV]"), {axisNumberText(valueOr0(st_.tubeVoltage))}));
    picture.print("");
    picture.print(" " + annotation);
    picture.setFontName("Times New Roman");

    c_.readoutsVisible = false;
    c_.stepButtonsVisible = false;
    c_.line5Visible = c_.line6Visible = false;
    st_.trackingEnabled = 1;
}

std::optional<DisplayMessage> DisplayLogic::addSpectrum(const std::string& folder, const std::string& file,
                                                        DrawSurface& picture) {
    std::optional<DisplayMessage> message;
    if (st_.dataFilePath.empty()) {
        message = plainMessage(display_text::ClickAFile);
    } else {
        if (st_.spectrumCount >= kMaxSpectra) return std::nullopt;  // the button is disabled then
        // A width of 0 or less would leave the first-channel and cursor
        // searches without an end; it is refused before anything changes.
        double k = leadingNumber(c_.text6);
        if (!(k > 0) || !std::isfinite(k))
            return warningMessage(display_text::BadChannelWidth);

        st_.kevPerChannel = k;
        st_.energyMin = leadingNumber(c_.text4);
        st_.energyMax = leadingNumber(c_.text5);
        const int n = ++st_.spectrumCount;
        const auto slot = static_cast<std::size_t>(n);
        st_.spectrumFile[slot] = file;
        times_[slot] = Times{};
        if (n == kMaxSpectra) c_.command1Enabled = false;
        st_.spectrumMax[slot] = 0;
        st_.dataFilePath = joinPath(folder, file);
        try {
            if (auto loaded = loadSpectrum(st_.dataFilePath)) {
                for (int ch = 1; ch <= kChannels; ++ch)
                    st_.spectrumCounts[slot][static_cast<std::size_t>(ch)] =
                        loaded->counts[static_cast<std::size_t>(ch)];
                st_.spectrumMax[slot] = loaded->max;
            }
            static constexpr int kOptionPalette[] = {palette::Black, palette::Blue, palette::Green,
                                                     palette::DarkCyan, palette::Red};
            st_.spectrumColour[slot] = c_.colourOption >= 1 && c_.colourOption <= 5
                                           ? kOptionPalette[c_.colourOption - 1]
                                           : palette::Magenta;
            axis_ = axisForDrawing();
            drawGraph(st_, picture, axis_);
        } catch (const std::exception&) {
            --st_.spectrumCount;
            c_.command1Enabled = true;
            return warningMessage(display_text::CannotRead);
        }
    }
    afterDrawn();
    return message;
}

std::optional<DisplayMessage> DisplayLogic::addOtherFormat(const std::string& name,
                                                           const OtherFormatPlacement& placement,
                                                           DrawSurface& picture) {
    if (st_.spectrumCount >= kMaxSpectra) return std::nullopt;  // the button is disabled then
    c_.text6 = widthText(placement.kevPerChannel);
    st_.kevPerChannel = placement.kevPerChannel;
    st_.energyMin = leadingNumber(c_.text4);
    st_.energyMax = leadingNumber(c_.text5);
    const int n = ++st_.spectrumCount;
    const auto slot = static_cast<std::size_t>(n);
    st_.spectrumFile[slot] = name;
    times_[slot] = Times{placement.liveTimeS, placement.realTimeS};
    if (n == kMaxSpectra) c_.command1Enabled = false;
    double max = 0;
    for (int ch = 1; ch <= kChannels; ++ch) {
        const auto k = static_cast<std::size_t>(ch - 1);
        const double count = k < placement.counts.size() ? placement.counts[k] : 0.0;
        st_.spectrumCounts[slot][static_cast<std::size_t>(ch)] = count;
        if (count >= max) max = count;
    }
    st_.spectrumMax[slot] = max;
    static constexpr int kOptionPalette[] = {palette::Black, palette::Blue, palette::Green, palette::DarkCyan,
                                             palette::Red};
    st_.spectrumColour[slot] =
        c_.colourOption >= 1 && c_.colourOption <= 5 ? kOptionPalette[c_.colourOption - 1] : palette::Magenta;
    try {
        axis_ = axisForDrawing();
        drawGraph(st_, picture, axis_);
    } catch (const std::exception&) {
        --st_.spectrumCount;
        c_.command1Enabled = true;
        return warningMessage(display_text::CannotRead);
    }
    afterDrawn();
    return std::nullopt;
}

std::optional<DisplayMessage> DisplayLogic::checkDrawable(double energyMin, double energyMax) const {
    if (st_.spectrumCount < 1)
        return warningMessage(display_text::NothingLoaded);
    double k = valueOr0(st_.kevPerChannel);
    if (!(k > 0) || !std::isfinite(k))
        return warningMessage(display_text::BadChannelWidthInUse);
    try {
        checkRange(energyMin, energyMax);
    } catch (const GraphError& e) {
        return warningMessage(e.reason() == GraphError::Reason::EmptyRange ? display_text::EmptyRange
                                                                           : display_text::RangeOutOfReach);
    }
    return std::nullopt;
}

std::optional<DisplayMessage> DisplayLogic::redraw(DrawSurface& picture) {
    double lo = leadingNumber(c_.text4), hi = leadingNumber(c_.text5);
    if (auto m = checkDrawable(lo, hi)) return m;
    st_.energyMin = lo;
    st_.energyMax = hi;
    try {
        axis_ = axisForDrawing();
        drawGraph(st_, picture, axis_);
    } catch (const GraphError&) {
        // Every loaded slot has a count above 0 and the range was checked,
        // so this is not expected; say so rather than leave a broken graph.
        return warningMessage(display_text::CannotRead);
    }
    c_.command5Enabled = true;
    c_.stepButtonsEnabled = false;
    c_.line5Visible = c_.line6Visible = false;
    st_.trackingEnabled = 1;
    st_.cursorActive = 0;
    return std::nullopt;
}

std::optional<DisplayMessage> DisplayLogic::preparePrint() {
    double lo = leadingNumber(c_.text4), hi = leadingNumber(c_.text5);
    if (auto m = checkDrawable(lo, hi)) return m;
    st_.energyMin = lo;
    st_.energyMax = hi;
    return std::nullopt;
}

CountAxis DisplayLogic::axisForDrawing() const { return c_.logScale ? logCountAxis(st_) : CountAxis{}; }

std::optional<DisplayMessage> DisplayLogic::setLogScale(bool on, DrawSurface& picture) {
    if (c_.logScale == on) return std::nullopt;
    c_.logScale = on;
    if (st_.spectrumCount < 1) return std::nullopt;
    return redraw(picture);
}

void DisplayLogic::clear(DrawSurface& picture) {
    st_.spectrumCount = 0;
    st_.trackingEnabled = 0;
    c_.text4 = std::string("0");
    c_.text5 = std::string("150");
    c_.text6.clear();
    picture.clear();
    c_.crosshair = false;
    c_.command1Enabled = true;
    c_.command4Enabled = false;
    c_.command5Enabled = false;
    c_.readoutsVisible = false;
    c_.stepButtonsVisible = false;
    c_.stepButtonsEnabled = false;
    c_.line5Visible = c_.line6Visible = false;
    c_.readoutLabelsVisible = false;
    st_.cursorActive = 0;
}

void DisplayLogic::showCursor(bool withUnit) {
    CursorReadout r = cursorReadout(st_, withUnit, axis_);
    c_.text3 = r.channelText;
    c_.text1 = r.energyText;
    c_.text2 = r.countText;
    c_.line5Visible = r.line5X.has_value();
    if (r.line5X) c_.line5X = *r.line5X;
    c_.line6Visible = r.line6Y.has_value();
    if (r.line6Y) c_.line6Y = *r.line6Y;
    c_.readoutsVisible = true;
    st_.cursorActive = 1;
}

void DisplayLogic::mouseMove(double x, double y) {
    if (st_.trackingEnabled != 1) return;
    if (x < plot::Left || x > plot::Right) {
        c_.crosshair = false;
        c_.line5Visible = c_.line6Visible = false;
        return;
    }
    c_.crosshair = y >= plot::Top && y <= plot::Bottom;
    st_.cursorChannel = channelUnderMouse(st_, x);
    showCursor(true);
}

void DisplayLogic::mouseDown(double x, double /*y*/) {
    if (st_.trackingEnabled != 1 || x < plot::Left || x > plot::Right) return;
    st_.cursorChannel = channelUnderMouse(st_, x);
    showCursor(false);
    c_.stepButtonsEnabled = true;
}

void DisplayLogic::afterDrawn()
{
    c_.command4Enabled = true;
    c_.command5Enabled = true;
    c_.readoutsVisible = true;
    c_.line5Visible = c_.line6Visible = false;
    c_.readoutLabelsVisible = true;
    c_.stepButtonsVisible = true;
    c_.stepButtonsEnabled = false;
    st_.cursorActive = 0;
}

void DisplayLogic::afterStep() {
    CursorReadout r = cursorReadout(st_, true, axis_);
    c_.text3 = r.channelText;
    c_.text1 = r.energyText;
    c_.text2 = r.countText;
    if (r.line5X) c_.line5X = *r.line5X;
    if (r.line6Y) c_.line6Y = *r.line6Y;
}

void DisplayLogic::stepDown() {
    if (stepCursorDown(st_)) afterStep();
}

void DisplayLogic::stepUp() {
    if (stepCursorUp(st_)) afterStep();
}

bool DisplayLogic::arrowKey(bool right) {
    if (st_.cursorActive != 1) return false;
    if (right)
        stepUp();
    else
        stepDown();
    return true;
}

} // namespace tarvik
