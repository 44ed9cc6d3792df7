// The building blocks that the stripping dialog (Form4) and the conversion
// dialog (Form3) share: the chooser column on the left with its entry grid,
// the list of the clicked file's lines on the right, the row of buttons at
// the bottom, and the check box that selects the unfolding method.
#pragma once

#include <QFont>
#include <QString>

#include <initializer_list>

class QCheckBox;
class QGridLayout;
class QHBoxLayout;
class QLayout;
class QLineEdit;
class QListWidget;
class QPushButton;
class QWidget;

namespace tarvik::ui {

// List1: the clicked file's lines, in a fixed-pitch font.
QListWidget* contentsList(QWidget* parent);

// A box for a number: Times New Roman, at most 90 pixels wide.
QLineEdit* numberBox(QWidget* parent, const char* name);

// Command1, the button that starts the program, and Command2 "キャンセル".
QPushButton* goButton(QWidget* parent, const QString& caption);
QPushButton* cancelButton(QWidget* parent);

// The grid of captions, boxes and units under the chooser; its fourth column
// takes the spare width.
QGridLayout* entryGrid();

// A caption made of two labels side by side.
QHBoxLayout* twoPartCaption(QWidget* parent, const char* name1, const QString& text1, const char* name2,
                            const QString& text2, const QFont& font);

// Check1: the choice of the unfolding method, unchecked.
QCheckBox* methodBox(QWidget* parent, const QString& caption, const QString& toolTip);

// The buttons centred at the bottom, 30 pixels apart.  A control given as
// `leading` stands at the left end of the row; an equal space at the right
// end keeps the buttons exactly where they stand without it.
QHBoxLayout* buttonRow(std::initializer_list<QPushButton*> buttons, QWidget* leading = nullptr);

// Lays out the dialog: the left column (its natural width) and the right
// column (the rest) side by side, the button row under them.
void arrangeDialog(QWidget* dialog, QLayout* left, QLayout* right, QLayout* buttons);

} // namespace tarvik::ui
