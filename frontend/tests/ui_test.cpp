// The windows driven as a user would, on the offscreen platform: open a
// dialog from the menu, click a file, press GO, answer the message boxes.
#include "filechooser.h"
#include "forms.h"
#ifdef TARVIK_HAVE_CHARACTERIZE
#include "characterizewindow.h"

#include "detector/source_sim.h"

#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTabWidget>
#include <QTableWidget>
#endif
#include "terminallauncher.h"
#include "testutil.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QLabel>
#include <QLineEdit>
#include <QLibraryInfo>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QTranslator>

#include <gtest/gtest.h>

using namespace tarvik;
using namespace tarvik::test;

namespace {

// Answers the next modal message box: records its text and presses the
// button with the given role.
class BoxAnswerer {
public:
    explicit BoxAnswerer(QMessageBox::StandardButton press = QMessageBox::Ok) : press_(press) {
        QTimer::singleShot(0, [this] { answer(); });
    }
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QStringList buttons;

private:
    void answer() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) {  // not open yet: look again shortly
            QTimer::singleShot(10, [this] { answer(); });
            return;
        }
        text = box->text();
        icon = box->icon();
        for (QAbstractButton* b : box->buttons()) buttons << b->text();
        QAbstractButton* b = box->button(press_);
        if (b) b->click();
        else box->reject();
    }
    QMessageBox::StandardButton press_;
};

class WindowsTest : public ::testing::Test {
protected:
    void SetUp() override {
        menu = std::make_unique<Form1>(state, launcher, dir.path());
        menu->endProgram = [this] { ended = true; };
        menu->show();
    }
    void TearDown() override { menu.reset(); }

    ScratchFolder dir;
    AppState state;
    RecordingLauncher launcher;
    std::unique_ptr<Form1> menu;
    bool ended = false;
};

std::string stripped() {
    std::string s = "comment" + std::string(53, ' ') + "\r\n" + std::string(60, ' ') + "\r\n 80\r\n  .100\r\n";
    for (int i = 1; i <= 17; ++i) s += "Header " + std::to_string(i) + "\r\n";
    s += "  Ch.   KeV    Counts\r\n";
    for (int ch = 1; ch <= 1024; ++ch) s += std::to_string(ch) + " 0.1 " + std::to_string(ch) + "\r\n";
    return s;
}

} // namespace

TEST_F(WindowsTest, StartWithoutSettingsOpensSettingsAndOkWritesThem) {
    menu->load();
    Form7& f7 = menu->form7();
    ASSERT_TRUE(f7.isVisible());
    EXPECT_TRUE(menu->isVisible());
    EXPECT_EQ(f7.Text2->text(), "RAMTEC-413");
    EXPECT_EQ(f7.Text4->text(), "0.2");

    {  // no facility name: warning, window stays
        BoxAnswerer box;
        f7.Command1->click();
        EXPECT_EQ(box.text, " 名称を入力して下さい ");
        EXPECT_EQ(box.icon, QMessageBox::Warning);
    }
    EXPECT_TRUE(f7.isVisible());
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "UserName.txt"));

    f7.Text1->setText("テスト病院");
    f7.Text4->setText("0.25");
    f7.Command1->click();
    EXPECT_FALSE(f7.isVisible());
    EXPECT_EQ(menu->Label3->text(), "テスト病院");
    EXPECT_EQ(state.kevPerChannel, 0.25);
    EXPECT_EQ(state.facilityName, "");  // the printout shows it from the next start
    EXPECT_EQ(readBytes(dir.path() / "UserName.txt"),
              "\x83\x65\x83\x58\x83\x67\x95\x61\x89\x40\r\nRAMTEC-413\r\nXR-100T-CdTe\r\n0.25\r\n");
}

