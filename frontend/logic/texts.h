// The texts the front end's rules show the user (messages, notes) are
// written here in Japanese, the front end's own language.  A window layer
// that shows another language installs a translator once at start; without
// one (the console programs, the command line tarvik, the tests) every text
// is the Japanese source itself, byte for byte.
//
// Texts are marked for the translation tools by their literal form:
// translate("Context", "source") where they are used, TARVIK_TEXT("Context",
// "source") where a constant keeps them (frontend/README.md).
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

// Marks a text kept in a constant for the translation tools; it is the text.
#define TARVIK_TEXT(context, source) source

namespace tarvik {

// Looks up `source` (UTF-8) of `context` in the front end's language.
using Translator = std::string (*)(const char* context, const char* source);

// Installs the translator; nullptr goes back to the Japanese sources.
// Call before the first text is asked for (it is read without locking).
void setTranslator(Translator translator);

// The text in the front end's language: the translator's answer, or the
// source when none is installed or it has no answer.
std::string translate(const char* context, const char* source);

// `pattern` with %1 ... %9 replaced by the arguments (a placeholder without
// an argument stays as it is); a translation may reorder the placeholders.
std::string withArgs(std::string_view pattern, std::initializer_list<std::string_view> args);

} // namespace tarvik
