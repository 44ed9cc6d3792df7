// Renders the display window with three spectra and one printed page, so
// that they can be looked at:
//   display_snapshot <output folder> [<keV per channel> <spectrum file>...]
//                    [--lang ja|en] [--work <working folder that does not exist yet>]
// writes preview.png (a file's header), display.png (the window),
// other_format.png (the window with two analyser files opened through
// "他の形式を開く…") and quality_other.png (their beam-quality window, with
// the dead time of their live and real time),
// page.pdf (the printout), display_log.png (the window with the count axis
// in decades), graph.png/.svg/.pdf and spectra.csv (what the save menu
// writes), message_print.png and message_noprinter.png (the boxes of
// printing, when no printer is set up), and, when it is built, quality.png
// (the beam-quality window), quality.csv (its table) and quality_csv.png
// (the window for a measured ".csv" beside a corrected spectrum), the
// tooltips (tooltip_*.png) and the menu of the save button (menu_save.png).  The
// spectra are the files given (copied into a temporary data folder), or
// else three synthetic tube spectra.  The windows are in Japanese unless
// --lang en is given.  The working folder (whose path the folder list shows)
// is a fresh temporary one unless --work names one: two runs with the same
// name give pictures that compare pixel for pixel.
#include "form5.h"
#include "graphprint.h"

#ifdef TARVIK_HAVE_FONTS
#include "fonts.h"
#endif
#ifdef TARVIK_HAVE_LANGUAGES
#include "language_qt.h"
#endif

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QElapsedTimer>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <QToolTip>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

// A rough tube spectrum: a continuum falling to zero at the tube voltage,
// hardened at low energies, with two characteristic lines.
void writeSpectrum(const QString& path, double kv, double kev, double lineScale) {
    std::ofstream f(path.toStdString(), std::ios::binary);
    f << "Sample spectrum " << kv << " kV\r\nfiltered, 1 m\r\n" << kv << "\r\n" << kev << "\r\n";
    for (int i = 5; i <= 21; ++i) f << (i == 8 ? "Tube current 1 mA, 60 s" : "header") << "\r\n";
    f << "  ch   keV   count\r\n";
    for (int ch = 1; ch <= 1024; ++ch) {
        double e = ch * kev;
        double c = 0;
        if (e < kv) c = 4000 * (kv - e) / kv * (1 - std::exp(-std::pow(e / 18.0, 3)));
        c += lineScale * 2500 * std::exp(-0.5 * std::pow((e - 59.3) / 0.6, 2));
        c += lineScale * 900 * std::exp(-0.5 * std::pow((e - 67.2) / 0.6, 2));
        if (e > kv) c = 0;
        char line[64];
        std::snprintf(line, sizeof line, "%4d %7.2f %7d\r\n", ch, e, static_cast<int>(c));
        f << line;
    }
}

// The same kind of spectrum as an analyser's "<<PMCA SPECTRUM>>" file with
// live and real time and a calibration of `kev` keV per channel from 0 keV.
void writePmca(const QString& path, double kv, double kev, double lineScale) {
    std::ofstream f(path.toStdString(), std::ios::binary);
    f << "<<PMCA SPECTRUM>>\r\nTAG - " << kv << " kV tube\r\nLIVE_TIME - 58.2\r\nREAL_TIME - 60.0\r\n"
      << "START_TIME - 05/01/2024 10:20:30\r\n<<CALIBRATION>>\r\nLABEL - keV\r\n"
      << "100 " << (100.5 * kev) << "\r\n900 " << (900.5 * kev) << "\r\n<<DATA>>\r\n";
    for (int ch = 1; ch <= 1024; ++ch) {
        const double e = (ch - 0.5) * kev;
        double c = 0;
        if (e < kv) c = 3000 * (kv - e) / kv * (1 - std::exp(-std::pow(e / 20.0, 3)));
        c += lineScale * 2000 * std::exp(-0.5 * std::pow((e - 59.3) / 0.7, 2));
        f << static_cast<int>(c) << "\r\n";
    }
    f << "<<END>>\r\n";
}

template <class T>
T* child(QWidget* w, const char* name) {
    return w->findChild<T*>(QString::fromLatin1(name));
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // --lang and --work with their words, anywhere; the rest as before.
    std::vector<char*> args{argv[0]};
    std::string language = "ja";
    QString workFolder;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--lang" && i + 1 < argc) language = argv[++i];
        else if (std::string(argv[i]) == "--work" && i + 1 < argc) workFolder = QString::fromLocal8Bit(argv[++i]);
        else args.push_back(argv[i]);
    }
    argc = static_cast<int>(args.size());
    argv = args.data();
#ifdef TARVIK_HAVE_LANGUAGES
    const auto wanted = tarvik::parseLanguage(language);
    if (!wanted || tarvik::installLanguage(*wanted) != *wanted) {
        std::fprintf(stderr, "display_snapshot: --lang %s cannot be shown\n", language.c_str());
        return 2;
    }
#else
    if (language != "ja") {
        std::fprintf(stderr, "display_snapshot: this build has Japanese windows only\n");
        return 2;
    }
