// What the display window does, without the window: which controls are
// enabled and shown, what the text boxes and read-outs hold, where the
// cursor lines stand, and what goes into the shared state and onto the
// picture after each of the user's actions.  The window (Form5) mirrors
// DisplayControls onto its widgets and shows the returned messages.
#pragma once

#include "appstate.h"
#include "drawsurface.h"
#include "graph.h"
#include "otherformat.h"
#include "texts.h"

#include <array>
#include <optional>
#include <string>

namespace tarvik {

struct DisplayControls {
    // Entry boxes and read-outs.
    std::string text1;  // cursor energy
    std::string text2;  // cursor count
    std::string text3;  // cursor channel
    std::string text4 = "0";    // lower end of the range, keV
    std::string text5 = "150";  // upper end of the range, keV
    std::string text6;          // keV per channel
    int colourOption = 2;       // selected Option1..Option6
    bool logScale = false;      // "対数目盛": the count axis in decades

    bool command1Enabled = true;   // "グラフの描画"
    bool command4Enabled = true;   // "再描画"
    bool command5Enabled = true;   // "印 刷"
    bool stepButtonsVisible = false;  // Command7 "←", Command8 "→"
    bool stepButtonsEnabled = false;
    bool readoutsVisible = false;     // Text1, Text2, Text3
    bool readoutLabelsVisible = false;  // Label6, Label7
    bool line5Visible = false;
    bool line6Visible = false;
    double line5X = 4800;  // picture twips
    double line6Y = 3480;
    bool crosshair = false;  // mouse pointer over the picture
};

struct DisplayMessage {
    enum class Kind { Warning, Plain };
    Kind kind;
    std::string text;
};

// The messages in Japanese; translate("DisplayLogic", ...) gives them in the
// front end's language.
namespace display_text {
inline constexpr const char* ClickAFile = TARVIK_TEXT("DisplayLogic", "目的のファイル名をクリックして下さい");
inline constexpr const char* CannotRead = TARVIK_TEXT("DisplayLogic", "  このファイルは読めません  ");
inline constexpr const char* PrinterReady = TARVIK_TEXT("DisplayLogic", "プリンターの準備はＯＫですか？");
inline constexpr const char* BadChannelWidth =
    TARVIK_TEXT("DisplayLogic", "エネルギー幅 / チャネル には 0 より大きい値を入力して下さい");
inline constexpr const char* BadChannelWidthInUse =
    TARVIK_TEXT("DisplayLogic", "エネルギー幅 / チャネル が 0 以下のため描画できません");
inline constexpr const char* NothingLoaded =
    TARVIK_TEXT("DisplayLogic", "表示するスペクトルがありません。\n「グラフの描画」でスペクトルを加えて下さい");
inline constexpr const char* EmptyRange =
    TARVIK_TEXT("DisplayLogic", "表示エネルギー範囲が正しくありません。\n下限と上限に異なる値を入力して下さい");
inline constexpr const char* RangeOutOfReach =
    TARVIK_TEXT("DisplayLogic", "表示エネルギー範囲が大きすぎます。\n正しい範囲を入力して下さい");
} // namespace display_text

// Pattern of the file list.
inline constexpr const char* kDisplayFilePattern = "*.mca;*.mca1;*.mca2;*.csv;*.csv1;*.csv2";

class DisplayLogic {
public:
    explicit DisplayLogic(AppState& state) : st_(state) {}

    DisplayControls& controls() { return c_; }
    const DisplayControls& controls() const { return c_; }
    AppState& state() { return st_; }

    // Back to the controls' defaults (the window's close box discards them).
    void resetControls() {
        c_ = DisplayControls{};
        axis_ = CountAxis{};
    }

    // Opening from the main menu.  Returns true on the first opening of the
    // run: the folder list is then pointed at the data folder.
    bool open(DrawSurface& picture);

    // A file clicked in the list: reads its header and writes it on the
    // picture.  A file that cannot be read ends the preview quietly.
    void preview(const std::string& folder, const std::string& file, DrawSurface& picture);

    // "グラフの描画": adds the selected file as the next spectrum and draws.
    std::optional<DisplayMessage> addSpectrum(const std::string& folder, const std::string& file,
                                              DrawSurface& picture);

    // "他の形式を開く…": a spectrum of another format, placed on the
    // display's channels by placeOtherFormat, added as the next spectrum
    // under `name` and drawn.  The box of the keV per channel shows the
    // width it is drawn with.
    std::optional<DisplayMessage> addOtherFormat(const std::string& name, const OtherFormatPlacement& placement,
                                                 DrawSurface& picture);
    // The live and real time of loaded spectrum `slot` (1..spectrumCount):
    // those of a file opened through "他の形式を開く…" that gives them, else
    // empty.
    struct Times {
        std::optional<double> liveTimeS, realTimeS;
    };
    const Times& times(int slot) const { return times_.at(static_cast<std::size_t>(slot)); }
    // The keV per channel of the spectra loaded; 0 when none is.
    double widthInUse() const { return st_.spectrumCount > 0 ? valueOr0(st_.kevPerChannel) : 0.0; }

    // "再描画" with the range of the boxes.
    std::optional<DisplayMessage> redraw(DrawSurface& picture);

    // "印 刷" after the user confirmed: takes the range of the boxes and
    // checks that a page can be drawn; the caller then prints.
    std::optional<DisplayMessage> preparePrint();

    // "クリア".
    void clear(DrawSurface& picture);

    // "対数目盛" checked or unchecked: loaded spectra are drawn again at
    // once (as "再描画" does, with the range of the boxes).
    std::optional<DisplayMessage> setLogScale(bool on, DrawSurface& picture);
    // Whether the graph as last drawn (the state's range) can be saved as a
    // picture or table: spectra loaded, a usable keV per channel and range.
    std::optional<DisplayMessage> checkExport() const { return checkDrawable(st_.energyMin, st_.energyMax); }

    // The count axis of the graph as last drawn (the page and the exported
    // picture use it too).
    const CountAxis& countAxis() const { return axis_; }
    // The count axis a drawing made now would take: linear, or the decades
    // the loaded spectra need over the state's range (the printed page).
    CountAxis axisForDrawing() const;

    // The mouse over the picture / pressed on it (picture twips).
    void mouseMove(double x, double y);
    void mouseDown(double x, double y);

    // "←" / "→".
    void stepDown();
    void stepUp();
    // Left or right arrow key; returns whether the cursor took it
    // (only while the cursor is active).
    bool arrowKey(bool right);

    // Path of a file in a folder, as dataFilePath holds it.
    static std::string joinPath(const std::string& folder, const std::string& file);

private:
    std::optional<DisplayMessage> checkDrawable(double energyMin, double energyMax) const;
    void showCursor(bool withUnit);
    void afterStep();
    // The controls after a spectrum was drawn: clear, print, the read-outs.
    void afterDrawn();

    AppState& st_;
    DisplayControls c_;
    CountAxis axis_;
    std::array<Times, kMaxSpectra + 1> times_{};
};

} // namespace tarvik
