// Tarvik_CdTe: the main menu of the spectrum processing tool.  Works in the
// current directory, where the data folder Tarvik_data, the exchange files
// and the console programs tvstrip and tvconv live.
#include "fonts.h"
#include "forms.h"
#include "messagebox.h"
#include "resultname.h"
#include "terminallauncher.h"

#include <QApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QTranslator>

#include <filesystem>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tarvik_CdTe"));
    // The program ends only through the main menu's exit, which first removes
    // the exchange files; hiding the last task window must not end it.
    QApplication::setQuitOnLastWindowClosed(false);

    // Japanese captions on the standard buttons (はい / いいえ / キャンセル).
    QTranslator qtJapanese;
    if (qtJapanese.load(QStringLiteral("qtbase_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtJapanese);

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
        tarvik::showWarning(&menu, QStringLiteral("データフォルダ Tarvik_data を作成できません\n") +
                                       QDir::currentPath());
    menu.load();
    return app.exec();
}
