#include "exchange.h"
#include "forms.h"
#include "language_qt.h"
#include "messagebox.h"
#include "pictures.h"
#include "settings.h"
#include "values.h"
#include "widgethelpers.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QMouseEvent>
#include <QVBoxLayout>

#ifdef TARVIK_HAVE_DISPLAY
#include "form5.h"
#endif

namespace tarvik {

using namespace ui;

Form1::Form1(AppState& state, ProgramLauncher& launcher, const std::filesystem::path& workDir)
    : state_(state), launcher_(launcher), workDir_(workDir) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Tarvik_CdTe"));

    auto* picture = new EmblemPicture(this);
    picture->setToolTip(tr("　施設名をダブルクリックすると変更できます　"));

    QLabel* title = label(this, "Label6", tr("実測X線スペクトルデータ処理"), meiryo(16, true));
    title->setStyleSheet(QStringLiteral("color: #12285c;"));

    Label3 = label(this, "Label3", tr("施設名"), meiryo(14, true));
    Label3->setToolTip(tr("　ダブルクリックで変更可　"));
    Label3->setMinimumWidth(320);
    Label3->installEventFilter(this);

    const QFont info = meiryo(10.5);
    QLabel* label2 = label(this, "Label2", tr("測定器"), info);
    Label8 = label(this, "Label8", QString::fromUtf8(kDefaultAnalyser.data(), kDefaultAnalyser.size()), info);
    Label8->setToolTip(tr("　ダブルクリックで変更　"));
    QLabel* label7 = label(this, "Label7", tr("検出器"), info);
    Label10 = label(this, "Label10", QString::fromUtf8(kDefaultDetector.data(), kDefaultDetector.size()), info);
    Label10->setToolTip(tr("　ダブルクリックで変更　"));
    QLabel* label9 = label(this, "Label9", QStringLiteral("CdTe ( 3mm×3mm×1mm )"), info);
    QLabel* label4 = label(this, "Label4", tr("（1024 channnel 設定）"), info);

    QLabel* menuLabel = label(this, "Label1", QStringLiteral("MENU"), meiryo(12, true));
    menuLabel->setAlignment(Qt::AlignCenter);
    const QFont buttons = meiryo(12);
    Command2 = button(this, "Command2", tr("Stripping 補正"), buttons);
    Command5 = button(this, "Command5", tr("散乱線 → 一次線スペクトル 変換"), buttons);
    Command3 = button(this, "Command3", tr("スペクトル表示"), buttons);
    Command4 = button(this, "Command4", tr("終  了"), buttons);
    for (QPushButton* b : {Command2, Command5, Command3, Command4}) b->setMinimumHeight(40);

    const QFont note = meiryo(10);
    QLabel* label11 = label(this, "Label11", tr("測定データを補正せずに csv 形式で保存し、"), note);
    QLabel* label12 = label(this, "Label12", tr("Tarvik_dataフォルダにコピーしておいて下さい。"), note);
    for (QLabel* l : {label11, label12}) l->setStyleSheet(QStringLiteral("color: #7a1f1f;"));

    // header: emblem, title, facility and equipment
    auto* equipment = new QGridLayout;
    equipment->setHorizontalSpacing(14);
    equipment->addWidget(label2, 0, 0);
    equipment->addWidget(Label8, 0, 1);
    equipment->addWidget(label7, 1, 0);
    equipment->addWidget(Label10, 1, 1);
    equipment->addWidget(label9, 2, 1);
    equipment->addWidget(label4, 3, 1);
    equipment->setColumnStretch(2, 1);

    auto* headText = new QVBoxLayout;
    headText->addWidget(title);
    headText->addSpacing(6);
    headText->addWidget(Label3);
    headText->addSpacing(6);
    headText->addLayout(equipment);
    headText->addStretch();

    auto* head = new QHBoxLayout;
    head->addWidget(picture, 0, Qt::AlignTop);
    head->addSpacing(14);
    head->addLayout(headText, 1);

    auto* line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);

    auto* menu = new QVBoxLayout;
    menu->setSpacing(8);
    menu->addWidget(menuLabel);
    for (QPushButton* b : {Command2, Command5, Command3, Command4}) menu->addWidget(b);
    auto* menuRow = new QHBoxLayout;
    menuRow->addStretch();
    menuRow->addLayout(menu, 3);
    menuRow->addStretch();

    auto* lay = new QVBoxLayout(this);
    lay->setContentsMargins(22, 18, 22, 16);
    lay->addLayout(head);
    lay->addSpacing(8);
    lay->addWidget(line);
    lay->addSpacing(4);
    lay->addLayout(menuRow);
    lay->addSpacing(12);
    lay->addWidget(label11);
    lay->addWidget(label12);

    connect(Command2, &QPushButton::clicked, this, &Form1::openStripping);
    connect(Command5, &QPushButton::clicked, this, &Form1::openConversion);
    connect(Command3, &QPushButton::clicked, this, &Form1::openDisplay);
    connect(Command4, &QPushButton::clicked, this, [this] { close(); });

    endProgram = [] { QApplication::quit(); };
    // the window takes the size of its contents, so a long facility name widens it
    lay->setSizeConstraint(QLayout::SetFixedSize);
}

