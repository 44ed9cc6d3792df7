// Renders every window of the main menu's side (menu, settings, both
// information windows, both dialogs with a clicked file, a message box) to
// PNG files for looking at them: frontend_snapshot <folder for the PNGs>
// [working folder] [--lang ja|en].  Works in a scratch working folder with a
// small measured and a small stripped spectrum; given a working folder of the
// same name, two runs show the same paths and their pictures compare pixel
// for pixel.  The windows are in Japanese unless --lang en is given.
#include "filechooser.h"
#include "fonts.h"
#include "forms.h"
#include "language_qt.h"
#ifdef TARVIK_HAVE_CHARACTERIZE
#include "characterizewindow.h"
#endif

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolTip>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

void writeFile(const QString& path, const std::string& bytes) {
    std::ofstream(path.toStdString(), std::ios::binary) << bytes;
}

std::string measured() {
    std::string s;
    for (int i = 1; i <= 31; ++i) s += "Header line " + std::to_string(i) + ",value\r\n";
    for (int ch = 1; ch <= 1024; ++ch)
        s += std::to_string(ch) + "," + std::to_string(ch * 0.1) + "," + std::to_string(ch < 800 ? ch % 300 : 0) + "\r\n";
    return s;
}

std::string stripped() {
    // "テスト散乱" in Shift_JIS as the first comment
    std::string s = "\x83\x65\x83\x58\x83\x67\x8e\x55\x97\x90" + std::string(50, ' ') + "\r\n" +
                    std::string(60, ' ') + "\r\n 80\r\n  .100\r\n";
    for (int i = 1; i <= 17; ++i) s += "Header line " + std::to_string(i) + "\r\n";
    s += "  Ch.   KeV    Counts\r\n";
    char buf[64];
    for (int ch = 1; ch <= 1024; ++ch) {
        std::snprintf(buf, sizeof buf, "%4d %7.2f %7d\r\n", ch, ch * 0.1, ch % 500);
        s += buf;
    }
    return s;
}

// Saves the window as <name>.png and, beside it, <name>.txt with the place
// and size of every named control inside the window, so that two versions
// of a window can be compared control by control.
void save(QWidget* w, const QString& dir, const char* name) {
    const QString base = dir + QLatin1Char('/') + QLatin1String(name);
    w->grab().save(base + QStringLiteral(".png"));
    std::ofstream places((base + QStringLiteral(".txt")).toStdString(), std::ios::binary);
    places << "window " << w->width() << 'x' << w->height() << '\n';
    for (QWidget* c : w->findChildren<QWidget*>()) {
        if (c->objectName().isEmpty() || !c->isVisibleTo(w)) continue;
        const QRect r(c->mapTo(w, QPoint(0, 0)), c->size());
        places << c->objectName().toStdString() << ' ' << r.x() << ',' << r.y() << ' ' << r.width() << 'x'
               << r.height() << '\n';
    }
}

// Shows the tooltip of a control and saves it.
void saveTooltip(QWidget* control, const QString& dir, const char* name) {
    // Events still pending (a window just shown, activated) would hide the
    // tip as soon as it shows: let them pass first.
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 100) QApplication::processEvents(QEventLoop::AllEvents, 20);
    QToolTip::showText(control->mapToGlobal(control->rect().center()), control->toolTip(), control);
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->inherits("QTipLabel") && w->isVisible()) {
            save(w, dir, name);
            break;
        }
    QToolTip::hideText();
}