TEST_F(WindowsTest, DamagedSettingsFileOpensTheSettingsWindowWithTheReason) {
    writeBytes(dir.path() / "UserName.txt", "Lab\r\nMCA-9\r\nDe");  // cut short by a crash
    menu->load();
    Form7& f7 = menu->form7();
    ASSERT_TRUE(f7.isVisible());
    EXPECT_TRUE(menu->isVisible());
    EXPECT_EQ(menu->Label3->text(), "施設名");  // nothing of the damaged file is shown
    ASSERT_TRUE(f7.LabelNotice->isVisible());
    EXPECT_TRUE(f7.LabelNotice->text().contains("UserName.txt を読めませんでした"));
    EXPECT_TRUE(f7.LabelNotice->text().contains("4 行目のエネルギー幅がありません"));
    const int grownHeight = f7.height();

    f7.Text1->setText("Lab");
    f7.Command1->click();
    EXPECT_FALSE(f7.isVisible());
    EXPECT_EQ(readBytes(dir.path() / "UserName.txt"), "Lab\r\nRAMTEC-413\r\nXR-100T-CdTe\r\n0.2\r\n");

    // Opened again by a double-click the window carries no notice.
    QTest::mouseDClick(menu->Label3, Qt::LeftButton);
    EXPECT_TRUE(f7.isVisible());
    EXPECT_FALSE(f7.LabelNotice->isVisible());
    EXPECT_LT(f7.height(), grownHeight);
}

TEST_F(WindowsTest, FirstStartShowsNoNotice) {
    menu->load();
    ASSERT_TRUE(menu->form7().isVisible());
    EXPECT_FALSE(menu->form7().LabelNotice->isVisible());
}

TEST_F(WindowsTest, CancelMakesAGuestAndTheStrippingDialogOpensWithAnEmptyWidth) {
    menu->load();
    menu->form7().Command2->click();
    EXPECT_EQ(menu->Label3->text(), "ゲストユーザー");
    menu->Command2->click();
    EXPECT_EQ(menu->form4().Text5->text(), "");
    EXPECT_EQ(menu->form4().Text6->text(), "32");
}

TEST_F(WindowsTest, SettingsFileFillsTheMenuAndDoubleClickProposesItsWidth) {
    writeBytes(dir.path() / "UserName.txt", "Lab\r\nMCA-9\r\nDet-2\r\n0.25\r\n");
    menu->load();
    EXPECT_FALSE(menu->form7().isVisible());
    EXPECT_EQ(menu->Label3->text(), "Lab");
    EXPECT_EQ(menu->Label8->text(), "MCA-9");
    EXPECT_EQ(menu->Label10->text(), "Det-2");
    QTest::mouseDClick(menu->Label3, Qt::LeftButton);
    Form7& f7 = menu->form7();
    EXPECT_TRUE(f7.isVisible());
    EXPECT_EQ(f7.Text1->text(), "Lab");
    EXPECT_EQ(f7.Text2->text(), "RAMTEC-413");  // the fixed defaults, not the menu's names
    EXPECT_EQ(f7.Text4->text(), "0.25");
}

TEST_F(WindowsTest, StrippingRunFromTheMenu) {
    writeBytes(dir.data() / "sample.csv", measuredFile(31, [](int ch) { return ch; }));
    state.kevPerChannel = 0.1;
    menu->Command2->click();
    Form4& f4 = menu->form4();
    ASSERT_TRUE(f4.isVisible());
    EXPECT_FALSE(menu->isVisible());
    EXPECT_EQ(f4.chooser->folder().toStdString(), dir.data().string());
    EXPECT_EQ(f4.Text5->text(), "0.1");

    {  // nothing selected yet
        BoxAnswerer box;
        f4.Command1->click();
        EXPECT_EQ(box.text, "ファイルを選択して下さい");
        EXPECT_EQ(box.icon, QMessageBox::Warning);
    }
    QListWidget* files = f4.chooser->fileList();
    ASSERT_EQ(files->count(), 1);
    QTest::mouseClick(files->viewport(), Qt::LeftButton, {}, files->visualItemRect(files->item(0)).center());
    EXPECT_EQ(f4.List1->count(), 31 + 1024);
    EXPECT_EQ(f4.List1->item(3)->text(), "0004 : Header line 4");
    EXPECT_EQ(f4.Text4->text(), "sample");

    {  // the voltage box is still empty
        BoxAnswerer box;
        f4.Command1->click();
        EXPECT_EQ(box.text, "Ｘ線管電圧が入力されていません");
    }
    QTest::keyClicks(f4.Text3, "80");
    f4.Command1->click();
    EXPECT_FALSE(f4.isVisible());
    EXPECT_TRUE(menu->isVisible());
    ASSERT_EQ(launcher.started.size(), 1u);
    EXPECT_EQ(launcher.started[0].program, "tvstrip");
    EXPECT_EQ(splitCrLf(readBytes(dir.path() / "TempFile.dat"))[0], "Tarvik_data\\sample.mca1");
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "Com.txt"));

    // an existing result: No empties the name and writes nothing new
    writeBytes(dir.data() / "sample.mca1", "old");
    std::filesystem::remove(dir.path() / "TempFile.dat");
    menu->Command2->click();
    EXPECT_EQ(f4.List1->count(), 31 + 1024);  // the list keeps the last file's lines
    EXPECT_TRUE(f4.Text4->text().isEmpty());
    f4.chooser->clickFile("sample.csv");
    f4.Text3->setText("80");
    {
        BoxAnswerer box(QMessageBox::No);
        f4.Command1->click();
        EXPECT_EQ(box.text, "同名のファイルが既に存在します。上書きしますか？");
        EXPECT_EQ(box.icon, QMessageBox::NoIcon);
        ASSERT_EQ(box.buttons.size(), 2);
        EXPECT_TRUE(box.buttons.join(' ').contains("はい")) << box.buttons.join(' ').toStdString();
        EXPECT_TRUE(box.buttons.join(' ').contains("いいえ"));
    }
    EXPECT_TRUE(f4.isVisible());
    EXPECT_TRUE(f4.Text4->text().isEmpty());
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "TempFile.dat"));

    f4.Command2->click();  // キャンセル
    EXPECT_FALSE(f4.isVisible());
    EXPECT_TRUE(menu->isVisible());
}

