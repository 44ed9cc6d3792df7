#include "form5.h"

#include "displaylogic.h"
#include "export.h"
#include "graph.h"
#include "graphexport.h"
#include "graphprint.h"
#include "paintersurface.h"

#ifdef TARVIK_HAVE_FILECHOOSER
#include "filechooser.h"
#endif
#ifdef TARVIK_HAVE_QUALITY
#include "qualityreport.h"

#include <QClipboard>
#include <QDialog>
#include <QGuiApplication>
#include <QHeaderView>
#include <QTableWidget>

#include <algorithm>
#include <cctype>
#endif

#include <QApplication>
#include <QAction>
#include <QBoxLayout>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QGroupBox>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>

#include "formats/spectrum.h"
#include "values.h"

#include <array>
#include <cmath>
#include <filesystem>

using namespace tarvik;

namespace {

constexpr int kTwips = PictureCanvas::kTwipsPerPixel;

int px(double twips) { return static_cast<int>(std::lround(twips / kTwips)); }
QRect tw(double left, double top, double width, double height) {
    return QRect(px(left), px(top), px(width), px(height));
}

// Fonts sized in screen pixels (96 per inch), so that text fits the fixed
// control rectangles whatever the display's resolution.
QFont fontOf(const char* family, double points, bool bold = false) {
    QFont f(QString::fromUtf8(family));
    f.setPixelSize(static_cast<int>(std::lround(points * 96.0 / 72.0)));
    f.setBold(bold);
    return f;
}
const char* const kMeiryo = "メイリオ";
const char* const kGothic = "ＭＳ ゴシック";
const char* const kTimes = "Times New Roman";
const char* const kCentury = "Century";

template <class W>
W* named(W* w, const char* name) {
    w->setObjectName(QString::fromLatin1(name));
    return w;
}

// A straight line control (Line1 ... Line6): a thin widget of one colour
// that lets the mouse through to what lies below it.
class LineShape : public QWidget {
public:
    LineShape(QWidget* parent, const char* name, QColor colour) : QWidget(parent), colour_(colour) {
        setObjectName(QString::fromLatin1(name));
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), colour_);
    }

private:
    QColor colour_;
};

// Picture1: a sunken panel that shows the canvas image in its client area
// and reports the mouse in picture twips.
class PictureBox : public QFrame {
public:
    explicit PictureBox(QWidget* parent) : QFrame(parent) {
        setObjectName(QStringLiteral("Picture1"));
        setFrameStyle(QFrame::Panel | QFrame::Sunken);
        setLineWidth(2);
        setMouseTracking(true);
        setAutoFillBackground(false);
    }
    void setCanvas(PictureCanvas* c) { canvas_ = c; }
    QPoint clientOrigin() const { return contentsRect().topLeft(); }

    std::function<void(double, double)> onMove;
    std::function<void(double, double)> onPress;

protected:
    void paintEvent(QPaintEvent* e) override {
        {
            QPainter p(this);
            if (canvas_) p.drawImage(clientOrigin(), canvas_->image());
        }
        QFrame::paintEvent(e);
    }
    void mouseMoveEvent(QMouseEvent* e) override {
        QPointF t = twipsOf(e->position());
        if (onMove) onMove(t.x(), t.y());
    }
    void mousePressEvent(QMouseEvent* e) override {
        QPointF t = twipsOf(e->position());
        if (onPress) onPress(t.x(), t.y());
    }

private:
    QPointF twipsOf(QPointF pos) const {
        QPointF c = pos - QPointF(clientOrigin());
        return QPointF(std::floor(c.x()) * kTwips, std::floor(c.y()) * kTwips);
    }
    PictureCanvas* canvas_ = nullptr;
};

// A message of display_text in the front end's language.
QString displayText(const char* text) { return QString::fromStdString(translate("DisplayLogic", text)); }

enum class Box { Warning, Plain };

void showBox(QWidget* parent, Box kind, const QString& text) {
    QMessageBox box(kind == Box::Warning ? QMessageBox::Warning : QMessageBox::NoIcon,
                    QStringLiteral("Tarvik_CdTe"), text, QMessageBox::Ok, parent);
    box.exec();
}

bool confirm(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Tarvik_CdTe"), text,
                    QMessageBox::Ok | QMessageBox::Cancel, parent);
    box.setDefaultButton(QMessageBox::Ok);
    return box.exec() == QMessageBox::Ok;
}

} // namespace

struct Form5::Impl {
    Impl(Form5& w, AppState& st, QWidget* menu, std::function<void()> ext)
        : self(w), state(st), logic(st), mainMenu(menu), showExtensions(std::move(ext)) {}

