#include "messagebox.h"

#include <QMessageBox>

namespace tarvik {

void showNotice(QWidget* parent, const Notice& notice) {
    QString text = QString::fromStdString(notice.text);
    switch (notice.kind) {
    case BoxKind::Warning:
        showWarning(parent, text);
        break;
    case BoxKind::Plain: {
        QMessageBox box(QMessageBox::NoIcon, kBoxTitle, text, QMessageBox::Ok, parent);
        box.exec();
        break;
    }
    case BoxKind::Question:
        askYesNo(parent, text);
        break;
    }
}

void showWarning(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Warning, kBoxTitle, text, QMessageBox::Ok, parent);
    box.exec();
}

bool askYesNo(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, kBoxTitle, text, QMessageBox::Yes | QMessageBox::No, parent);
    return box.exec() == QMessageBox::Yes;
}

bool MessageBoxPrompt::askYesNo(const Notice& question) {
    return tarvik::askYesNo(parent_, QString::fromStdString(question.text));
}

} // namespace tarvik