TEST_F(WindowsTest, TerminalFailureKeepsTheDialogOpen) {
    writeBytes(dir.data() / "sample.csv", measuredFile(31, [](int ch) { return ch; }));
    launcher.failure = "no terminal";
    menu->Command2->click();
    Form4& f4 = menu->form4();
    f4.Text5->setText("0.1");
    f4.chooser->clickFile("sample.csv");
    f4.Text3->setText("80");
    BoxAnswerer box;
    f4.Command1->click();
    EXPECT_EQ(box.text, "tvstrip を起動できません\nno terminal");
    EXPECT_TRUE(f4.isVisible());
    EXPECT_FALSE(menu->isVisible());
}

TEST_F(WindowsTest, ConversionRunFromTheMenu) {
    writeBytes(dir.data() / "scat.mca1", stripped());
    writeBytes(dir.data() / "other.csv", "not listed");
    menu->Command5->click();
    Form3& f3 = menu->form3();
    ASSERT_TRUE(f3.isVisible());
    EXPECT_FALSE(menu->isVisible());
    EXPECT_EQ(f3.Text5->text(), "90");
    EXPECT_EQ(f3.Text6->text(), "10");
    EXPECT_TRUE(f3.Option1->isChecked());
    {
        BoxAnswerer box;
        f3.Command1->click();
        EXPECT_EQ(box.text, "目的のファイルをクリックして下さい");
        EXPECT_EQ(box.icon, QMessageBox::NoIcon);
    }
    QListWidget* files = f3.chooser->fileList();
    ASSERT_EQ(files->count(), 1);
    QTest::mouseClick(files->viewport(), Qt::LeftButton, {}, files->visualItemRect(files->item(0)).center());
    EXPECT_EQ(f3.Text4->text(), "scat");
    EXPECT_EQ(f3.Text3->text(), "80");
    EXPECT_EQ(f3.Text1->text().size(), 60);
    EXPECT_EQ(f3.List1->item(4)->text(), " Header 1");
    EXPECT_EQ(state.kevPerChannel, 0.1);

    f3.Command3->click();  // the angle information, not modal
    EXPECT_TRUE(menu->form6().isVisible());
    EXPECT_TRUE(f3.isVisible());

    f3.Option2->setChecked(true);
    f3.Command1->click();
    EXPECT_FALSE(f3.isVisible());
    EXPECT_TRUE(menu->isVisible());
    ASSERT_EQ(launcher.started.size(), 1u);
    EXPECT_EQ(launcher.started[0].program, "tvconv");
    auto t = splitCrLf(readBytes(dir.path() / "TempFile2.dat"));
    ASSERT_EQ(t.size(), 109u);
    EXPECT_EQ(t[3], "PMMA.dat");
    EXPECT_EQ(splitCrLf(readBytes(dir.path() / "Com.dat")).size(), 22u);

    // the name typed last time stays until a file is clicked
    menu->Command5->click();
    EXPECT_EQ(f3.Text4->text(), "scat");
    EXPECT_TRUE(f3.List1->count() == 0);
    EXPECT_TRUE(f3.Option1->isChecked());
}