    Form5& self;
    AppState& state;
    DisplayLogic logic;
    QWidget* mainMenu;
    std::function<void()> showExtensions;

#ifdef TARVIK_HAVE_FILECHOOSER
    FileChooser* chooser = nullptr;
#endif
    PictureBox* picture = nullptr;
    std::unique_ptr<PictureCanvas> canvas;
    QLineEdit *text1 = nullptr, *text2 = nullptr, *text3 = nullptr;
    QLineEdit *text4 = nullptr, *text5 = nullptr, *text6 = nullptr;
    std::array<QRadioButton*, 6> options{};
    QPushButton *command1 = nullptr, *command2 = nullptr, *command3 = nullptr, *command4 = nullptr,
                *command5 = nullptr, *command6 = nullptr, *command7 = nullptr, *command8 = nullptr;
    LineShape *line5 = nullptr, *line6 = nullptr;
    QLabel *label6 = nullptr, *label7 = nullptr;
    // Below the picture's left end: the count axis, saving, beam quality.
    QCheckBox* logScale = nullptr;
    QPushButton* saveButton = nullptr;
    QPushButton* qualityButton = nullptr;
    QPushButton* otherButton = nullptr;
    Form5::SaveFileChooser chooseSaveFile;
    Form5::OpenFileChooser chooseOpenFile;
    Form5::ItemChooser chooseItem;
#ifdef TARVIK_HAVE_QUALITY
    QDialog* qualityWindow = nullptr;
    QTableWidget* qualityTable = nullptr;
    QLabel* qualityMark = nullptr;  // the note under the table for a ".csv"
    std::vector<QualityColumn> qualityColumnsShown;
    void showQuality();
    void fillQualityTable();
    void saveQuality();
#endif

    void build();
    void sync();
    void show(const std::optional<DisplayMessage>& m);
    std::string folder() const;
    std::string selectedFile() const;

    void opening();
    void previewFile(const QString& name);
    void addSpectrum();
    void redraw();
    void print();
    void clearAll();
    void backToMenu();
    void setLogScale(bool on);
    void saveGraph();
    void saveSpectra();
    void openOtherFormat();
};

namespace {

// The file dialog: the extension of the chosen filter is added to a name
// typed without one.
QString askSaveFileName(QWidget* parent, const QString& caption, const QString& suggested, const QString& filters) {
    QString selected;
    QString path = QFileDialog::getSaveFileName(parent, caption, QDir::current().filePath(suggested), filters,
                                                &selected);
    if (path.isEmpty() || !QFileInfo(path).suffix().isEmpty()) return path;
    const qsizetype star = selected.indexOf(QStringLiteral("*."));
    if (star >= 0) path += selected.mid(star + 1, selected.indexOf(QLatin1Char(')'), star) - star - 1);
    return path;
}

} // namespace

std::string Form5::Impl::folder() const {
#ifdef TARVIK_HAVE_FILECHOOSER
    return chooser->folder().toStdString();
#else
    return QDir::currentPath().toStdString();
#endif
}

std::string Form5::Impl::selectedFile() const {
#ifdef TARVIK_HAVE_FILECHOOSER
    return chooser->selectedFile().toStdString();
#else
    return {};
#endif
}

