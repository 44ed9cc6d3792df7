// Renders the display window with three spectra and one printed page, so
// that they can be looked at:
//   display_snapshot <output folder> [<keV per channel> <spectrum file>...]
// writes preview.png (a file's header), display.png (the window),
// page.pdf (the printout), display_log.png (the window with the count axis
// in decades), graph.png/.svg/.pdf and spectra.csv (what the save menu
// writes) and quality.png (the beam-quality window, when it is built).  The spectra are the files given (copied into a
// temporary data folder), or else three synthetic tube spectra.
#include "form5.h"
#include "graphprint.h"

#ifdef TARVIK_HAVE_FONTS
#include "fonts.h"
#endif

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTextStream>

#include <cmath>
#include <cstdio>
#include <fstream>

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

template <class T>
T* child(QWidget* w, const char* name) {
    return w->findChild<T*>(QString::fromLatin1(name));
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
#ifdef TARVIK_HAVE_FONTS
    tarvik::installFontSubstitutions();
#endif
    const QString out = QFileInfo(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("/tmp")).absoluteFilePath();
    QStringList given;
    for (int i = 3; i < argc; ++i) given << QFileInfo(QString::fromLocal8Bit(argv[i])).absoluteFilePath();

    QTemporaryDir work;
    QDir::setCurrent(work.path());
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

    // The beam-quality window beside the display.
    if (auto* quality = child<QPushButton>(&form, "QualityButton")) {
        quality->click();
        app.processEvents();
        if (auto* window = form.findChild<QWidget*>(QStringLiteral("QualityWindow"))) {
            const QString shot = QDir(out).filePath(QStringLiteral("quality.png"));
            ok = window->grab().save(shot) && ok;
            QTextStream(stdout) << shot << "\n";
        }
    }
    return ok ? 0 : 1;
}