TEST_F(WindowsTest, ChooserNavigatesAndFiltersIgnoringCase) {
    std::filesystem::create_directories(dir.data() / "sub");
    writeBytes(dir.data() / "sub" / "A.CSV", "x");
    writeBytes(dir.data() / "sub" / "b.csv", "x");
    writeBytes(dir.data() / "sub" / "c.mca1", "x");
    FileChooser chooser("*.csv");
    ASSERT_TRUE(chooser.setFolder(QString::fromStdString(dir.data().string())));
    QListWidget* folders = chooser.folderList();
    auto findFolder = [&](const QString& name) -> QListWidgetItem* {
        for (int i = 0; i < folders->count(); ++i)
            if (folders->item(i)->text().trimmed() == name) return folders->item(i);
        return nullptr;
    };
    QListWidgetItem* sub = findFolder("sub");
    ASSERT_TRUE(sub);
    emit folders->itemActivated(sub);  // as a double-click does
    EXPECT_TRUE(chooser.folder().endsWith("/Tarvik_data/sub"));
    ASSERT_EQ(chooser.fileList()->count(), 2);
    EXPECT_EQ(chooser.fileList()->item(0)->text(), "A.CSV");
    EXPECT_TRUE(chooser.selectedFile().isEmpty());
    QListWidgetItem* up = findFolder("Tarvik_data");
    ASSERT_TRUE(up);
    emit folders->itemActivated(up);
    EXPECT_TRUE(chooser.folder().endsWith("/Tarvik_data"));
    EXPECT_GE(chooser.driveList()->count(), 1);
    EXPECT_FALSE(chooser.setFolder(QString::fromStdString((dir.path() / "missing").string())));
}

TEST_F(WindowsTest, KeyboardSelectionLoadsTheFileLikeAClick) {
    writeBytes(dir.data() / "first.csv", measuredFile(31, [](int ch) { return ch; }));
    std::string second = measuredFile(31, [](int) { return 5; });
    second.replace(0, 13, "Second header");
    writeBytes(dir.data() / "second.csv", second);
    menu->Command2->click();
    Form4& f4 = menu->form4();
    QListWidget* files = f4.chooser->fileList();
    ASSERT_EQ(files->count(), 2);
    QSignalSpy clicks(f4.chooser, &FileChooser::fileClicked);

    // focus arriving in the list chooses nothing
    files->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(clicks.count(), 0);
    EXPECT_EQ(f4.Text4->text(), "");

    QTest::mouseClick(files->viewport(), Qt::LeftButton, {}, files->visualItemRect(files->item(0)).center());
    QCoreApplication::processEvents();
    EXPECT_EQ(clicks.count(), 1);  // one click, one load
    EXPECT_EQ(f4.Text4->text(), "first");

    QTest::keyClick(files, Qt::Key_Down);
    EXPECT_EQ(clicks.count(), 2);
    EXPECT_EQ(f4.chooser->selectedFile(), "second.csv");
    EXPECT_EQ(f4.Text4->text(), "second");
    EXPECT_TRUE(f4.List1->item(0)->text().startsWith("0001 : Second header"));

    // what GO reads is the file the window shows
    f4.Text3->setText("80");
    f4.Text5->setText("0.1");
    f4.Command1->click();
    ASSERT_EQ(launcher.started.size(), 1u);
    EXPECT_EQ(splitCrLf(readBytes(dir.path() / "Com.txt"))[0].substr(0, 13), "Second header");
    EXPECT_EQ(splitCrLf(readBytes(dir.path() / "TempFile.dat"))[0], "Tarvik_data\\second.mca1");
}

TEST_F(WindowsTest, ConversionCommentBoxesShowTheirBeginning) {
    writeBytes(dir.data() / "scat.mca1", stripped());
    menu->Command5->click();
    Form3& f3 = menu->form3();
    ASSERT_TRUE(f3.chooser->clickFile("scat.mca1"));
    EXPECT_EQ(f3.Text1->text().size(), 60);  // the padded line, kept whole
    EXPECT_EQ(f3.Text1->cursorPosition(), 0);
    EXPECT_EQ(f3.Text2->cursorPosition(), 0);
}