void Form5::Impl::build() {
    Form5* w = &self;
    w->setObjectName(QStringLiteral("Form5"));
    w->setWindowTitle(Form5::tr("Ｘ線スペクトル表示"));
    w->setFixedSize(px(14190), px(9165));
    w->setFocusPolicy(Qt::ClickFocus);

    const QFont buttonFont = fontOf(kMeiryo, 11.25);
    const QFont smallFont = fontOf(kMeiryo, 9.75);
    const QFont gothic = fontOf(kGothic, 9.75);
    const QFont times = fontOf(kTimes, 12);

    auto* label1 = named(new QLabel(Form5::tr("スペクトルデータファイル"), w), "Label1");
    label1->setFont(buttonFont);
    label1->setStyleSheet(QStringLiteral("color: #0000ff;"));
    label1->setGeometry(tw(360, 0, 2715, 345));

#ifdef TARVIK_HAVE_FILECHOOSER
    chooser = new FileChooser(QString::fromLatin1(kDisplayFilePattern), w);
    chooser->setObjectName(QStringLiteral("FileChooser"));
    chooser->setFont(smallFont);
    // Drive1 from y 360, Dir1 and File1 in the proportions of their heights
    // (930 and 2625), File1 ending at y 4305.
    chooser->setGeometry(tw(120, 360, 3735, 1680 + 2625 - 360));
    if (auto* box = qobject_cast<QBoxLayout*>(chooser->layout())) {
        box->setStretchFactor(chooser->folderList(), 930);
        box->setStretchFactor(chooser->fileList(), 2625);
    }
    QObject::connect(chooser, &FileChooser::fileClicked, w, [this](const QString& name) { previewFile(name); });
#endif

    command6 = named(new QPushButton(Form5::tr("拡張子について"), w), "Command6");
    command6->setFont(smallFont);
    command6->setGeometry(tw(2040, 4320, 1815, 375));

    // Spectra of other formats through a file dialog of their own (the file
    // list keeps its patterns): left of Command6, under the file list.
    otherButton = named(new QPushButton(Form5::tr("他の形式を開く…", "the button, 124 pixels wide"), w), "OpenOtherFormat");
    otherButton->setFont(smallFont);
    otherButton->setAutoDefault(false);
    otherButton->setToolTip(
        Form5::tr("分析器のスペクトル (.mca・.Spe・.Chn・N42 XML・テキストの列) を開いて描画します"));
    otherButton->setGeometry(tw(120, 4320, 1860, 375));
    QObject::connect(otherButton, &QPushButton::clicked, w, [this] { openOtherFormat(); });

    auto* label5 = named(new QLabel(Form5::tr("エネルギー幅 / チャネル"), w), "Label5");
    label5->setFont(smallFont);
    label5->setGeometry(tw(480, 4800, 2160, 300));
    text6 = named(new QLineEdit(w), "Text6");
    text6->setFont(times);
    text6->setAlignment(Qt::AlignCenter);
    text6->setGeometry(tw(1800, 5160, 975, 420));
    auto* label9 = named(new QLabel(QStringLiteral("keV"), w), "Label9");
    label9->setFont(fontOf(kCentury, 9.75));
    label9->setGeometry(tw(3120, 5280, 345, 240));

    auto* frame = named(new QGroupBox(Form5::tr("描画色"), w), "Frame1");
    frame->setFont(smallFont);
    frame->setGeometry(tw(600, 5880, 2775, 1095));
    struct OptionInfo {
        const char* name;
        const char* caption;
        const char* colour;
        double left, top;
    };
    const OptionInfo optionInfos[6] = {
        {"Option1", QT_TRANSLATE_NOOP("Form5", " 黒"), "#000000", 360, 240},
        {"Option2", QT_TRANSLATE_NOOP("Form5", " 青"), "#0000ff", 360, 480},
        {"Option3", QT_TRANSLATE_NOOP("Form5", " 緑"), "#00a000", 360, 720},
        {"Option4", QT_TRANSLATE_NOOP("Form5", "暗シアン"), "#008080", 1440, 240},
        {"Option5", QT_TRANSLATE_NOOP("Form5", "  赤"), "#ff0000", 1440, 480},
        {"Option6", QT_TRANSLATE_NOOP("Form5", "マゼンタ"), "#ff00ff", 1440, 720},
    };
    for (int i = 0; i < 6; ++i) {
        auto* o = named(new QRadioButton(Form5::tr(optionInfos[i].caption), frame), optionInfos[i].name);
        o->setFont(gothic);
        o->setStyleSheet(QStringLiteral("color: %1;").arg(QString::fromLatin1(optionInfos[i].colour)));
        o->setGeometry(tw(optionInfos[i].left, optionInfos[i].top + 30, 1250, 255));
        QObject::connect(o, &QRadioButton::toggled, w, [this, i](bool on) {
            if (on) logic.controls().colourOption = i + 1;
        });
        options[static_cast<std::size_t>(i)] = o;
    }

    auto makeButton = [&](const char* name, const QString& caption, QRect geometry, const QString& tip) {
        auto* b = named(new QPushButton(caption, w), name);
        b->setFont(buttonFont);
        b->setGeometry(geometry);
        b->setAutoDefault(false);
        if (!tip.isEmpty()) b->setToolTip(tip);
        return b;
    };
    command1 = makeButton("Command1", Form5::tr("グラフの描画"), tw(600, 7080, 2775, 495), QString());
    command2 = makeButton("Command2", Form5::tr("クリア"), tw(600, 7680, 2775, 495),
                          Form5::tr("現在表示されているスペクトルデータを全てクリアします"));
    command3 = makeButton("Command3", Form5::tr("終　了"), tw(600, 8280, 2775, 495), Form5::tr("MENUへ戻ります"));

    // A sunken-looking border around the colour frame and the three buttons.
    const QColor grey(128, 128, 128), white(255, 255, 255);
    (new LineShape(w, "Line1", grey))->setGeometry(px(240), px(5760), px(3720 - 240), 1);
    (new LineShape(w, "Line2", grey))->setGeometry(px(240), px(5760), 1, px(8880 - 5760));
    (new LineShape(w, "Line3", white))->setGeometry(px(240), px(8880), px(3720 - 240) + 1, 1);
    (new LineShape(w, "Line4", white))->setGeometry(px(3720), px(5760), 1, px(8880 - 5760));

    picture = new PictureBox(w);
    picture->setFont(times);
    picture->setGeometry(tw(3960, 360, 10000, 7635));
    canvas = std::make_unique<PictureCanvas>(picture->contentsRect().size());
    picture->setCanvas(canvas.get());
    const QPoint origin = picture->clientOrigin();
    auto inPicture = [&](double l, double t, double wd, double h) { return tw(l, t, wd, h).translated(origin); };

    auto readout = [&](const char* name, double left) {
        auto* t = named(new QLineEdit(picture), name);
        t->setFont(gothic);
        t->setAlignment(Qt::AlignCenter);
        t->setReadOnly(true);
        t->setFocusPolicy(Qt::NoFocus);
        t->setTextMargins(0, 0, 0, 0);
        t->setStyleSheet(QStringLiteral("QLineEdit { padding: 0px; border: 1px solid #808080; background: white; }"));
        t->setGeometry(inPicture(left, 7320, 1095, 270));
        return t;
    };
    text3 = readout("Text3", 1200);
    text1 = readout("Text1", 2400);
    text2 = readout("Text2", 3600);
    auto arrow = [&](const char* name, const char* caption, double left) {
        auto* b = named(new QPushButton(QString::fromUtf8(caption), picture), name);
        b->setFont(fontOf(kMeiryo, 9, true));
        b->setGeometry(inPicture(left, 7300, 495, 300));
        b->setAutoDefault(false);
        b->setFocusPolicy(Qt::NoFocus);
        return b;
    };
    command7 = arrow("Command7", "←", 5400);
    command8 = arrow("Command8", "→", 5880);
    line5 = new LineShape(picture, "Line5", QColor(255, 0, 0));
    line6 = new LineShape(picture, "Line6", QColor(255, 0, 0));

    label7 = named(new QLabel(Form5::tr("チャネル　 エネルギー  　カウント"), w), "Label7");
    label7->setFont(smallFont);
    label7->setGeometry(tw(5400, 8040, 3105, 300));
    label6 = named(new QLabel(Form5::tr("矢印キーでも可"), w), "Label6");
    label6->setFont(smallFont);
    label6->setGeometry(tw(9120, 7995, 1365, 300));

    auto* label2 = named(new QLabel(Form5::tr("表示エネルギー範囲"), w), "Label2");
    label2->setFont(buttonFont);
    label2->setGeometry(tw(5160, 8520, 2055, 345));
    text4 = named(new QLineEdit(w), "Text4");
    text4->setFont(times);
    text4->setAlignment(Qt::AlignCenter);
    text4->setGeometry(tw(7440, 8520, 735, 345));
    auto* label3 = named(new QLabel(Form5::tr("～"), w), "Label3");
    label3->setFont(smallFont);
    label3->setGeometry(tw(8400, 8520, 255, 225));
    text5 = named(new QLineEdit(w), "Text5");
    text5->setFont(times);
    text5->setAlignment(Qt::AlignCenter);
    text5->setGeometry(tw(8760, 8520, 735, 345));
    auto* label4 = named(new QLabel(QStringLiteral("keV"), w), "Label4");
    label4->setFont(times);
    label4->setGeometry(tw(9720, 8520, 405, 285));
    for (QLineEdit* t : {text4, text5, text6}) t->setTextMargins(0, 0, 0, 0);

    // The count axis, saving and beam quality stand in a column under the
    // picture's left end, clear of the range boxes and the read-out labels.
    logScale = named(new QCheckBox(Form5::tr("対数目盛"), w), "LogScale");
    logScale->setFont(smallFont);
    logScale->setToolTip(Form5::tr("カウント軸を対数目盛で表示します"));
    logScale->setGeometry(tw(3990, 8040, 1140, 300));
    saveButton = named(new QPushButton(Form5::tr("保 存"), w), "SaveButton");
    saveButton->setFont(smallFont);
    saveButton->setAutoDefault(false);
    saveButton->setToolTip(Form5::tr("グラフを画像 (PNG / SVG / PDF) に、スペクトルを CSV に保存します"));
    saveButton->setGeometry(tw(3990, 8370, 1140, 330));
    auto* saveMenu = new QMenu(saveButton);
    saveMenu->setFont(smallFont);
    QAction* saveGraphAction = saveMenu->addAction(Form5::tr("グラフを画像で保存 (PNG / SVG / PDF)…"));
    saveGraphAction->setObjectName(QStringLiteral("SaveGraph"));
    QAction* saveCsvAction = saveMenu->addAction(Form5::tr("スペクトルを CSV で保存…"));
    saveCsvAction->setObjectName(QStringLiteral("SaveSpectra"));
    saveButton->setMenu(saveMenu);
#ifdef TARVIK_HAVE_QUALITY
    qualityButton = named(new QPushButton(Form5::tr("線質評価", "the button, 76 pixels wide"), w), "QualityButton");
    qualityButton->setFont(smallFont);
    qualityButton->setAutoDefault(false);
    qualityButton->setToolTip(
        Form5::tr("表示中のスペクトルの半価層・実効エネルギーなどを不確かさ付きで表示します"));
    qualityButton->setGeometry(tw(3990, 8730, 1140, 330));
    QObject::connect(qualityButton, &QPushButton::clicked, w, [this] { showQuality(); });
#endif
    QObject::connect(logScale, &QCheckBox::toggled, w, [this](bool on) { setLogScale(on); });
    QObject::connect(saveGraphAction, &QAction::triggered, w, [this] { saveGraph(); });
    QObject::connect(saveCsvAction, &QAction::triggered, w, [this] { saveSpectra(); });

    command4 = makeButton("Command4", Form5::tr("再描画"), tw(10800, 8280, 1215, 615), QString());
    command5 = makeButton("Command5", Form5::tr("印 刷"), tw(12600, 8280, 975, 615), Form5::tr("モノクロ印刷"));

    // Text typed into the boxes goes to the window's logic as it is typed.
    QObject::connect(text4, &QLineEdit::textEdited, w, [this](const QString& s) { logic.controls().text4 = s.toStdString(); });
    QObject::connect(text5, &QLineEdit::textEdited, w, [this](const QString& s) { logic.controls().text5 = s.toStdString(); });
    QObject::connect(text6, &QLineEdit::textEdited, w, [this](const QString& s) { logic.controls().text6 = s.toStdString(); });

    QObject::connect(command1, &QPushButton::clicked, w, [this] { addSpectrum(); });
    QObject::connect(command2, &QPushButton::clicked, w, [this] { clearAll(); });
    QObject::connect(command3, &QPushButton::clicked, w, [this] { backToMenu(); });
    QObject::connect(command4, &QPushButton::clicked, w, [this] { redraw(); });
    QObject::connect(command5, &QPushButton::clicked, w, [this] { print(); });
    QObject::connect(command6, &QPushButton::clicked, w, [this] {
        if (showExtensions) showExtensions();
    });
    QObject::connect(command7, &QPushButton::clicked, w, [this] {
        logic.stepDown();
        sync();
    });
    QObject::connect(command8, &QPushButton::clicked, w, [this] {
        logic.stepUp();
        sync();
    });
    picture->onMove = [this](double x, double y) {
        logic.mouseMove(x, y);
        sync();
    };
    picture->onPress = [this](double x, double y) {
        logic.mouseDown(x, y);
        sync();
        self.setFocus(Qt::MouseFocusReason);  // so that the arrow keys reach the window
    };
    sync();
}

