// Tarvik_CdTe: the main menu of the spectrum processing tool.  Works in the
// current directory, where the data folder Tarvik_data, the exchange files
// and the console programs tvstrip and tvconv live.
#include "fonts.h"
#include "forms.h"
#include "language_qt.h"
#include "messagebox.h"
#include "resultname.h"
#include "terminallauncher.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>

#include <cstdio>
#include <filesystem>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tarvik_CdTe"));
    // The program ends only through the main menu's exit, which first removes
    // the exchange files; hiding the last task window must not end it.
    QApplication::setQuitOnLastWindowClosed(false);

    QCommandLineParser options;
    options.setApplicationDescription(QStringLiteral(
        "Windows for correcting, converting and displaying CdTe X-ray spectra.\n"
        "Works in the current folder (Tarvik_data, UserName.txt, tvstrip, tvconv)."));
    options.addHelpOption();
    const QCommandLineOption lang(QStringLiteral("lang"),
                                  QStringLiteral("Language of the windows for this run: ja (Japanese, the "
                                                 "default) or en (English). Without it, the choice made in "
                                                 "the settings window (Language.txt) holds."),
                                  QStringLiteral("ja|en"));
    options.addOption(lang);
    options.process(app);
    std::optional<tarvik::Language> asked;
    if (options.isSet(lang)) {
        asked = tarvik::parseLanguage(options.value(lang).toStdString());
        if (!asked) {
            std::fprintf(stderr, "Tarvik_CdTe: --lang takes ja or en, not \"%s\"\n",
                         options.value(lang).toLocal8Bit().constData());
            return 2;
        }
    }
    // Japanese unless English was asked for, whatever the system's locale;
    // with Qt's Japanese captions on the standard buttons (はい / いいえ / キャンセル).
    tarvik::installLanguage(tarvik::startLanguage(asked, std::filesystem::current_path()));

    tarvik::installFontSubstitutions();
    QFont base(tarvik::kMeiryo);
    base.setPointSizeF(9.5);
    QApplication::setFont(base);

    const QString dataFolder = QString::fromUtf8(tarvik::kDataFolder.data(), tarvik::kDataFolder.size());
    bool dataFolderProblem = !QDir(dataFolder).exists() && !QDir().mkdir(dataFolder);

    tarvik::AppState state;
    tarvik::TerminalLauncher launcher;
    tarvik::Form1 menu(state, launcher, std::filesystem::current_path());
    menu.show();
    if (dataFolderProblem)
        tarvik::showWarning(&menu, QCoreApplication::translate("tarvik::Form1", "データフォルダ Tarvik_data を作成できません") +
                                       QLatin1Char('\n') + QDir::currentPath());
    menu.load();
    return app.exec();
}