// The check box of the unfolding method in both dialogs.
namespace {

// The named controls of a dialog that Check1 must leave alone: each lies
// clear of it, and the buttons stay centred in the window.
void expectCheckBoxInFreeSpace(QWidget& dialog, QCheckBox* check, std::initializer_list<QPushButton*> buttons) {
    dialog.resize(dialog.size());  // lay out at the dialog's size
    QApplication::processEvents();
    const QRect box(check->mapTo(&dialog, QPoint(0, 0)), check->size());
    EXPECT_TRUE(dialog.rect().contains(box));
    EXPECT_GE(box.width(), check->sizeHint().width());  // the caption is not cut
    for (QWidget* w : dialog.findChildren<QWidget*>()) {
        if (w == check || w->objectName().isEmpty() || !w->isVisibleTo(&dialog)) continue;
        if (w->objectName().startsWith("qt_")) continue;
        const QRect r(w->mapTo(&dialog, QPoint(0, 0)), w->size());
        EXPECT_FALSE(r.intersects(box)) << w->objectName().toStdString();
    }
    const int left = (*buttons.begin())->mapTo(&dialog, QPoint(0, 0)).x();
    QPushButton* last = *(buttons.end() - 1);
    const int right = last->mapTo(&dialog, QPoint(last->width(), 0)).x();
    EXPECT_LE(std::abs((left + right) - dialog.width()), 1);
}

// Tab from each control goes to the next one.
void expectTabOrder(QWidget& dialog, std::initializer_list<QWidget*> order) {
    QApplication::setActiveWindow(&dialog);
    for (auto it = order.begin(); it + 1 != order.end(); ++it) {
        (*it)->setFocus(Qt::TabFocusReason);
        QTest::keyClick(*it, Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), *(it + 1)) << (*it)->objectName().toStdString();
    }
}

} // namespace

TEST_F(WindowsTest, StrippingMethodBoxIsOffUntilCheckedAndRemembered) {
    writeBytes(dir.data() / "sample.csv", measuredFile(31, [](int ch) { return ch; }));
    menu->Command2->click();
    Form4& f4 = menu->form4();
    ASSERT_NE(f4.Check1, nullptr);
    EXPECT_FALSE(f4.Check1->isChecked());
    EXPECT_TRUE(f4.Check1->isVisible());
    EXPECT_TRUE(f4.Check1->text().contains("unfold"));
    EXPECT_FALSE(f4.Check1->toolTip().isEmpty());
#ifdef TARVIK_HAVE_CHARACTERIZE
    expectTabOrder(f4, {f4.Text2, f4.Check1, f4.Command3, f4.Command1});  // comments, the box, characterization, GO
#else
    expectTabOrder(f4, {f4.Text2, f4.Check1, f4.Command1});  // comments, the box, GO
#endif
    expectCheckBoxInFreeSpace(f4, f4.Check1, {f4.Command1, f4.Command2});

    // Unchecked: the standard file of 108 lines.
    f4.chooser->clickFile("sample.csv");
    f4.Text3->setText("80");
    f4.Text5->setText("0.1");
    f4.Command1->click();
    ASSERT_FALSE(f4.isVisible());
    EXPECT_EQ(splitCrLf(readBytes(dir.path() / "TempFile.dat")).size(), 108u);

    // Checked by the user, kept through Cancel and the next opening.
    menu->Command2->click();
    QTest::mouseClick(f4.Check1, Qt::LeftButton, {}, QPoint(8, f4.Check1->height() / 2));
    EXPECT_TRUE(f4.Check1->isChecked());
    EXPECT_TRUE(state.stripUnfold);
    f4.Command2->click();
    menu->Command2->click();
    EXPECT_TRUE(f4.Check1->isChecked());
    f4.chooser->clickFile("sample.csv");
    f4.Text3->setText("80");
    f4.Command1->click();
    ASSERT_FALSE(f4.isVisible());
    auto t = splitCrLf(readBytes(dir.path() / "TempFile.dat"));
    ASSERT_EQ(t.size(), 109u);
    EXPECT_EQ(t[108], "unfold");

    // The conversion dialog keeps its own choice.
    menu->Command5->click();
    EXPECT_FALSE(menu->form3().Check1->isChecked());
}

