#include "dialoglayout.h"

#include "appstate.h"
#include "filechooser.h"
#include "forms.h"
#include "messagebox.h"
#include "resultname.h"
#include "widgethelpers.h"

#include <QCloseEvent>
#include <QCoreApplication>

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QListWidget>
#include <QVBoxLayout>

namespace tarvik::ui {
namespace {

// An empty control that always asks for the size of its twin.
class MirrorSpace : public QWidget {
public:
    explicit MirrorSpace(QWidget* twin) : QWidget(twin->parentWidget()), twin_(twin) {
        setSizePolicy(twin->sizePolicy());
    }
    QSize sizeHint() const override { return twin_->sizeHint(); }
    QSize minimumSizeHint() const override { return twin_->minimumSizeHint(); }

private:
    QWidget* twin_;
};

} // namespace

QListWidget* contentsList(QWidget* parent) {
    auto* list = new QListWidget(parent);
    list->setObjectName(QStringLiteral("List1"));
    list->setFont(msGothic(10));
    list->setMinimumWidth(440);
    return list;
}

QLineEdit* numberBox(QWidget* parent, const char* name) {
    QLineEdit* box = textBox(parent, name, timesNewRoman());
    box->setMaximumWidth(90);
    return box;
}

QPushButton* goButton(QWidget* parent, const QString& caption) {
    QPushButton* b = button(parent, "Command1", caption, meiryo(12, true));
    b->setMinimumSize(150, 40);
    return b;
}

QPushButton* cancelButton(QWidget* parent) {
    QPushButton* b = button(parent, "Command2", QCoreApplication::translate("tarvik::ui", "キャンセル"), meiryo(11));
    b->setToolTip(QCoreApplication::translate("tarvik::ui", " やーめた "));
    b->setMinimumSize(130, 40);
    return b;
}

QGridLayout* entryGrid() {
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(5);
    grid->setColumnStretch(3, 1);
    return grid;
}

QHBoxLayout* twoPartCaption(QWidget* parent, const char* name1, const QString& text1, const char* name2,
                            const QString& text2, const QFont& font) {
    auto* row = new QHBoxLayout;
    row->setSpacing(2);
    row->addWidget(label(parent, name1, text1, font));
    row->addWidget(label(parent, name2, text2, font));
    row->addStretch();
    return row;
}

QCheckBox* methodBox(QWidget* parent, const QString& caption, const QString& toolTip) {
    auto* box = new QCheckBox(caption, parent);
    box->setObjectName(QStringLiteral("Check1"));
    box->setFont(meiryo(10));
    box->setToolTip(toolTip);
    box->setChecked(false);
    return box;
}

QHBoxLayout* buttonRow(std::initializer_list<QPushButton*> buttons, QWidget* leading) {
    auto* row = new QHBoxLayout;
    if (leading) row->addWidget(leading);
    row->addStretch();
    bool first = true;
    for (QPushButton* b : buttons) {
        if (!first) row->addSpacing(30);
        row->addWidget(b);
        first = false;
    }
    row->addStretch();
    // An empty twin of the leading control at the right end: both ends then
    // take the same width and the same spacing, and the two stretches the
    // same share, so the buttons stay centred where they stand without it.
    if (leading) row->addWidget(new MirrorSpace(leading));
    return row;
}

void arrangeDialog(QWidget* dialog, QLayout* left, QLayout* right, QLayout* buttons) {
    auto* columns = new QHBoxLayout;
    columns->addLayout(left, 0);
    columns->addSpacing(10);
    columns->addLayout(right, 1);

    auto* lay = new QVBoxLayout(dialog);
    lay->setContentsMargins(14, 12, 14, 12);
    lay->addLayout(columns, 1);
    lay->addSpacing(8);
    lay->addLayout(buttons);
}

} // namespace tarvik::ui

namespace tarvik {

void ProgramDialog::showInsteadOfMenu() {
    show();
    raise();
    activateWindow();
    if (menu_) menu_->hide();
}

void ProgramDialog::backToMenu() {
    hide();
    if (menu_) menu_->show();
}

void ProgramDialog::closeEvent(QCloseEvent* e) {
    e->accept();
    if (menu_) menu_->show();
}

void ProgramDialog::startInDataFolder(FileChooser* chooser, int& opened, const std::filesystem::path& workDir) {
    if (opened != 0) return;
    if (chooser->setFolder(QString::fromStdString((workDir / kDataFolder).string())))
        opened = 1;
    else
        showWarning(this, tr("データフォルダ Tarvik_data が見つかりません"));
}

} // namespace tarvik
