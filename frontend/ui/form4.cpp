#include "filechooser.h"
#include "dialoglayout.h"
#include "forms.h"
#include "messagebox.h"
#include "resultname.h"
#include "values.h"
#include "widgethelpers.h"
#ifdef TARVIK_HAVE_CHARACTERIZE
#include "characterizewindow.h"
#endif

#include <QCheckBox>
#include <QCoreApplication>
#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QListWidget>
#include <QVBoxLayout>

namespace tarvik {

using namespace ui;

Form4::Form4(AppState& state, ProgramLauncher& launcher, const std::filesystem::path& workDir,
             QWidget* mainMenu)
    : ProgramDialog(mainMenu), state_(state), launcher_(launcher), workDir_(workDir) {
    setObjectName(QStringLiteral("Form4"));
    setWindowTitle(tr("Stripping 補正"));

    const QFont lf = meiryo(10);
    QLabel* heading = label(this, "Label1", tr("補正するスペクトルデータファイルを選択"), meiryo(11, true));
    chooser = new FileChooser(QString::fromUtf8(kMeasuredPattern.data(), kMeasuredPattern.size()), this);
    chooser->setMinimumWidth(360);

    List1 = contentsList(this);

    Text3 = numberBox(this, "Text3");
    Text5 = numberBox(this, "Text5");
    Text6 = numberBox(this, "Text6");
    Text4 = textBox(this, "Text4", msGothic());
    Text1 = textBox(this, "Text1", msGothic());
    Text2 = textBox(this, "Text2", msGothic());

    Check1 = methodBox(this, tr("高精度補正 (unfold)"),
                       tr("チャネルごとのストリッピングではなく、電荷損失と分解能を含む検出器の応答全体を"
                          "逆に解いて（アンフォールディング）補正します。"));
    Command1 = goButton(this, tr("補正 GO"));
    Command2 = cancelButton(this);

    // entries under the chooser
    QGridLayout* entries = entryGrid();
    entries->addLayout(twoPartCaption(this, "Label10", tr("このデータの"), "Label6",
                                      tr("Ｘ線管電圧"), lf),
                       0, 0);
    entries->addWidget(Text3, 0, 1);
    entries->addWidget(label(this, "Label7", QStringLiteral("kV"), lf), 0, 2);
    entries->addWidget(label(this, "Label4", tr("エネルギー幅 / チャネル"), lf), 1, 0);
    entries->addWidget(Text5, 1, 1);
    entries->addWidget(label(this, "Label9", QStringLiteral("keV"), lf), 1, 2);
    entries->addWidget(label(this, "Label12", tr("スペクトルデータの先頭行"), lf), 2, 0);
    entries->addWidget(Text6, 2, 1);

    auto* left = new QVBoxLayout;
    left->addWidget(heading);
    left->addWidget(chooser, 1);
    left->addSpacing(6);
    left->addLayout(entries);
    left->addSpacing(4);
    left->addWidget(label(this, "Label2", tr("補正後のファイル名（拡張子は書かない）"), lf));
    left->addWidget(Text4);
    left->addSpacing(4);
    left->addWidget(label(this, "Label3", tr("コメント／メモ"), lf));
    auto* c1 = new QHBoxLayout;
    c1->addWidget(label(this, "Label8", tr("１"), lf));
    c1->addWidget(Text1);
    auto* c2 = new QHBoxLayout;
    c2->addWidget(label(this, "Label5", tr("２"), lf));
    c2->addWidget(Text2);
    left->addLayout(c1);
    left->addLayout(c2);

    auto* listCaption = new QHBoxLayout;
    listCaption->addWidget(label(this, "Label13", tr("行"), lf));
    listCaption->addSpacing(30);
    listCaption->addWidget(label(this, "Label11", tr("データファイルの内容"), lf));
    listCaption->addStretch();
    auto* right = new QVBoxLayout;
    right->addLayout(listCaption);
    right->addWidget(List1, 1);

    arrangeDialog(this, left, right, buttonRow({Command1, Command2}, Check1));
#ifdef TARVIK_HAVE_CHARACTERIZE
    // Beside the check box, the way to the characterization of one's own
    // detector.  It stands in the free space between the box and GO, outside
    // the layout, so that no other control moves in either language.
    Command3 = button(this, "Command3", tr("検出器の特性評価…"), meiryo(9));
    Command3->setToolTip(tr("校正用線源のスペクトルから検出器の特性（エネルギー校正、分解能、μτ）を求め、"
                            "この検出器用の応答データ（RES）を作ります。"));
    connect(Command3, &QPushButton::clicked, this, &Form4::openCharacterization);
    Check1->installEventFilter(this);
    Command1->installEventFilter(this);
    setTabOrder(Check1, Command3);  // the box, then the new button, then GO
    setTabOrder(Command3, Command1);
#endif
    resize(960, 720);

    connect(chooser, &FileChooser::fileClicked, this, &Form4::fileClicked);
    connect(Command1, &QPushButton::clicked, this, &Form4::go);
    connect(Command2, &QPushButton::clicked, this, &Form4::backToMenu);
    connect(Check1, &QCheckBox::toggled, this, [this](bool on) { state_.stripUnfold = on; });
}

CharacterizeWindow* Form4::characterizeWindow() {
#ifdef TARVIK_HAVE_CHARACTERIZE
    if (!characterize_) {
        bool ok = false;
        const double kev = Text5->text().trimmed().toDouble(&ok);
        characterize_ = new CharacterizeWindow(workDir_, ok && kev > 0 ? kev : state_.kevPerChannel.value_or(0.1), this);
    }
#endif
    return characterize_;
}

bool Form4::eventFilter(QObject* watched, QEvent* event) {
    if (Command3 && (event->type() == QEvent::Move || event->type() == QEvent::Resize)) placeCharacterizeButton();
    return ProgramDialog::eventFilter(watched, event);
}

void Form4::placeCharacterizeButton() {
    // From 12 pixels right of the box to 12 pixels left of GO, at most as
    // wide as its caption needs, centred on the box's line.
    const QRect box = Check1->geometry();
    const int left = box.right() + 1 + 12;
    const int room = Command1->geometry().left() - 12 - left;
    const int width = std::min(Command3->sizeHint().width() + 10, room);
    const int height = Command3->sizeHint().height();
    Command3->setGeometry(left, box.center().y() - (height - 1) / 2, std::max(width, 0), height);
    Command3->setVisible(width >= 40);
}

void Form4::openCharacterization() {
#ifdef TARVIK_HAVE_CHARACTERIZE
    CharacterizeWindow* w = characterizeWindow();
    w->show();
    w->raise();
    w->activateWindow();
#endif
}

void Form4::openFromMenu() {
    state_.dataFilePath.clear();
    for (QLineEdit* t : {Text1, Text2, Text3, Text4}) t->clear();
    Text5->setText(QString::fromStdString(numberAsText(state_.kevPerChannel)));
    Text6->setText(QStringLiteral("32"));
    Check1->setChecked(state_.stripUnfold);
    startInDataFolder(chooser, state_.stripOpened, workDir_);
    chooser->refresh();
    showInsteadOfMenu();
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
    e.unfold = Check1->isChecked();
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

} // namespace tarvik