TEST_F(WindowsTest, ConversionMethodBoxIsOffUntilCheckedAndRemembered) {
    writeBytes(dir.data() / "scat.mca1", stripped());
    menu->Command5->click();
    Form3& f3 = menu->form3();
    ASSERT_NE(f3.Check1, nullptr);
    EXPECT_FALSE(f3.Check1->isChecked());
    EXPECT_TRUE(f3.Check1->text().contains("unfold"));
    EXPECT_FALSE(f3.Check1->toolTip().isEmpty());
    EXPECT_NE(f3.Check1->toolTip(), menu->form4().Check1->toolTip());
    expectTabOrder(f3, {f3.Text4, f3.Check1, f3.Command1});
    expectCheckBoxInFreeSpace(f3, f3.Check1, {f3.Command1, f3.Command2, f3.Command3});

    f3.Check1->setFocus();
    QTest::keyClick(f3.Check1, Qt::Key_Space);  // checked from the keyboard
    EXPECT_TRUE(state.convertUnfold);
    f3.Command2->click();
    menu->Command5->click();
    ASSERT_TRUE(f3.Check1->isChecked());
    f3.chooser->clickFile("scat.mca1");
    f3.Command1->click();
    ASSERT_FALSE(f3.isVisible());
    auto t = splitCrLf(readBytes(dir.path() / "TempFile2.dat"));
    ASSERT_EQ(t.size(), 110u);
    EXPECT_EQ(t[109], "unfold");

    // Unchecked again: the standard file of 109 lines.
    menu->Command5->click();
    f3.Check1->setChecked(false);
    EXPECT_FALSE(state.convertUnfold);
    f3.chooser->clickFile("scat.mca1");
    f3.Command1->click();
    EXPECT_EQ(splitCrLf(readBytes(dir.path() / "TempFile2.dat")).size(), 109u);
}

TEST_F(WindowsTest, DisplayButtonOpensTheDisplayWindow) {
#ifdef TARVIK_HAVE_DISPLAY
    menu->Command3->click();
    ASSERT_NE(menu->displayWindow(), nullptr);
    EXPECT_TRUE(menu->displayWindow()->isVisible());
    EXPECT_FALSE(menu->isVisible());
#else
    BoxAnswerer box;
    menu->Command3->click();
    EXPECT_FALSE(box.text.isEmpty());
    EXPECT_TRUE(menu->isVisible());
#endif
}

TEST_F(WindowsTest, EndButtonRemovesTheExchangeFilesAndHidesEveryWindow) {
    writeBytes(dir.path() / "TempFile2.dat", "x");
    writeBytes(dir.path() / "Com.dat", "x");
    writeBytes(dir.path() / "UserName.txt", "a\r\nb\r\nc\r\n0.2\r\n");
    menu->form2().show();
    menu->Command4->click();
    EXPECT_TRUE(ended);
    EXPECT_FALSE(menu->isVisible());
    EXPECT_FALSE(menu->form2().isVisible());
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "TempFile2.dat"));
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "Com.dat"));
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "UserName.txt"));
}

// The terminal runs the working folder's own console program; an installed
// front end without one there runs the program installed beside it.
#ifdef TARVIK_HAVE_CHARACTERIZE
namespace {

// A calibration source measured by a detector other than the shipped one,
// as the analyser's ".csv" (0.15 keV per channel).
std::string sourceFile(const std::string& nuclide, double photons, std::uint64_t seed) {
    tvdet::SimulatedDetector d;
    d.config.mutauHoles = 2e-4;
    d.config.mutauElectrons = 1.5e-3;
    d.gain = 0.1508;
    d.offset = -0.2;
    tvdet::SourceSetup s;
    s.nuclide = nuclide;
    s.photons = photons;
    s.scatterShare = 0.03;
    const std::vector<double> counts = tvdet::simulateSourceMeasurement(d, s, seed, 2);
    return measuredFile(31, [&](int ch) { return static_cast<long long>(counts[static_cast<std::size_t>(ch - 1)]); });
}

// The same as an analyser's "<<PMCA SPECTRUM>>" file.
std::string sourceMca(const std::string& nuclide, double photons, std::uint64_t seed) {
    const std::string csv = sourceFile(nuclide, photons, seed);
    std::string s = "<<PMCA SPECTRUM>>\r\nLIVE_TIME - 300\r\nREAL_TIME - 301\r\n<<DATA>>\r\n";
    std::size_t at = 0;
    for (int line = 1; line <= 31; ++line) at = csv.find('\n', at) + 1;
    while (at < csv.size()) {
        const std::size_t end = csv.find("\r\n", at);
        const std::string record = csv.substr(at, end - at);
        s += record.substr(record.rfind(',') + 1) + "\r\n";
        at = end + 2;
    }
    return s + "<<END>>\r\n";
}

// The working folder's RES: a few tables and the shipped profile.
void prepareRes(const std::filesystem::path& work) {
    std::filesystem::create_directories(work / "RES");
    for (const char* f : {"595kev.dat", "600kev.dat", "detector.txt"})
        std::filesystem::copy_file(std::filesystem::path(TARVIK_DATA_DIR) / "RES" / f, work / "RES" / f);
}

CharacterizeWindow& openCharacterization(Form1& menu) {
    menu.Command2->click();
    Form4& f4 = menu.form4();
    EXPECT_TRUE(f4.Command3->isVisible());
    f4.Command3->click();
    CharacterizeWindow* w = f4.characterizeWindow();
    EXPECT_TRUE(w->isVisible());
    w->unfoldPhotonsPerNode = 2000;  // the run's physics, with little effort
    w->eventsPerCount = 1;
    return *w;
}

} // namespace

