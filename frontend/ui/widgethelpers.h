// Small builders for the controls of the windows: each control gets its
// name (Label1, Text1, Command1 ...) as object name, so that it can be
// found by it.
#pragma once

#include "fonts.h"

#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QString>

namespace tarvik::ui {

inline QFont meiryo(double points, bool bold = false) {
    QFont f(kMeiryo);
    f.setPointSizeF(points);
    f.setBold(bold);
    return f;
}
inline QFont msGothic(double points = 11.25) {
    QFont f(kMsGothic);
    f.setPointSizeF(points);
    f.setStyleHint(QFont::TypeWriter);
    return f;
}
inline QFont timesNewRoman(double points = 12) {
    QFont f(kTimes);
    f.setPointSizeF(points);
    f.setStyleHint(QFont::Serif);
    return f;
}

inline QLabel* label(QWidget* parent, const char* name, const QString& text) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(QString::fromLatin1(name));
    return l;
}
inline QLabel* label(QWidget* parent, const char* name, const QString& text, const QFont& font) {
    QLabel* l = label(parent, name, text);
    l->setFont(font);
    return l;
}
inline QLineEdit* textBox(QWidget* parent, const char* name, const QFont& font) {
    auto* t = new QLineEdit(parent);
    t->setObjectName(QString::fromLatin1(name));
    t->setFont(font);
    return t;
}
inline QPushButton* button(QWidget* parent, const char* name, const QString& text, const QFont& font) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setFont(font);
    b->setAutoDefault(false);
    return b;
}

} // namespace tarvik::ui