void Form5::Impl::sync() {
    const DisplayControls& c = logic.controls();
    auto setText = [](QLineEdit* t, const std::string& s) {
        QString q = QString::fromStdString(s);
        if (t->text() != q) t->setText(q);
    };
    setText(text1, c.text1);
    setText(text2, c.text2);
    setText(text3, c.text3);
    setText(text4, c.text4);
    setText(text5, c.text5);
    setText(text6, c.text6);
    if (c.colourOption >= 1 && c.colourOption <= 6) {
        QRadioButton* o = options[static_cast<std::size_t>(c.colourOption - 1)];
        if (!o->isChecked()) o->setChecked(true);
    }
    if (logScale->isChecked() != c.logScale) {
        const QSignalBlocker quiet(logScale);
        logScale->setChecked(c.logScale);
    }
    saveButton->setEnabled(state.spectrumCount >= 1);
    if (qualityButton) qualityButton->setEnabled(state.spectrumCount >= 1);
    command1->setEnabled(c.command1Enabled);
    otherButton->setEnabled(c.command1Enabled);
    command4->setEnabled(c.command4Enabled);
    command5->setEnabled(c.command5Enabled);
    for (QPushButton* b : {command7, command8}) {
        b->setVisible(c.stepButtonsVisible);
        b->setEnabled(c.stepButtonsEnabled);
    }
    for (QLineEdit* t : {text1, text2, text3}) t->setVisible(c.readoutsVisible);
    label6->setVisible(c.readoutLabelsVisible);
    label7->setVisible(c.readoutLabelsVisible);

    const QPoint origin = picture->clientOrigin();
    line5->setGeometry(QRect(origin.x() + static_cast<int>(std::floor(c.line5X / kTwips)), origin.y() + px(plot::Top), 1,
                             px(plot::Height) + 1));
    line6->setGeometry(QRect(origin.x() + px(plot::Left), origin.y() + static_cast<int>(std::floor(c.line6Y / kTwips)),
                             px(plot::Width) + 1, 1));
    line5->setVisible(c.line5Visible);
    line6->setVisible(c.line6Visible);
    if (c.crosshair)
        picture->setCursor(Qt::CrossCursor);
    else
        picture->unsetCursor();
    picture->update();
}