TEST_F(WindowsTest, CharacterizationRunsBesideTheWindowAndInstallsItsResult) {
    writeBytes(dir.data() / "Am241.csv", sourceFile("241Am", 6e4, 1));
    writeBytes(dir.data() / "Ba133_long.mca", sourceMca("133Ba", 1.2e5, 2));
    prepareRes(dir.path());
    CharacterizeWindow& w = openCharacterization(*menu);
    w.addSource(QString::fromStdString((dir.data() / "Am241.csv").string()));
    w.addSource(QString::fromStdString((dir.data() / "Ba133_long.mca").string()));  // an analyser's file
    ASSERT_EQ(w.sources->rowCount(), 2);
    EXPECT_EQ(static_cast<QComboBox*>(w.sources->cellWidget(1, 1))->currentText(), "133Ba");  // from the name
    w.kev->setText("0.15");
    std::vector<QString> told;
    w.tell = [&](const QString& t) { told.push_back(t); };

    // The window keeps answering while the run goes on.
    int ticks = 0;
    QTimer clock;
    QObject::connect(&clock, &QTimer::timeout, [&] { ++ticks; });
    clock.start(20);
    QSignalSpy ended(&w, &CharacterizeWindow::runEnded);
    w.runButton->click();
    EXPECT_TRUE(w.running());
    EXPECT_FALSE(w.runButton->isEnabled());
    EXPECT_TRUE(w.stopButton->isEnabled());
    ASSERT_TRUE(ended.wait(300000));
    clock.stop();
    ASSERT_TRUE(told.empty()) << told.front().toStdString();
    EXPECT_TRUE(ended.front().front().toBool());
    EXPECT_GT(ticks, 10);
    EXPECT_EQ(w.progress->value(), 1000);

    // The report of each source and the fitted values are shown.
    EXPECT_EQ(w.reports->count(), 2);
    EXPECT_EQ(w.reports->tabText(0), "1: 241Am");
    EXPECT_TRUE(w.values->toPlainText().contains("energy gain"));
    const std::filesystem::path out = w.resultFolder();
    ASSERT_FALSE(out.empty());
    for (const char* f : {"characterization.json", "characterization.txt", "report_1_241Am.png", "report_2_133Ba.png",
                          "RES/detector.txt", "RES/unfold.rsp", "RES/595kev.dat"})
        EXPECT_TRUE(std::filesystem::exists(out / f)) << f;
    QImage picture(QString::fromStdString((out / "report_1_241Am.png").string()));
    EXPECT_GT(picture.width(), 1000);

    // Installed after the question; the earlier RES is kept.
    QString asked;
    w.ask = [&](const QString& q) { asked = q; return false; };
    w.installButton->click();
    EXPECT_TRUE(asked.contains("RES.bak"));
    EXPECT_EQ(readBytes(dir.path() / "RES" / "detector.txt"), readBytes(std::filesystem::path(TARVIK_DATA_DIR) / "RES/detector.txt"));
    w.ask = [](const QString&) { return true; };
    w.installButton->click();
    EXPECT_NE(readBytes(dir.path() / "RES" / "detector.txt").find("energy_gain_kev_per_channel"), std::string::npos);
    int kept = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        if (e.path().filename().string().starts_with("RES.bak-")) {
            ++kept;
            EXPECT_TRUE(std::filesystem::exists(e.path() / "595kev.dat"));
            EXPECT_EQ(readBytes(e.path() / "detector.txt"), readBytes(std::filesystem::path(TARVIK_DATA_DIR) / "RES/detector.txt"));
        }
    EXPECT_EQ(kept, 1);
}

