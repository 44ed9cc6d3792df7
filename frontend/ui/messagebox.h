// The message boxes of the front end: warning (exclamation mark, OK), plain
// (OK), question (Yes/No).  Captions come from the Japanese Qt translation.
#pragma once

#include "dialogs.h"

#include <QString>

class QWidget;

namespace tarvik {

inline const QString kBoxTitle = QStringLiteral("Tarvik_CdTe");

void showNotice(QWidget* parent, const Notice& notice);
void showWarning(QWidget* parent, const QString& text);
bool askYesNo(QWidget* parent, const QString& text);

// A UserPrompt that shows message boxes over `parent`.
class MessageBoxPrompt : public UserPrompt {
public:
    explicit MessageBoxPrompt(QWidget* parent) : parent_(parent) {}
    void tell(const Notice& notice) override { showNotice(parent_, notice); }
    bool askYesNo(const Notice& question) override;

private:
    QWidget* parent_;
};

} // namespace tarvik