#endif
#ifdef TARVIK_HAVE_FONTS
    tarvik::installFontSubstitutions();
#endif
    const QString out = QFileInfo(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("/tmp")).absoluteFilePath();
    QDir().mkpath(out);
    QStringList given;
    for (int i = 3; i < argc; ++i) given << QFileInfo(QString::fromLocal8Bit(argv[i])).absoluteFilePath();

    QTemporaryDir scratch;
    if (workFolder.isEmpty()) {
        workFolder = scratch.path();
    } else {
        workFolder = QDir(workFolder).absolutePath();
        if (QDir(workFolder).exists()) {
            std::fprintf(stderr, "display_snapshot: the working folder %s exists already\n",
                         workFolder.toLocal8Bit().constData());
            return 2;
        }
        QDir().mkpath(workFolder);
    }
    QDir::setCurrent(workFolder);
    QDir().mkdir(QStringLiteral("Tarvik_data"));
    QStringList names{QStringLiteral("tube_120kV.mca1"), QStringLiteral("tube_80kV_filtered.mca1"),
                      QStringLiteral("primary_100kV.mca2")};
    if (given.isEmpty()) {
        writeSpectrum(QStringLiteral("Tarvik_data/") + names[0], 120, 0.2, 1.0);
        writeSpectrum(QStringLiteral("Tarvik_data/") + names[1], 80, 0.2, 0.6);
        writeSpectrum(QStringLiteral("Tarvik_data/") + names[2], 100, 0.2, 0.8);
    } else {
        names.clear();
        for (const QString& f : given) {
            names << QFileInfo(f).fileName();
            QFile::copy(f, QStringLiteral("Tarvik_data/") + names.back());
        }
    }

    tarvik::AppState state;
    state.facilityName = "中央病院 放射線部";
    QWidget menu;
    Form5 form(state, &menu, [] {});
    form.openFromMenu();

    auto* files = child<QListWidget>(&form, "File1");
    auto click = [&](const QString& file) {
        if (!files) return;
        for (int i = 0; i < files->count(); ++i)
            if (files->item(i)->text() == file) {
                files->setCurrentRow(i);
                emit files->itemClicked(files->item(i));
            }
    };
    auto add = [&](const QString& file, const char* option) {
        click(file);
        if (argc > 2) {
            auto* width = child<QLineEdit>(&form, "Text6");
            width->setText(QString::fromLocal8Bit(argv[2]));
            emit width->textEdited(width->text());
        }
        child<QRadioButton>(&form, option)->setChecked(true);
        child<QPushButton>(&form, "Command1")->click();
    };
    // The header preview of a file before anything is drawn.
    click(names[0]);
    app.processEvents();
    bool ok = form.grab().save(QDir(out).filePath(QStringLiteral("preview.png")));

    const char* colours[] = {"Option2", "Option5", "Option3", "Option4", "Option6"};
    for (int i = 0; i < names.size() && i < 5; ++i) add(names[i], colours[i]);

    // The cursor at 59 keV, clicked, then one step up with the arrow button.
    QWidget* picture = child<QWidget>(&form, "Picture1");
    QPointF at(2 + (2200 + 7500 * 59.0 / 150) / 15, 2 + 3000 / 15.0);
    QMouseEvent move(QEvent::MouseMove, at, picture->mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(picture, &move);
    QMouseEvent press(QEvent::MouseButtonPress, at, picture->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(picture, &press);
    child<QPushButton>(&form, "Command8")->click();
    app.processEvents();

    const QString png = QDir(out).filePath(QStringLiteral("display.png"));
    const QString pdf = QDir(out).filePath(QStringLiteral("page.pdf"));
    ok = form.grab().save(png) && ok;
    ok = tarvik::printGraphToPdf(state, pdf) && ok;
    QTextStream(stdout) << png << "\n" << pdf << "\n";

    // The count axis in decades, then everything the save menu writes.
    child<QCheckBox>(&form, "LogScale")->click();
    app.processEvents();
    const QString logPng = QDir(out).filePath(QStringLiteral("display_log.png"));
    ok = form.grab().save(logPng) && ok;
    QStringList saved{QStringLiteral("graph.png"), QStringLiteral("graph.svg"), QStringLiteral("graph.pdf"),
                      QStringLiteral("spectra.csv")};
    QString next;
    form.setSaveFileChooser([&](const QString&, const QString&, const QString&) { return next; });
    for (const QString& name : saved) {
        next = QDir(out).filePath(name);
        child<QAction>(&form, name.endsWith(QStringLiteral(".csv")) ? "SaveSpectra" : "SaveGraph")->trigger();
        ok = QFile::exists(next) && ok;
        QTextStream(stdout) << next << "\n";
    }
    QTextStream(stdout) << logPng << "\n";

    // The beam-quality window beside the display, and its table saved.
    auto saveQuality = [&](const char* picture) {
        auto* quality = child<QPushButton>(&form, "QualityButton");
        if (!quality) return;
        quality->click();
        app.processEvents();
        if (auto* window = form.findChild<QWidget*>(QStringLiteral("QualityWindow"))) {
            const QString shot = QDir(out).filePath(QString::fromLatin1(picture));
            ok = window->grab().save(shot) && ok;
            QTextStream(stdout) << shot << "\n";
        }
    };
    saveQuality("quality.png");
    if (auto* save = form.findChild<QPushButton*>(QStringLiteral("QualitySave"))) {
        next = QDir(out).filePath(QStringLiteral("quality.csv"));
        save->click();
        ok = QFile::exists(next) && ok;
        QTextStream(stdout) << next << "\n";
    }

    // The boxes of printing: "is the printer ready?", then (without a
    // printer) the offer of a preview or a PDF, cancelled.
    std::vector<QString> boxes{QStringLiteral("message_print.png"), QStringLiteral("message_noprinter.png")};
    std::size_t answered = 0;
    QTimer boxWatch;
    boxWatch.setInterval(20);
    QObject::connect(&boxWatch, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || answered >= boxes.size()) return;
        const QString shot = QDir(out).filePath(boxes[answered]);
        ok = box->grab().save(shot) && ok;
        QTextStream(stdout) << shot << "\n";
        if (++answered == 1) box->button(QMessageBox::Ok)->click();
        else box->reject();
    });
    boxWatch.start();
    child<QPushButton>(&form, "Command5")->click();
    boxWatch.stop();

    // The tooltips of the window and the menu of "保 存", each as a picture.
    QApplication::setEffectEnabled(Qt::UI_FadeTooltip, false);
    QApplication::setEffectEnabled(Qt::UI_AnimateTooltip, false);
    QApplication::setEffectEnabled(Qt::UI_AnimateMenu, false);
    auto settle = [&] {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 100) app.processEvents(QEventLoop::AllEvents, 20);
    };
    const std::pair<const char*, const char*> tips[] = {
        {"Command2", "tooltip_clear.png"},     {"Command3", "tooltip_close.png"},
        {"Command5", "tooltip_print.png"},     {"LogScale", "tooltip_logscale.png"},
        {"SaveButton", "tooltip_save.png"},    {"QualityButton", "tooltip_quality.png"}};
    for (const auto& [control, picture] : tips) {
        QWidget* c = child<QWidget>(&form, control);
        if (!c) continue;
        settle();
        QToolTip::showText(c->mapToGlobal(c->rect().center()), c->toolTip(), c);
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->inherits("QTipLabel") && w->isVisible()) {
                const QString shot = QDir(out).filePath(QString::fromLatin1(picture));
                ok = w->grab().save(shot) && ok;
                QTextStream(stdout) << shot << "\n";
                break;
            }
        QToolTip::hideText();
    }
    if (auto* saveButton = child<QPushButton>(&form, "SaveButton"); saveButton && saveButton->menu()) {
        QMenu* menu = saveButton->menu();
        menu->popup(saveButton->mapToGlobal(QPoint(0, saveButton->height())));
        settle();
        const QString shot = QDir(out).filePath(QStringLiteral("menu_save.png"));
        ok = menu->grab().save(shot) && ok;
        QTextStream(stdout) << shot << "\n";
        menu->hide();
    }

    // A measured spectrum beside a corrected one in the quality window.
    if (given.isEmpty()) {
        {  // the counts of the 80 kV spectrum in the layout of a measured file
            std::ofstream f("Tarvik_data/measured_80kV.csv", std::ios::binary | std::ios::trunc);
            for (int i = 1; i <= 31; ++i) f << "header " << i << "\r\n";
            std::ifstream in(("Tarvik_data/" + names[1]).toStdString());
            std::string line;
            for (int i = 0; i < 22 && std::getline(in, line); ++i) {
            }
            int ch, count;
            double e;
            while (in >> ch >> e >> count) f << ch << "," << e << "," << count << "\r\n";
        }
        child<QPushButton>(&form, "Command2")->click();
        form.openFromMenu();
        add(names[0], "Option2");
        add(QStringLiteral("measured_80kV.csv"), "Option5");
        saveQuality("quality_csv.png");
    }
    // Two analyser files opened through "他の形式を開く…" after "クリア".
    child<QCheckBox>(&form, "LogScale")->click();
    child<QPushButton>(&form, "Command2")->click();
    writePmca(QStringLiteral("Tarvik_data/tube_70kV.mca"), 70, 0.1, 1.0);
    writePmca(QStringLiteral("Tarvik_data/tube_90kV.mca"), 90, 0.1, 0.5);
    if (auto* other = child<QPushButton>(&form, "OpenOtherFormat")) {
        QString file;
        form.setOpenFileChooser([&](const QString&, const QString&, const QString&) { return file; });
        for (const char* name : {"tube_70kV.mca", "tube_90kV.mca"}) {
            file = QDir::current().filePath(QStringLiteral("Tarvik_data/") + QString::fromLatin1(name));
            other->click();
        }
        app.processEvents();
        const QString shot = QDir(out).filePath(QStringLiteral("other_format.png"));
        ok = form.grab().save(shot) && ok;
        QTextStream(stdout) << shot << "\n";
        // Their live and real time give the dead-time row.
        saveQuality("quality_other.png");
    }
    return ok ? 0 : 1;
}