void Form5::Impl::show(const std::optional<DisplayMessage>& m) {
    if (!m) return;
    showBox(&self, m->kind == DisplayMessage::Kind::Warning ? Box::Warning : Box::Plain,
            QString::fromStdString(m->text));
}

void Form5::Impl::opening() {
    bool first;
    {
        PictureCanvas::Drawing d(*canvas);
        first = logic.open(d.surface());
    }
#ifdef TARVIK_HAVE_FILECHOOSER
    if (first) chooser->setFolder(QStringLiteral("Tarvik_data"));
    chooser->refresh();
#else
    (void)first;
#endif
    sync();
}

void Form5::Impl::previewFile(const QString& name) {
    {
        PictureCanvas::Drawing d(*canvas);
        logic.preview(folder(), name.toStdString(), d.surface());
    }
    sync();
}

void Form5::Impl::addSpectrum() {
    std::optional<DisplayMessage> m;
    {
        PictureCanvas::Drawing d(*canvas);
        m = logic.addSpectrum(folder(), selectedFile(), d.surface());
    }
    sync();
    show(m);
}

void Form5::Impl::redraw() {
    std::optional<DisplayMessage> m;
    {
        PictureCanvas::Drawing d(*canvas);
        m = logic.redraw(d.surface());
    }
    sync();
    show(m);
}

void Form5::Impl::print() {
    if (!confirm(&self, displayText(display_text::PrinterReady))) return;
    if (auto m = logic.preparePrint()) {
        sync();
        show(m);
        return;
    }
    sync();
    try {
        printGraphForUser(state, &self, logic.axisForDrawing());
    } catch (const GraphError&) {
        showBox(&self, Box::Warning, displayText(display_text::EmptyRange));
    }
}

void Form5::Impl::clearAll() {
    {
        PictureCanvas::Drawing d(*canvas);
        logic.clear(d.surface());
    }
    sync();
}

