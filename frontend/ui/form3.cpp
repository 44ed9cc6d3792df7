#include "filechooser.h"
#include "dialoglayout.h"
#include "forms.h"
#include "messagebox.h"
#include "resultname.h"
#include "values.h"
#include "widgethelpers.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QListWidget>
#include <QRadioButton>
#include <QVBoxLayout>

namespace tarvik {

using namespace ui;

Form3::Form3(AppState& state, ProgramLauncher& launcher, const std::filesystem::path& workDir,
             QWidget* mainMenu, std::function<void()> showAngleInfo)
    : ProgramDialog(mainMenu), state_(state), launcher_(launcher), workDir_(workDir),
      showAngleInfo_(std::move(showAngleInfo)) {
    setObjectName(QStringLiteral("Form3"));
    setWindowTitle(tr("Scatter →Primary"));

    const QFont lf = meiryo(10);
    QLabel* title = label(this, "Label1", tr("Scatter → Primary 変換"), meiryo(14, true));
    title->setStyleSheet(QStringLiteral("color: #12285c;"));
    QLabel* heading = label(this, "Label12", tr("データファイルを選択"), meiryo(11, true));
    chooser = new FileChooser(QString::fromUtf8(kStrippedPattern.data(), kStrippedPattern.size()), this);
    chooser->setMinimumWidth(380);

    List1 = contentsList(this);

    Text1 = textBox(this, "Text1", msGothic());
    Text2 = textBox(this, "Text2", msGothic());
    Text3 = numberBox(this, "Text3");
    Text5 = numberBox(this, "Text5");
    Text6 = numberBox(this, "Text6");
    Text4 = textBox(this, "Text4", msGothic());

    auto* frame = new QGroupBox(tr("散乱体"), this);
    frame->setObjectName(QStringLiteral("Frame1"));
    frame->setFont(lf);
    Option1 = new QRadioButton(QStringLiteral("Carbon"), frame);
    Option1->setObjectName(QStringLiteral("Option1"));
    Option2 = new QRadioButton(QStringLiteral("PMMA"), frame);
    Option2->setObjectName(QStringLiteral("Option2"));
    auto* frameLay = new QHBoxLayout(frame);
    frameLay->addWidget(Option1);
    frameLay->addSpacing(20);
    frameLay->addWidget(Option2);
    frameLay->addStretch();
    Option1->setChecked(true);

    Check1 = methodBox(this, tr("高精度変換 (unfold)"),
                       tr("散乱体中のコヒーレント散乱、コンプトン線のドップラー広がりと減弱を模擬し、"
                          "一次線スペクトルを逆に解いて（アンフォールディング）求めます。"));
    Command1 = goButton(this, tr("変換 Go"));
    Command2 = cancelButton(this);
    Command3 = button(this, "Command3", tr("散乱角度について"), meiryo(10));
    Command3->setMinimumHeight(40);

    auto* left = new QVBoxLayout;
    left->setSpacing(4);
    left->addWidget(title);
    left->addWidget(heading);
    left->addWidget(chooser, 1);
    left->addSpacing(4);
    left->addWidget(label(this, "Label5", tr("このデータのコメント／メモ（書き換え可）"), lf));
    left->addWidget(Text1);
    left->addWidget(Text2);

    QGridLayout* grid = entryGrid();
    grid->addWidget(label(this, "Label10", tr("このデータのＸ線管電圧"), lf), 0, 0);
    grid->addWidget(Text3, 0, 1);
    grid->addWidget(label(this, "Label7", QStringLiteral("kV"), lf), 0, 2);
    grid->addWidget(frame, 1, 0, 1, 4);
    grid->addLayout(twoPartCaption(this, "Label8", tr("散乱体自身による"), "Label13",
                                   tr("自己減弱長（約）"), lf),
                    2, 0);
    grid->addWidget(Text6, 2, 1);
    grid->addWidget(label(this, "Label9", QStringLiteral("mm"), lf), 2, 2);
    grid->addWidget(label(this, "Label3", tr("散乱角度"), lf), 3, 0);
    grid->addWidget(Text5, 3, 1);
    grid->addWidget(label(this, "Label6", tr("度"), lf), 3, 2);
    left->addSpacing(4);
    left->addLayout(grid);
    left->addSpacing(4);
    left->addWidget(label(this, "Label2", tr("変換後のファイル名（拡張子は書かない）"), lf));
    left->addWidget(Text4);

    auto* right = new QVBoxLayout;
    right->addWidget(label(this, "Label11", tr("データファイルの内容"), lf));
    right->addWidget(List1, 1);

    arrangeDialog(this, left, right, buttonRow({Command1, Command2, Command3}, Check1));
    resize(980, 780);

    // Tab goes through the entries in the order they stand in the window.
    QWidget* order[] = {Text1, Text2, Text3, Option1, Option2, Text6, Text5, Text4, Check1, Command1, Command2, Command3};
    for (std::size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);

    connect(chooser, &FileChooser::fileClicked, this, &Form3::fileClicked);
    connect(Command1, &QPushButton::clicked, this, &Form3::go);
    connect(Command2, &QPushButton::clicked, this, &Form3::backToMenu);
    connect(Check1, &QCheckBox::toggled, this, [this](bool on) { state_.convertUnfold = on; });
    connect(Command3, &QPushButton::clicked, this, [this] {
        if (showAngleInfo_) showAngleInfo_();
    });
}

void Form3::openFromMenu() {
    state_.dataFilePath.clear();
    Text1->clear();
    Text2->clear();
    Text3->setText(QString::fromStdString(numberAsText(state_.tubeVoltage)));
    Text5->setText(QStringLiteral("90"));
    Text6->setText(QStringLiteral("10"));
    Option1->setChecked(true);
    Check1->setChecked(state_.convertUnfold);
    startInDataFolder(chooser, state_.convertOpened, workDir_);
    chooser->refresh();
    List1->clear();
    showInsteadOfMenu();
}

void Form3::fileClicked(const QString& name) {
    List1->clear();
    ConvertClick click = convertFileClicked(state_, chooser->folder().toStdString(), name.toStdString());
    for (const std::string& l : click.listItems) List1->addItem(QString::fromStdString(l));
    // The boxes show their texts from the start: the comment lines of a
    // result are padded with blanks to 60 columns, and a box scrolled to its
    // end would show only those blanks.
    if (!click.error) {
        Text1->setText(QString::fromStdString(click.text1));
        Text2->setText(QString::fromStdString(click.text2));
        Text3->setText(QString::fromStdString(click.text3));
        Text1->home(false);
        Text2->home(false);
    }
    Text4->setText(QString::fromStdString(click.proposedName));
    Text4->home(false);
    if (click.error) showNotice(this, *click.error);
}

void Form3::go() {
    ConvertEntries e;
    e.folder = chooser->folder().toStdString();
    e.selectedFile = chooser->selectedFile().toStdString();
    e.text1 = Text1->text().toStdString();
    e.text2 = Text2->text().toStdString();
    e.text3 = Text3->text().toStdString();
    e.text4 = Text4->text().toStdString();
    e.text5 = Text5->text().toStdString();
    e.text6 = Text6->text().toStdString();
    e.carbon = Option1->isChecked();
    e.unfold = Check1->isChecked();
    MessageBoxPrompt prompt(this);
    if (convertGo(state_, e, workDir_, prompt, launcher_) == GoOutcome::Started) backToMenu();
}

} // namespace tarvik