Form1::~Form1() { delete display_; }

void Form1::load() {
    const SettingsAtStart read = readSettingsAtStart(workDir_ / kSettingsFile);
    const auto& settings = read.settings;
    if (settings) {
        state_.facilityName = settings->facilityName;
        state_.kevPerChannel = settings->kevPerChannel;
        Label3->setText(QString::fromStdString(settings->facilityName));
        Label8->setText(QString::fromStdString(settings->analyserName));
        Label10->setText(QString::fromStdString(settings->detectorName));
        return;
    }
    form7().openWith(QString(), QString::fromUtf8(kDefaultAnalyser.data(), kDefaultAnalyser.size()),
                     QString::fromUtf8(kDefaultDetector.data(), kDefaultDetector.size()),
                     QString::fromUtf8(kDefaultKevPerChannel.data(), kDefaultKevPerChannel.size()),
                     read.problem.empty()
                         ? QString()
                         : QString::fromStdString(read.problem) + QLatin1Char('\n') +
                               tr("設定を入力して OK を押して下さい。"));
}

Form2& Form1::form2() {
    if (!form2_) form2_ = std::make_unique<Form2>();
    return *form2_;
}
Form6& Form1::form6() {
    if (!form6_) form6_ = std::make_unique<Form6>();
    return *form6_;
}
Form7& Form1::form7() {
    if (!form7_) form7_ = std::make_unique<Form7>(state_, workDir_, *this);
    return *form7_;
}
Form4& Form1::form4() {
    if (!form4_) form4_ = std::make_unique<Form4>(state_, launcher_, workDir_, this);
    return *form4_;
}
Form3& Form1::form3() {
    if (!form3_)
        form3_ = std::make_unique<Form3>(state_, launcher_, workDir_, this, [this] {
            Form6& f = form6();
            f.show();
            f.raise();
            f.activateWindow();
        });
    return *form3_;
}

void Form1::openStripping() { form4().openFromMenu(); }
void Form1::openConversion() { form3().openFromMenu(); }

void Form1::openDisplay() {
#ifdef TARVIK_HAVE_DISPLAY
    if (!display_)
        display_ = new Form5(state_, this, [this] {
            Form2& f = form2();
            f.show();
            f.raise();
            f.activateWindow();
        });
    static_cast<Form5*>(display_)->openFromMenu();
#else
    showWarning(this, tr("スペクトル表示はこの版では使用できません"));
#endif
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Label3 && event->type() == QEvent::MouseButtonDblClick) {
        form7().openWith(Label3->text(), QString::fromUtf8(kDefaultAnalyser.data(), kDefaultAnalyser.size()),
                         QString::fromUtf8(kDefaultDetector.data(), kDefaultDetector.size()),
                         QString::fromStdString(numberAsText(state_.kevPerChannel)));
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void Form1::closeEvent(QCloseEvent* e) {
    exitProgram();
    e->accept();
}

void Form1::exitProgram() {
    if (exiting_) return;
    exiting_ = true;
    removeExchangeFiles(workDir_);
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w != this) w->hide();
    if (endProgram) endProgram();
}

// ---------------- settings window ----------------

