// The windows' language at run time: Qt's translators for it and the
// translator of the Qt-free rules (texts.h).  Japanese needs no file of
// ours (the texts are written in it) and takes Qt's own Japanese captions
// (はい / いいえ / キャンセル); English takes tarvik_en.qm, looked for in the
// installed data (<prefix>/share/tarvik/translations) and in the build tree.
#pragma once

#include "language.h"

#include <QString>
#include <QStringList>

#include <filesystem>
#include <optional>

namespace tarvik {

// Where tarvik_<code>.qm is looked for, in this order.
QStringList translationFolders();

// Installs the translators for `wanted` (replacing any installed before)
// and returns the language now in effect.  When the English file is
// missing, damaged or incomplete the windows stay Japanese, and a note on
// stderr says why.  Call after the QApplication exists, before the first
// window is built.
Language installLanguage(Language wanted, const QStringList& folders = translationFolders());

// The language installLanguage put in effect last (Japanese before it).
Language currentLanguage();

// The language a run starts in: `--lang` when given, else the choice kept
// in Language.txt of `workDir`, else Japanese.  A setting that cannot be
// read is ignored, with a note on stderr.
Language startLanguage(const std::optional<Language>& commandLine, const std::filesystem::path& workDir);

// Each language's own name, as the settings window offers it ("日本語",
// "English"), and the note that a new choice takes effect at the next
// start, in the chosen language.
QString languageName(Language language);
QString nextStartNote(Language chosen);

} // namespace tarvik