TEST_F(WindowsTest, CharacterizationStoppedOrRefusedWritesNothing) {
    writeBytes(dir.data() / "Am241.csv", sourceFile("241Am", 6e4, 3));
    writeBytes(dir.data() / "empty.csv", measuredFile(31, [](int) { return 0; }));
    prepareRes(dir.path());
    CharacterizeWindow& w = openCharacterization(*menu);
    std::vector<QString> told;
    w.tell = [&](const QString& t) { told.push_back(t); };
    auto results = [&] {
        int n = 0;
        for (const auto& e : std::filesystem::directory_iterator(dir.path()))
            n += e.path().filename().string().starts_with("characterization-") ||
                 e.path().filename().string().starts_with(".characterization-");
        return n;
    };

    // No source: said so.
    w.runButton->click();
    ASSERT_EQ(told.size(), 1u);
    EXPECT_FALSE(w.running());

    // Stopped at once.
    w.addSource(QString::fromStdString((dir.data() / "Am241.csv").string()));
    w.kev->setText("0.15");
    QSignalSpy ended(&w, &CharacterizeWindow::runEnded);
    w.runButton->click();
    w.stopButton->click();
    ASSERT_TRUE(ended.wait(120000));
    EXPECT_FALSE(ended.back().front().toBool());
    EXPECT_EQ(told.size(), 1u);  // a stop is no failure to report
    EXPECT_EQ(results(), 0);
    EXPECT_TRUE(w.runButton->isEnabled());

    // An empty spectrum: the reason is told, nothing written.
    w.addSource(QString::fromStdString((dir.data() / "empty.csv").string()));
    w.runButton->click();
    ASSERT_TRUE(ended.wait(120000));
    EXPECT_FALSE(ended.back().front().toBool());
    ASSERT_EQ(told.size(), 2u);
    EXPECT_TRUE(told.back().contains("empty.csv: the spectrum is empty")) << told.back().toStdString();
    EXPECT_EQ(results(), 0);
    EXPECT_FALSE(w.installButton->isEnabled());
}
#endif

TEST(TerminalCommandTest, WorkingFolderFirstThenBesideTheFrontEnd) {
    QTemporaryDir work, own;
    ASSERT_TRUE(work.isValid() && own.isValid());
    auto makeProgram = [](const QString& path, bool executable) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("#!/bin/sh\n");
        f.close();
        f.setPermissions(executable ? QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                    : QFile::ReadOwner | QFile::WriteOwner);
    };
    using tarvik::TerminalLauncher;
    const QString tvstrip = QStringLiteral("tvstrip");
    EXPECT_FALSE(TerminalLauncher::commandFor(tvstrip, work.path(), own.path()));
    makeProgram(own.filePath(tvstrip), true);
    EXPECT_EQ(TerminalLauncher::commandFor(tvstrip, work.path(), own.path()), own.filePath(tvstrip));
    // Not executable in the working folder: still the installed one.
    makeProgram(work.filePath(tvstrip), false);
    EXPECT_EQ(TerminalLauncher::commandFor(tvstrip, work.path(), own.path()), own.filePath(tvstrip));
    makeProgram(work.filePath(tvstrip), true);
    EXPECT_EQ(TerminalLauncher::commandFor(tvstrip, work.path(), own.path()), QStringLiteral("./tvstrip"));
    // A folder, not a program, beside the front end does not count.
    QDir(own.path()).mkdir(QStringLiteral("tvconv"));
    EXPECT_FALSE(TerminalLauncher::commandFor(QStringLiteral("tvconv"), work.path(), own.path()));
}

int main(int argc, char** argv) {
    // The windows are drawn off screen unless a display platform is asked
    // for; this also lets the test list be read without an X server.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    QTranslator qtJapanese;  // as the program loads it
    if (qtJapanese.load(QStringLiteral("qtbase_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtJapanese);
    // A message box that no test expected would wait for ever: close it
    // and fail the running test instead.
    QTimer watchdog;
    QObject::connect(&watchdog, &QTimer::timeout, [] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            ADD_FAILURE() << "unexpected message box: " << box->text().toStdString();
            box->reject();
        }
    });
    watchdog.start(3000);
    return RUN_ALL_TESTS();
}
