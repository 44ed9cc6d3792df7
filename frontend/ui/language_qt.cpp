#include "language_qt.h"

#include "texts.h"

#include "fixedio/installed.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QTranslator>

#include <cstdio>
#include <memory>

namespace tarvik {

namespace {

std::unique_ptr<QTranslator> qtOwn;   // Qt's Japanese captions
std::unique_ptr<QTranslator> ours;    // tarvik_en.qm
Language inEffect = Language::Japanese;

std::string qtTranslation(const char* context, const char* source) {
    return QCoreApplication::translate(context, source).toStdString();
}

void removeTranslators() {
    setTranslator(nullptr);
    for (auto* t : {&qtOwn, &ours}) {
        if (*t) QCoreApplication::removeTranslator(t->get());
        t->reset();
    }
}

void note(const QString& text) {
    std::fprintf(stderr, "Tarvik_CdTe: %s\n", text.toLocal8Bit().constData());
}

// A file of ours that loads and is what it claims to be: lrelease writes the
// language of the .ts into it, and a file of no translations is no use.
std::unique_ptr<QTranslator> loadOurs(const QString& code, const QStringList& folders, QString& why) {
    const QString name = QStringLiteral("tarvik_") + code + QStringLiteral(".qm");
    for (const QString& folder : folders) {
        const QString path = QDir(folder).filePath(name);
        if (!QFileInfo(path).isFile()) continue;
        auto t = std::make_unique<QTranslator>();
        if (!t->load(path)) {
            why = path + QStringLiteral(" cannot be loaded (damaged?)");
            return nullptr;
        }
        if (t->isEmpty() || t->language() != code) {
            why = path + QStringLiteral(" holds no ") + code + QStringLiteral(" translations");
            return nullptr;
        }
        return t;
    }
    why = name + QStringLiteral(" not found in ") + folders.join(QStringLiteral(", "));
    return nullptr;
}

} // namespace

QStringList translationFolders() {
    QStringList folders;
    if (auto installed = fixedio::installedDataFolder())
        folders << QString::fromStdString((*installed / "translations").string());
#ifdef TARVIK_BUILD_TRANSLATIONS
    folders << QStringLiteral(TARVIK_BUILD_TRANSLATIONS);
#endif
    return folders;
}

Language installLanguage(Language wanted, const QStringList& folders) {
    removeTranslators();
    if (wanted == Language::English) {
        QString why;
        if (auto t = loadOurs(QStringLiteral("en"), folders, why)) {
            ours = std::move(t);
            QCoreApplication::installTranslator(ours.get());
            setTranslator(&qtTranslation);
            inEffect = Language::English;
            return inEffect;
        }
        note(why + QStringLiteral("; the windows stay in Japanese"));
    }
    auto qt = std::make_unique<QTranslator>();
    if (qt->load(QStringLiteral("qtbase_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        qtOwn = std::move(qt);
        QCoreApplication::installTranslator(qtOwn.get());
    }
    inEffect = Language::Japanese;
    return inEffect;
}

Language currentLanguage() { return inEffect; }

Language startLanguage(const std::optional<Language>& commandLine, const std::filesystem::path& workDir) {
    if (commandLine) return *commandLine;
    const LanguageSetting kept = readLanguageSetting(workDir / kLanguageFile);
    if (!kept.problem.empty())
        note(QString::fromStdString(kept.problem) + QStringLiteral("; it is ignored and the windows are in Japanese"));
    return kept.language.value_or(Language::Japanese);
}

QString languageName(Language language) {
    return language == Language::English ? QStringLiteral("English") : QStringLiteral("日本語");
}

QString nextStartNote(Language chosen) {
    return chosen == Language::English ? QStringLiteral("The windows will be in English from the next start.")
                                       : QStringLiteral("次回の起動から日本語で表示します。");
}

} // namespace tarvik