void Form5::Impl::setLogScale(bool on) {
    std::optional<DisplayMessage> m;
    {
        PictureCanvas::Drawing d(*canvas);
        m = logic.setLogScale(on, d.surface());
    }
    sync();
    show(m);
}

void Form5::Impl::saveGraph() {
    if (auto m = logic.checkExport()) return show(m);
    const QString path = chooseSaveFile(Form5::tr("グラフを画像で保存"), QStringLiteral("spectrum.png"),
                                        Form5::tr("PNG 画像 (*.png);;SVG 画像 (*.svg);;PDF (*.pdf)"));
    if (path.isEmpty()) return;
    const auto format = graphFileFormatOf(path.toStdString());
    if (!format) {
        showBox(&self, Box::Warning,
                Form5::tr("画像の種類はファイル名の拡張子 .png、.svg、.pdf のいずれかで指定して下さい"));
        return;
    }
    std::optional<QString> failure;
    try {
        failure = exportGraph(state, logic.countAxis(), path, *format);
    } catch (const GraphError&) {
        failure = displayText(display_text::EmptyRange);
    }
    if (failure) showBox(&self, Box::Warning, *failure);
}

void Form5::Impl::saveSpectra() {
    if (state.spectrumCount < 1) return showBox(&self, Box::Warning, displayText(display_text::NothingLoaded));
    const QString path = chooseSaveFile(Form5::tr("スペクトルを CSV で保存"), QStringLiteral("spectra.csv"),
                                        QStringLiteral("CSV (*.csv)"));
    if (path.isEmpty()) return;
    if (auto failure = writeWholeFile(path, spectraCsv(state))) showBox(&self, Box::Warning, *failure);
}

// Reads the file with the spectrum-file library, asks which spectrum when it
// holds several, asks before its counts are shared onto other channels or
// cut, then adds it like "グラフの描画" does.
void Form5::Impl::openOtherFormat() {
    if (state.spectrumCount >= kMaxSpectra) return;
    const QString path = chooseOpenFile(
        Form5::tr("他の形式のスペクトルを開く"), QString::fromStdString(folder()),
        Form5::tr("スペクトル (*.mca *.MCA *.spe *.Spe *.SPE *.chn *.Chn *.CHN *.n42 *.N42 *.xml *.XML *.csv *.CSV "
                  "*.txt *.TXT *.tsv *.dat);;すべてのファイル (*)"));
    if (path.isEmpty()) return;
    std::vector<formats::Spectrum> spectra;
    try {
        spectra = formats::readSpectra(std::filesystem::path(path.toStdString()));
    } catch (const formats::FormatError& e) {
        showBox(&self, Box::Warning, Form5::tr("このファイルはスペクトルとして読めません。\n%1").arg(QString::fromStdString(e.what())));
        return;
    }
    std::size_t index = 0;
    if (spectra.size() > 1) {
        QStringList names;
        for (const auto& sp : spectra)
            names << Form5::tr("%1 (%2 チャネル)")
                         .arg(QString::fromStdString(sp.name.empty() ? std::string("-") : sp.name))
                         .arg(sp.counts.size());
        const int chosen = chooseItem(Form5::tr("このファイルには %1 個のスペクトルがあります。描画するものを選んで下さい")
                                          .arg(spectra.size()),
                                      names);
        if (chosen < 0 || chosen >= names.size()) return;
        index = static_cast<std::size_t>(chosen);
    }
    const formats::Spectrum& sp = spectra[index];
    OtherFormatPlacement placement;
    try {
        placement = placeOtherFormat(sp, logic.widthInUse(), leadingNumber(logic.controls().text6));
    } catch (const std::invalid_argument&) {
        showBox(&self, Box::Warning, displayText(display_text::BadChannelWidth));
        return;
    }
    const QString width = QString::fromStdString(widthText(placement.kevPerChannel));
    if (placement.way == OtherFormatPlacement::Way::Shared) {
        const QString text =
            Form5::tr("このスペクトルのチャネルは表示のチャネル (%1 keV / チャネル、0 keV から) と一致しません:\n%2\n\n"
                      "ファイルのエネルギー校正 (%3 keV / チャネル、最初のチャネルは %4 keV から) に従って、"
                      "カウントを重なりの割合で %1 keV の 1024 チャネルに振り分けて描画します。"
                      "範囲外のカウント %5 は描画されません。よろしいですか？")
                .arg(width, QString::fromStdString(placement.why))
                .arg(placement.fileGainKeV, 0, 'g', 6)
                .arg(placement.fileOffsetKeV, 0, 'g', 6)
                .arg(placement.leftOut, 0, 'f', 0);
        if (!confirm(&self, text)) return;
    } else if (placement.way == OtherFormatPlacement::Way::FirstChannels) {
        const QString text =
            Form5::tr("このスペクトルは %1 チャネルでエネルギー校正がありません。最初の 1024 チャネルだけを "
                      "%2 keV / チャネルで描画します (残りのカウント %3 は描画されません)。よろしいですか？")
                .arg(placement.fileChannels)
                .arg(width)
                .arg(placement.leftOut, 0, 'f', 0);
        if (!confirm(&self, text)) return;
    }
    std::optional<DisplayMessage> m;
    {
        PictureCanvas::Drawing d(*canvas);
        m = logic.addOtherFormat(std::filesystem::path(path.toStdString()).filename().string(), placement, d.surface());
    }
    sync();
    show(m);
}