Form7::Form7(AppState& state, const std::filesystem::path& workDir, Form1& menu)
    : state_(state), workDir_(workDir), menu_(menu) {
    setObjectName(QStringLiteral("Form7"));
    setWindowTitle(tr("施設名称"));
    const QFont lf = meiryo(11);
    const QFont tf = msGothic(11.25);
    Text1 = textBox(this, "Text1", tf);
    Text2 = textBox(this, "Text2", tf);
    Text3 = textBox(this, "Text3", tf);
    Text4 = textBox(this, "Text4", timesNewRoman(12));
    Text1->setMinimumWidth(330);
    Text4->setMaximumWidth(90);
    Command1 = button(this, "Command1", QStringLiteral("OK"), meiryo(11));
    Command2 = button(this, "Command2", QStringLiteral("Cancel"), meiryo(11));
    Command1->setMinimumWidth(110);
    Command2->setMinimumWidth(110);

    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(8);
    grid->addWidget(label(this, "Label1", tr("施 設 名"), lf), 0, 0);
    grid->addWidget(Text1, 0, 1, 1, 2);
    grid->addWidget(label(this, "Label2", tr("測定器名"), lf), 1, 0);
    grid->addWidget(Text2, 1, 1, 1, 2);
    grid->addWidget(label(this, "Label3", tr("検出器名"), lf), 2, 0);
    grid->addWidget(Text3, 2, 1, 1, 2);
    const QFont small = meiryo(9.5);
    grid->addWidget(label(this, "Label9", QStringLiteral("CdTe ( 3mm×3mm×1mm )"), small), 3, 1, 1, 2);
    grid->addWidget(label(this, "Label4", tr("1024 channnel 固定"), small), 4, 1, 1, 2);
    grid->addWidget(label(this, "Label5", tr("1 チャネル当たりのエネルギー幅"), lf), 5, 0, 1, 2);
    auto* kev = new QHBoxLayout;
    kev->addWidget(Text4);
    kev->addWidget(label(this, "Label6", QStringLiteral("keV"), lf));
    kev->addStretch();
    // The language, in the free space at the right end of the keV row; no
    // taller than the row, so that nothing else moves.
    LanguageBox = new QComboBox(this);
    LanguageBox->setObjectName(QStringLiteral("LanguageBox"));
    LanguageBox->setFont(meiryo(9.5));
    for (Language l : {Language::Japanese, Language::English})
        LanguageBox->addItem(languageName(l), static_cast<int>(l));
    LanguageBox->setMaximumHeight(Text4->sizeHint().height());
    const QString languageTip = tr("ウィンドウの表示言語（次回の起動から）。\n"
                                   "起動時に Tarvik_CdTe --lang en / ja でも指定できます。");
    LanguageBox->setToolTip(languageTip);
    QLabel* languageLabel = label(this, "LabelLanguage", tr("表示言語"), meiryo(9.5));
    languageLabel->setToolTip(languageTip);
    languageLabel->setBuddy(LanguageBox);
    kev->addWidget(languageLabel);
    kev->addSpacing(6);
    kev->addWidget(LanguageBox);
    grid->addLayout(kev, 5, 2);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Command1);
    buttons->addSpacing(16);
    buttons->addWidget(Command2);
    buttons->addStretch();

    LabelNotice = label(this, "LabelNotice", QString(), meiryo(10));
    LabelNotice->setStyleSheet(QStringLiteral("color: #b00000;"));
    LabelNotice->setContentsMargins(0, 0, 0, 6);
    LabelNotice->hide();

    auto* lay = new QVBoxLayout(this);
    lay->setContentsMargins(22, 18, 22, 16);
    lay->addWidget(LabelNotice);
    lay->addLayout(grid);
    lay->addSpacing(14);
    lay->addLayout(buttons);

    connect(Command1, &QPushButton::clicked, this, &Form7::ok);
    connect(Command2, &QPushButton::clicked, this, &Form7::cancel);
    setFixedSize(sizeHint());
}

void Form7::openWith(const QString& facility, const QString& analyser, const QString& detector,
                     const QString& kev, const QString& notice) {
    LabelNotice->setText(notice);
    if (notice.isEmpty() != LabelNotice->isHidden()) {
        // The window grows by the notice's lines and shrinks back without it.
        LabelNotice->setVisible(!notice.isEmpty());
        layout()->invalidate();
        setFixedSize(sizeHint());
    }
    Text1->setText(facility);
    Text2->setText(analyser);
    Text3->setText(detector);
    Text4->setText(kev);
    LanguageBox->setCurrentIndex(LanguageBox->findData(static_cast<int>(keptLanguage())));
    show();
    raise();
    activateWindow();
}

void Form7::ok() {
    const std::string t1 = Text1->text().toStdString(), t2 = Text2->text().toStdString(),
                      t3 = Text3->text().toStdString(), t4 = Text4->text().toStdString();
    if (auto n = checkSettingsEntries(t1, t2, t3)) {
        showNotice(this, *n);
        return;
    }
    try {
        writeSettings(workDir_ / kSettingsFile, t1, t2, t3, t4);
    } catch (const ExchangeError& e) {
        showWarning(this, QString::fromStdString(e.what()));
        return;
    }
    menu_.Label3->setText(Text1->text());
    state_.kevPerChannel = leadingNumber(t4);
    hide();

    // A new language is kept for the next start, and the user told so in it.
    const auto chosen = static_cast<Language>(LanguageBox->currentData().toInt());
    if (chosen != keptLanguage()) {
        try {
            writeLanguageSetting(workDir_ / kLanguageFile, chosen);
            QMessageBox box(QMessageBox::NoIcon, kBoxTitle, nextStartNote(chosen), QMessageBox::Ok, &menu_);
            box.exec();
        } catch (const ExchangeError& e) {
            showWarning(&menu_, QString::fromStdString(e.what()));
        }
    }
}

Language Form7::keptLanguage() const {
    return readLanguageSetting(workDir_ / kLanguageFile).language.value_or(Language::Japanese);
}

void Form7::cancel() {
    menu_.Label3->setText(tr("ゲストユーザー"));
    hide();
}

} // namespace tarvik
