#include "filechooser.h"
#include "forms.h"
#include "messagebox.h"
#include "resultname.h"
#include "values.h"
#include "widgethelpers.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QListWidget>
#include <QVBoxLayout>

namespace tarvik {

using namespace ui;

Form4::Form4(AppState& state, ProgramLauncher& launcher, const std::filesystem::path& workDir,
             QWidget* mainMenu)
    : state_(state), launcher_(launcher), workDir_(workDir), menu_(mainMenu) {
    setObjectName(QStringLiteral("Form4"));
    setWindowTitle(QStringLiteral("Stripping 補正"));

    const QFont lf = meiryo(10);
    QLabel* heading = label(this, "Label1", QStringLiteral("補正するスペクトルデータファイルを選択"), meiryo(11, true));
    chooser = new FileChooser(QString::fromUtf8(kMeasuredPattern.data(), kMeasuredPattern.size()), this);
    chooser->setMinimumWidth(360);

    List1 = new QListWidget(this);
    List1->setObjectName(QStringLiteral("List1"));
    List1->setFont(msGothic(10));
    List1->setMinimumWidth(440);

    Text3 = textBox(this, "Text3", timesNewRoman());
    Text5 = textBox(this, "Text5", timesNewRoman());
    Text6 = textBox(this, "Text6", timesNewRoman());
    for (QLineEdit* t : {Text3, Text5, Text6}) t->setMaximumWidth(90);
    Text4 = textBox(this, "Text4", msGothic());
    Text1 = textBox(this, "Text1", msGothic());
    Text2 = textBox(this, "Text2", msGothic());

    Command1 = button(this, "Command1", QStringLiteral("補正 GO"), meiryo(12, true));
    Command2 = button(this, "Command2", QStringLiteral("キャンセル"), meiryo(11));
    Command2->setToolTip(QStringLiteral(" やーめた "));
    Command1->setMinimumSize(150, 40);
    Command2->setMinimumSize(130, 40);

    // entries under the chooser
    auto* entries = new QGridLayout;
    entries->setHorizontalSpacing(6);
    entries->setVerticalSpacing(5);
    auto* voltageCaption = new QHBoxLayout;
    voltageCaption->setSpacing(2);
    voltageCaption->addWidget(label(this, "Label10", QStringLiteral("このデータの"), lf));
    voltageCaption->addWidget(label(this, "Label6", QStringLiteral("Ｘ線管電圧"), lf));
    voltageCaption->addStretch();
    entries->addLayout(voltageCaption, 0, 0);
    entries->addWidget(Text3, 0, 1);
    entries->addWidget(label(this, "Label7", QStringLiteral("kV"), lf), 0, 2);
    entries->addWidget(label(this, "Label4", QStringLiteral("エネルギー幅 / チャネル"), lf), 1, 0);
    entries->addWidget(Text5, 1, 1);
    entries->addWidget(label(this, "Label9", QStringLiteral("keV"), lf), 1, 2);
    entries->addWidget(label(this, "Label12", QStringLiteral("スペクトルデータの先頭行"), lf), 2, 0);
    entries->addWidget(Text6, 2, 1);
    entries->setColumnStretch(3, 1);

    auto* left = new QVBoxLayout;
    left->addWidget(heading);
    left->addWidget(chooser, 1);
    left->addSpacing(6);
    left->addLayout(entries);
    left->addSpacing(4);
    left->addWidget(label(this, "Label2", QStringLiteral("補正後のファイル名（拡張子は書かない）"), lf));
    left->addWidget(Text4);
    left->addSpacing(4);
    left->addWidget(label(this, "Label3", QStringLiteral("コメント／メモ"), lf));
    auto* c1 = new QHBoxLayout;
    c1->addWidget(label(this, "Label8", QStringLiteral("１"), lf));
    c1->addWidget(Text1);
    auto* c2 = new QHBoxLayout;
    c2->addWidget(label(this, "Label5", QStringLiteral("２"), lf));
    c2->addWidget(Text2);
    left->addLayout(c1);
    left->addLayout(c2);

    auto* listCaption = new QHBoxLayout;
    listCaption->addWidget(label(this, "Label13", QStringLiteral("行"), lf));
    listCaption->addSpacing(30);
    listCaption->addWidget(label(this, "Label11", QStringLiteral("データファイルの内容"), lf));
    listCaption->addStretch();
    auto* right = new QVBoxLayout;
    right->addLayout(listCaption);
    right->addWidget(List1, 1);

    auto* columns = new QHBoxLayout;
    columns->addLayout(left, 0);
    columns->addSpacing(10);
    columns->addLayout(right, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Command1);
    buttons->addSpacing(30);
    buttons->addWidget(Command2);
    buttons->addStretch();

    auto* lay = new QVBoxLayout(this);
    lay->setContentsMargins(14, 12, 14, 12);
    lay->addLayout(columns, 1);
    lay->addSpacing(8);
    lay->addLayout(buttons);
    resize(960, 720);

    connect(chooser, &FileChooser::fileClicked, this, &Form4::fileClicked);
    connect(Command1, &QPushButton::clicked, this, &Form4::go);
    connect(Command2, &QPushButton::clicked, this, &Form4::backToMenu);
}

void Form4::openFromMenu() {
    state_.dataFilePath.clear();
    for (QLineEdit* t : {Text1, Text2, Text3, Text4}) t->clear();
    Text5->setText(QString::fromStdString(numberAsText(state_.kevPerChannel)));
    Text6->setText(QStringLiteral("32"));
    if (state_.stripOpened == 0) {
        if (chooser->setFolder(QString::fromStdString((workDir_ / kDataFolder).string())))
            state_.stripOpened = 1;
        else
            showWarning(this, QStringLiteral("データフォルダ Tarvik_data が見つかりません"));
    }
    chooser->refresh();
    show();
    raise();
    activateWindow();
    if (menu_) menu_->hide();
}

void Form4::fileClicked(const QString& name) {
    List1->clear();
    StripClick click = stripFileClicked(state_, chooser->folder().toStdString(), name.toStdString());
    for (const std::string& l : click.lines) List1->addItem(QString::fromStdString(l));
    Text4->setText(QString::fromStdString(click.proposedName));
    Text4->home(false);
    if (click.error) showNotice(this, *click.error);
}

void Form4::go() {
    StripEntries e;
    e.folder = chooser->folder().toStdString();
    e.selectedFile = chooser->selectedFile().toStdString();
    e.text1 = Text1->text().toStdString();
    e.text2 = Text2->text().toStdString();
    e.text3 = Text3->text().toStdString();
    e.text4 = Text4->text().toStdString();
    e.text5 = Text5->text().toStdString();
    e.text6 = Text6->text().toStdString();
    MessageBoxPrompt prompt(this);
    switch (stripGo(state_, e, workDir_, prompt, launcher_)) {
    case GoOutcome::Refused:
        break;
    case GoOutcome::Declined:
        Text4->clear();
        break;
    case GoOutcome::Started:
        backToMenu();
        break;
    }
}

void Form4::backToMenu() {
    hide();
    if (menu_) menu_->show();
}

void Form4::closeEvent(QCloseEvent* e) {
    // the close box returns to the menu like "キャンセル"; the window keeps
    // its folder and contents for the next opening
    e->accept();
    if (menu_) menu_->show();
}

} // namespace tarvik