#ifdef TARVIK_HAVE_QUALITY
// A small window of its own, not modal: the figures of every loaded spectrum
// as a table, one column per spectrum, copied whole as tab-separated text or
// saved as CSV.
void Form5::Impl::showQuality() {
    if (state.spectrumCount < 1) return showBox(&self, Box::Warning, displayText(display_text::NothingLoaded));
    if (!qualityWindow) {
        qualityWindow = new QDialog(&self);
        qualityWindow->setObjectName(QStringLiteral("QualityWindow"));
        qualityWindow->setWindowTitle(Form5::tr("線質評価"));
        qualityWindow->setFont(fontOf(kMeiryo, 9.75));
        auto* layout = new QVBoxLayout(qualityWindow);
        auto* note = new QLabel(Form5::tr("各値の ± は計数の統計 (ポアソン分布) による標準不確かさです。"),
                                qualityWindow);
        note->setWordWrap(true);
        layout->addWidget(note);
        qualityTable = named(new QTableWidget(qualityWindow), "QualityTable");
        qualityTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
        qualityTable->setSelectionMode(QAbstractItemView::ContiguousSelection);
        qualityTable->setWordWrap(false);
        qualityTable->setAlternatingRowColors(true);
        qualityTable->verticalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        layout->addWidget(qualityTable, 1);
        qualityMark = named(new QLabel(Form5::tr("※ 補正前の測定スペクトル (.csv) の値です（Stripping 補正されていません）"),
                                       qualityWindow),
                            "QualityMark");
        qualityMark->setStyleSheet(QStringLiteral("color: #b00000;"));
        layout->addWidget(qualityMark);
        auto* buttons = new QHBoxLayout;
        auto* copy = named(new QPushButton(Form5::tr("コピー"), qualityWindow), "QualityCopy");
        copy->setToolTip(Form5::tr("表全体をタブ区切りのテキストとしてコピーします（表計算ソフトに貼り付けられます）"));
        auto* save = named(new QPushButton(Form5::tr("CSV で保存…"), qualityWindow), "QualitySave");
        save->setToolTip(Form5::tr("表を CSV ファイル (UTF-8) に保存します"));
        auto* close = named(new QPushButton(Form5::tr("閉じる"), qualityWindow), "QualityClose");
        for (QPushButton* b : {copy, save}) b->setAutoDefault(false);
        buttons->addStretch(1);
        buttons->addWidget(copy);
        buttons->addWidget(save);
        buttons->addWidget(close);
        layout->addLayout(buttons);
        QObject::connect(copy, &QPushButton::clicked, qualityWindow, [this] {
            QGuiApplication::clipboard()->setText(QString::fromStdString(qualityTsv(qualityColumnsShown)));
        });
        QObject::connect(save, &QPushButton::clicked, qualityWindow, [this] { saveQuality(); });
        QObject::connect(close, &QPushButton::clicked, qualityWindow, &QDialog::hide);
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    // Figures other parts of the system know for a spectrum go in as
    // qualityColumns' third argument, one per slot: the dead time of a file
    // opened through "他の形式を開く…" that gives its live and real time.
    // (A pile-up share the unfolding estimated would go in here too.)
    std::vector<SpectrumExtras> extras;
    for (int slot = 1; slot <= state.spectrumCount; ++slot) {
        const DisplayLogic::Times& t = logic.times(slot);
        extras.push_back(extrasOfTimes(t.liveTimeS, t.realTimeS));
    }
    qualityColumnsShown = qualityColumns(state, {}, extras);
    QApplication::restoreOverrideCursor();
    fillQualityTable();
    qualityWindow->show();
    qualityWindow->raise();
    qualityWindow->activateWindow();
}

void Form5::Impl::fillQualityTable() {
    const std::vector<QualityColumn>& columns = qualityColumnsShown;
    const std::vector<QualityRow> rows = qualityRows(columns);
    auto q = [](const std::string& s) { return QString::fromStdString(s); };
    const QString dash = QStringLiteral("—");
    qualityTable->clear();
    qualityTable->setRowCount(static_cast<int>(rows.size()));
    qualityTable->setColumnCount(static_cast<int>(columns.size()) + 1);
    QStringList heads{Form5::tr("単位")};
    for (std::size_t i = 0; i < columns.size(); ++i)
        heads << QStringLiteral("[%1] %2%3")
                     .arg(i + 1)
                     .arg(q(columns[i].file), columns[i].measured ? QStringLiteral(" ※") : QString());
    qualityTable->setHorizontalHeaderLabels(heads);
    for (int r = 0; r < qualityTable->rowCount(); ++r) {
        const QualityRow& row = rows[static_cast<std::size_t>(r)];
        qualityTable->setVerticalHeaderItem(r, new QTableWidgetItem(q(row.name)));
        auto* unit = new QTableWidgetItem(q(row.unit));
        unit->setTextAlignment(Qt::AlignCenter);
        qualityTable->setItem(r, 0, unit);
        for (std::size_t c = 0; c < row.cells.size(); ++c) {
            const QualityCell& cell = row.cells[c];
            QString text = cell.value.empty() ? dash : q(cell.value);
            if (!cell.uncertainty.empty()) text += QStringLiteral(" ± ") + q(cell.uncertainty);
            auto* item = new QTableWidgetItem(text);
            // Numbers line up at their right end; words start at the left.
            const char first = cell.value.empty() ? '0' : cell.value[0];
            const bool number = std::isdigit(static_cast<unsigned char>(first)) != 0 || first == '-';
            item->setTextAlignment((number ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
            if (columns[c].measured && r == 0) item->setForeground(QColor(0xb0, 0, 0));
            qualityTable->setItem(r, static_cast<int>(c) + 1, item);
        }
    }
    qualityTable->resizeColumnsToContents();
    qualityTable->resizeRowsToContents();
    qualityMark->setVisible(
        std::any_of(columns.begin(), columns.end(), [](const QualityColumn& c) { return c.measured; }));
    // The window takes the table's whole size, within reason.
    int width = qualityTable->verticalHeader()->sizeHint().width() + 2 * qualityTable->frameWidth() + 2;
    for (int c = 0; c < qualityTable->columnCount(); ++c) width += qualityTable->columnWidth(c);
    int height = qualityTable->horizontalHeader()->sizeHint().height() + 2 * qualityTable->frameWidth() + 2;
    for (int r = 0; r < qualityTable->rowCount(); ++r) height += qualityTable->rowHeight(r);
    qualityTable->setMinimumSize(std::min(width, 1100), std::min(height, 640));
    qualityTable->setCurrentItem(nullptr);
    qualityWindow->layout()->activate();
    qualityWindow->resize(qualityWindow->sizeHint());
}

void Form5::Impl::saveQuality() {
    const QString path = chooseSaveFile(Form5::tr("線質評価を CSV で保存"), QStringLiteral("quality.csv"),
                                        QStringLiteral("CSV (*.csv)"));
    if (path.isEmpty()) return;
    if (auto failure = writeWholeFile(path, qualityCsv(qualityColumnsShown)))
        showBox(qualityWindow, Box::Warning, *failure);
}
#endif

void Form5::Impl::backToMenu() {
    self.hide();
    if (mainMenu) mainMenu->show();
}

Form5::Form5(AppState& state, QWidget* mainMenu, std::function<void()> showExtensions, QWidget* parent)
    : QWidget(parent), d(std::make_unique<Impl>(*this, state, mainMenu, std::move(showExtensions))) {
    d->chooseSaveFile = [this](const QString& caption, const QString& suggested, const QString& filters) {
        return askSaveFileName(this, caption, suggested, filters);
    };
    d->chooseOpenFile = [this](const QString& caption, const QString& folder, const QString& filters) {
        return QFileDialog::getOpenFileName(this, caption, folder, filters);
    };
    d->chooseItem = [this](const QString& caption, const QStringList& items) {
        bool ok = false;
        const QString item = QInputDialog::getItem(this, QStringLiteral("Tarvik_CdTe"), caption, items, 0, false, &ok);
        return ok ? static_cast<int>(items.indexOf(item)) : -1;
    };
    d->build();
    qApp->installEventFilter(this);
}

void Form5::setSaveFileChooser(SaveFileChooser chooser) { d->chooseSaveFile = std::move(chooser); }
void Form5::setOpenFileChooser(OpenFileChooser chooser) { d->chooseOpenFile = std::move(chooser); }
void Form5::setItemChooser(ItemChooser chooser) { d->chooseItem = std::move(chooser); }

Form5::~Form5() {
    if (qApp) qApp->removeEventFilter(this);
}

void Form5::openFromMenu() {
    d->opening();
    show();
    raise();
    activateWindow();
    if (d->mainMenu) d->mainMenu->hide();
}

bool Form5::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress || !isVisible()) return false;
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() != Qt::Key_Left && key->key() != Qt::Key_Right) return false;
    auto* target = qobject_cast<QWidget*>(watched);
    if (!target || target->window() != this) return false;
    // A key press travels from the focus widget up to its parents; take it
    // once, at its first receiver.
    QWidget* focus = QApplication::focusWidget();
    if (target != (focus && focus->window() == this ? focus : this)) return false;
    if (!d->logic.arrowKey(key->key() == Qt::Key_Right)) return false;
    d->sync();
    // Text boxes still move their caret; other controls do not see the key.
    return qobject_cast<QLineEdit*>(target) == nullptr;
}

void Form5::closeEvent(QCloseEvent* event) {
    // The close box discards the window's contents: the next opening starts
    // from the controls' defaults with the folder list on the working folder.
    d->logic.resetControls();
    d->canvas->reset();
#ifdef TARVIK_HAVE_FILECHOOSER
    d->chooser->setFolder(QDir::currentPath());
#endif
    d->sync();
    event->accept();
    if (d->mainMenu) d->mainMenu->show();
}