// Answers the next message box after saving it.
void saveNextBox(const QString& dir, const char* name, QMessageBox::StandardButton press) {
    QTimer::singleShot(0, [=] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        save(box, dir, name);
        if (QAbstractButton* b = box->button(press)) b->click();
        else box->reject();
    });
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // --lang and its word, anywhere; the rest are the folders.
    std::vector<const char*> args;
    tarvik::Language language = tarvik::Language::Japanese;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--lang" && i + 1 < argc) {
            const auto l = tarvik::parseLanguage(argv[++i]);
            if (!l) {
                std::fprintf(stderr, "frontend_snapshot: --lang takes ja or en\n");
                return 2;
            }
            language = *l;
        } else {
            args.push_back(argv[i]);
        }
    }
    if (args.empty()) {
        std::fprintf(stderr, "usage: frontend_snapshot <folder for the pictures> [working folder] [--lang ja|en]\n");
        return 2;
    }
    const QString out = QDir(QString::fromLocal8Bit(args[0])).absolutePath();
    QDir().mkpath(out);
    if (tarvik::installLanguage(language) != language) return 1;
    // Tooltips come up at once, not through an effect that leaves them hidden.
    QApplication::setEffectEnabled(Qt::UI_FadeTooltip, false);
    QApplication::setEffectEnabled(Qt::UI_AnimateTooltip, false);
    tarvik::installFontSubstitutions();
    QFont base(tarvik::kMeiryo);
    base.setPointSizeF(9.5);
    QApplication::setFont(base);

    QTemporaryDir scratch;
    QString work = scratch.path();
    if (args.size() > 1) {
        work = QDir(QString::fromLocal8Bit(args[1])).absolutePath();
        if (QDir(work).exists()) {
            std::fprintf(stderr, "frontend_snapshot: the working folder %s exists already\n", args[1]);
            return 2;
        }
        QDir().mkpath(work);
    }
    QDir::setCurrent(work);
    QDir().mkdir(QStringLiteral("Tarvik_data"));
    writeFile(QStringLiteral("Tarvik_data/meas80kV.csv"), measured());
    writeFile(QStringLiteral("Tarvik_data/散乱90度.mca1"), stripped());
    writeFile(QStringLiteral("UserName.txt"), "\x83\x65\x83\x58\x83\x67\x95\x61\x89\x40\r\nRAMTEC-413\r\nXR-100T-CdTe\r\n0.1\r\n");

    tarvik::AppState state;
    tarvik::RecordingLauncher launcher;
    tarvik::Form1 menu(state, launcher, std::filesystem::current_path());
    menu.endProgram = [] {};
    menu.show();
    menu.load();
    save(&menu, out, "form1_menu");
    saveTooltip(menu.Label3, out, "form1_tooltip_facility");

    menu.form7().openWith(QStringLiteral("テスト病院"), QStringLiteral("RAMTEC-413"),
                          QStringLiteral("XR-100T-CdTe"), QStringLiteral("0.1"));
    save(&menu.form7(), out, "form7_settings");
    menu.form7().hide();

    {  // a start with a settings file cut short: the settings window says so
        QDir().mkdir(QStringLiteral("damaged"));
        writeFile(QStringLiteral("damaged/UserName.txt"), "\x83\x65\x83\x58\x83\x67\r\nRAMTEC-413\r\nXR-1");
        tarvik::AppState damagedState;
        tarvik::Form1 damaged(damagedState, launcher, std::filesystem::current_path() / "damaged");
        damaged.endProgram = [] {};
        damaged.load();
        save(&damaged.form7(), out, "form7_settings_damaged");
        damaged.form7().hide();
    }

    menu.form2().show();
    save(&menu.form2(), out, "form2_extensions");
    menu.form6().show();
    save(&menu.form6(), out, "form6_angle");

    tarvik::Form4& f4 = menu.form4();
    f4.openFromMenu();
    f4.chooser->clickFile(QStringLiteral("meas80kV.csv"));
    f4.Text3->setText(QStringLiteral("80"));
    f4.Text1->setText(QStringLiteral("管電圧 80 kV、付加フィルタ Al 2 mm"));
    save(&f4, out, "form4_stripping");

    saveTooltip(f4.Command2, out, "form4_tooltip_cancel");
    saveTooltip(f4.Check1, out, "form4_tooltip_unfold");
#ifdef TARVIK_HAVE_CHARACTERIZE
    saveTooltip(f4.Command3, out, "form4_tooltip_characterize");
    {  // the characterization window with two sources picked
        writeFile(QStringLiteral("Tarvik_data/Am241_300s.csv"), measured());
        writeFile(QStringLiteral("Tarvik_data/Co57_600s.csv"), measured());
        tarvik::CharacterizeWindow* cw = f4.characterizeWindow();
        cw->addSource(QDir(work).filePath(QStringLiteral("Tarvik_data/Am241_300s.csv")));
        cw->addSource(QDir(work).filePath(QStringLiteral("Tarvik_data/Co57_600s.csv")));
        cw->show();
        save(cw, out, "characterize_window");
        cw->hide();
    }
#endif

    // message boxes of the stripping dialog, grabbed while they are open
    saveNextBox(out, "form4_message", QMessageBox::Ok);
    f4.Text3->clear();
    f4.Command1->click();
    writeFile(QStringLiteral("Tarvik_data/meas80kV.mca1"), "old");
    f4.Text3->setText(QStringLiteral("80"));
    saveNextBox(out, "form4_question", QMessageBox::No);
    f4.Command1->click();
    f4.hide();

    tarvik::Form3& f3 = menu.form3();
    f3.openFromMenu();
    f3.chooser->clickFile(QStringLiteral("散乱90度.mca1"));
    save(&f3, out, "form3_conversion");
    saveTooltip(f3.Check1, out, "form3_tooltip_unfold");
    saveNextBox(out, "form3_message", QMessageBox::Ok);
    f3.Text4->clear();
    f3.Command1->click();
    f3.hide();

    // The language choice of the settings window, with its tooltip.
    menu.form7().openWith(QStringLiteral("テスト病院"), QStringLiteral("RAMTEC-413"),
                          QStringLiteral("XR-100T-CdTe"), QStringLiteral("0.1"));
    saveTooltip(menu.form7().LanguageBox, out, "form7_tooltip_language");
    std::printf("snapshots in %s\n", out.toLocal8Bit().constData());
    return 0;
}
