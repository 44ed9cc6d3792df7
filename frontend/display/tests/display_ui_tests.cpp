// The display window driven through its controls: the state table after
// each action, messages, the cursor by mouse and keys, the picture as drawn
// on screen and a printed page.
#include "form5.h"
#include "graphprint.h"

#ifdef TARVIK_HAVE_FONTS
#include "fonts.h"
#endif

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDialog>
#include <QElapsedTimer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QPageSize>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <fstream>
#include <functional>
#include <vector>

namespace {

void writeResult(const QString& path, double kev, int peakChannel) {
    std::ofstream f(path.toStdString(), std::ios::binary);
    f << "comment one\r\ncomment two\r\n   70\r\n" << kev << "\r\n";
    for (int i = 5; i <= 21; ++i) f << "header\r\n";
    f << "  ch   keV   count\r\n";
    for (int ch = 1; ch <= 1024; ++ch)
        f << ch << " " << ch * kev << " " << (ch == peakChannel ? 900 : 100 + ch % 50) << "\r\n";
}

// Runs `action`; the first modal message box it opens is answered with
// `button`.  Returns the box's text ("" when none came up).
QString answerBox(QMessageBox::StandardButton button, const std::function<void()>& action) {
    QString seen;
    QTimer timer;
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            seen = box->text();
            timer.stop();
            box->button(button)->click();
        }
    });
    timer.start();
    action();
    timer.stop();
    return seen;
}

// Runs `action` while answering the modal windows it opens, one handler per
// window in the order they come up.  Returns how many were handled.
int driveModals(std::vector<std::function<void(QWidget*)>> handlers, const std::function<void()>& action) {
    std::size_t next = 0;
    QWidget* last = nullptr;
    QTimer timer;
    timer.setInterval(20);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || modal == last || next >= handlers.size()) return;
        last = modal;
        handlers[next++](modal);
    });
    timer.start();
    action();
    timer.stop();
    return static_cast<int>(next);
}

class DisplayWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(work.isValid());
        previous = QDir::currentPath();
        QDir::setCurrent(work.path());
        QDir().mkdir(QStringLiteral("Tarvik_data"));
        writeResult(QStringLiteral("Tarvik_data/first.mca1"), 0.25, 240);
        writeResult(QStringLiteral("Tarvik_data/second.mca2"), 0.2, 300);
        std::ofstream(QStringLiteral("Tarvik_data/odd.mca").toStdString()) << "no spectrum\r\n";
        state.facilityName = "テスト病院";
        form = std::make_unique<Form5>(state, &menu, [this] { ++extensionsShown; });
        menu.show();
        form->openFromMenu();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    }
    void TearDown() override {
        form.reset();
        QDir::setCurrent(previous);
    }

    template <class T>
    T* get(const char* name) {
        T* w = form->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QPushButton* button(const char* name) { return get<QPushButton>(name); }
    QLineEdit* box(const char* name) { return get<QLineEdit>(name); }

    void clickFile(const QString& name) {
        auto* list = get<QListWidget>("File1");
        auto items = list->findItems(name, Qt::MatchExactly);
        ASSERT_EQ(items.size(), 1) << name.toStdString();
        QRect r = list->visualItemRect(items.front());
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, r.center());
    }
    // A point of the picture given in picture twips.
    QPoint at(double x, double y) { return QPoint(2 + int(x / 15), 2 + int(y / 15)); }

    QTemporaryDir work;
    QString previous;
    tarvik::AppState state;
    QWidget menu;
    std::unique_ptr<Form5> form;
    int extensionsShown = 0;
};

TEST_F(DisplayWindowTest, StateTableThroughClicks) {
    // After opening.
    EXPECT_TRUE(form->isVisible());
    EXPECT_FALSE(menu.isVisible());
    EXPECT_EQ(box("Text4")->text(), "0");
    EXPECT_EQ(box("Text5")->text(), "150");
    EXPECT_TRUE(get<QRadioButton>("Option2")->isChecked());
    EXPECT_FALSE(button("Command4")->isEnabled());
    EXPECT_FALSE(button("Command5")->isEnabled());
    EXPECT_FALSE(button("Command7")->isVisible());
    EXPECT_FALSE(box("Text1")->isVisible());
    EXPECT_FALSE(get<QWidget>("Line5")->isVisible());
    EXPECT_EQ(state.displayOpened, 1);
    EXPECT_EQ(state.trackingEnabled, 0);

    // Preview: the width of the file, tracking on.
    clickFile(QStringLiteral("first.mca1"));
    EXPECT_EQ(box("Text6")->text(), "0.250");
    EXPECT_EQ(state.trackingEnabled, 1);
    EXPECT_TRUE(QString::fromStdString(state.dataFilePath).endsWith("Tarvik_data/first.mca1"));

    // Adding: redraw and print on, arrows shown but disabled, read-outs shown.
    get<QRadioButton>("Option5")->click();
    QTest::mouseClick(button("Command1"), Qt::LeftButton);
    EXPECT_EQ(state.spectrumCount, 1);
    EXPECT_EQ(state.spectrumColour[1], 12);
    EXPECT_TRUE(button("Command4")->isEnabled());
    EXPECT_TRUE(button("Command5")->isEnabled());
    EXPECT_TRUE(button("Command7")->isVisible());
    EXPECT_FALSE(button("Command7")->isEnabled());
    EXPECT_TRUE(box("Text1")->isVisible());
    EXPECT_TRUE(get<QLabel>("Label7")->isVisible());
    EXPECT_FALSE(get<QWidget>("Line5")->isVisible());

    // The mouse over the plot: cursor lines and read-outs.
    QWidget* picture = get<QWidget>("Picture1");
    QTest::mouseMove(picture, at(2200 + 50 * 60, 3000));  // 60 keV
    EXPECT_EQ(box("Text3")->text(), "240 ch");
    EXPECT_EQ(box("Text1")->text(), "60.00 keV");
    EXPECT_EQ(box("Text2")->text(), "900");
    EXPECT_TRUE(get<QWidget>("Line5")->isVisible());
    EXPECT_EQ(get<QWidget>("Line6")->y(), 2 + 300 / 15);  // the peak is the top of the plot
    EXPECT_EQ(picture->cursor().shape(), Qt::CrossCursor);
    EXPECT_EQ(state.cursorActive, 1);

    // A click places it; the arrows are enabled and the keys step it.
    QTest::mouseClick(picture, Qt::LeftButton, {}, at(2200 + 50 * 60, 3000));
    EXPECT_EQ(box("Text3")->text(), "240");
    EXPECT_TRUE(button("Command8")->isEnabled());
    QTest::keyClick(form.get(), Qt::Key_Right);
    EXPECT_EQ(box("Text3")->text(), "241 ch");
    QTest::mouseClick(button("Command7"), Qt::LeftButton);
    QTest::mouseClick(button("Command7"), Qt::LeftButton);
    EXPECT_EQ(box("Text3")->text(), "239 ch");
    // The window sees the arrows before a focused text box.
    box("Text4")->setFocus();
    QTest::keyClick(box("Text4"), Qt::Key_Left);
    EXPECT_EQ(state.cursorChannel, 238);

    // Redraw with another range: print on, arrows off, lines hidden.
    box("Text4")->setText(QString());
    QTest::keyClicks(box("Text4"), "40");
    QTest::mouseClick(button("Command4"), Qt::LeftButton);
    EXPECT_EQ(state.energyMin, 40);
    EXPECT_FALSE(button("Command7")->isEnabled());
    EXPECT_FALSE(get<QWidget>("Line5")->isVisible());
    EXPECT_EQ(state.cursorActive, 0);

    // Clear.
    QTest::mouseClick(button("Command2"), Qt::LeftButton);
    EXPECT_EQ(state.spectrumCount, 0);
    EXPECT_TRUE(button("Command1")->isEnabled());
    EXPECT_FALSE(button("Command4")->isEnabled());
    EXPECT_FALSE(button("Command7")->isVisible());
    EXPECT_FALSE(box("Text1")->isVisible());
    EXPECT_EQ(box("Text4")->text(), "0");
    EXPECT_EQ(box("Text6")->text(), "");

    // Extensions, then back to the menu; the window keeps its state.
    QTest::mouseClick(button("Command6"), Qt::LeftButton);
    EXPECT_EQ(extensionsShown, 1);
    QTest::mouseClick(button("Command3"), Qt::LeftButton);
    EXPECT_FALSE(form->isVisible());
    EXPECT_TRUE(menu.isVisible());
}

TEST_F(DisplayWindowTest, MessagesForWhatCannotBeDone) {
    // No file clicked yet.
    QString text = answerBox(QMessageBox::Ok, [&] { button("Command1")->click(); });
    EXPECT_EQ(text, "目的のファイル名をクリックして下さい");
    EXPECT_TRUE(button("Command4")->isEnabled());

    // Redraw with nothing loaded.
    text = answerBox(QMessageBox::Ok, [&] { button("Command4")->click(); });
    EXPECT_TRUE(text.startsWith("表示するスペクトルがありません")) << text.toStdString();

    // A listed file of another kind.
    clickFile(QStringLiteral("odd.mca"));
    text = answerBox(QMessageBox::Ok, [&] { button("Command1")->click(); });
    EXPECT_EQ(text, "  このファイルは読めません  ");
    EXPECT_EQ(state.spectrumCount, 0);

    // The width emptied: refused before anything is read.
    clickFile(QStringLiteral("second.mca2"));
    box("Text6")->clear();
    QTest::keyClicks(box("Text6"), "0");
    text = answerBox(QMessageBox::Ok, [&] { button("Command1")->click(); });
    EXPECT_TRUE(text.startsWith("エネルギー幅 / チャネル")) << text.toStdString();
    EXPECT_EQ(state.spectrumCount, 0);

    // Print asks first; Cancel does nothing.
    clickFile(QStringLiteral("second.mca2"));
    button("Command1")->click();
    ASSERT_EQ(state.spectrumCount, 1);
    box("Text5")->setText(QStringLiteral("77"));
    QTest::keyClicks(box("Text5"), "7");  // 777
    text = answerBox(QMessageBox::Cancel, [&] { button("Command5")->click(); });
    EXPECT_EQ(text, "プリンターの準備はＯＫですか？");
    EXPECT_EQ(state.energyMax, 150);
}

TEST_F(DisplayWindowTest, GraphIsPaintedInColourWithReadableText) {
    clickFile(QStringLiteral("second.mca2"));
    get<QRadioButton>("Option2")->click();
    button("Command1")->click();
    QImage shot = get<QWidget>("Picture1")->grab().toImage();

    int blue = 0;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x)
            if (shot.pixelColor(x, y) == QColor(0, 0, 255)) ++blue;
    EXPECT_GT(blue, 300);  // the curve and its legend line

    // "Max count" at (100, 50) in 14 points: about 19 pixels to the em, so
    // its dark pixels span some 10..20 rows, not a speck and not a blot.
    int top = -1, bottom = -1;
    for (int y = 2; y < 2 + 400 / 15; ++y)
        for (int x = 2 + 100 / 15; x < 2 + 1500 / 15; ++x)
            if (qGray(shot.pixel(x, y)) < 100) {
                if (top < 0) top = y;
                bottom = y;
            }
    ASSERT_GE(top, 0);
    EXPECT_GE(bottom - top, 8);
    EXPECT_LE(bottom - top, 22);
}

TEST_F(DisplayWindowTest, PrintWithoutPrinterOffersPreview) {
    if (tarvik::havePrinter()) GTEST_SKIP() << "a printer is set up here";
    clickFile(QStringLiteral("first.mca1"));
    button("Command1")->click();
    QString offer;
    bool previewShown = false;
    int handled = driveModals(
        {[](QWidget* w) { qobject_cast<QMessageBox*>(w)->button(QMessageBox::Ok)->click(); },
         [&](QWidget* w) {
             auto* box = qobject_cast<QMessageBox*>(w);
             ASSERT_NE(box, nullptr);
             offer = box->text();
             for (QAbstractButton* b : box->buttons())
                 if (b->text() == QStringLiteral("印刷プレビュー")) b->click();
         },
         [&](QWidget* w) {
             previewShown = qobject_cast<QPrintPreviewDialog*>(w) != nullptr;
             qobject_cast<QDialog*>(w)->reject();
         }},
        [&] { button("Command5")->click(); });
    EXPECT_EQ(handled, 3);
    EXPECT_TRUE(offer.startsWith(QStringLiteral("使用できるプリンターが設定されていません"))) << offer.toStdString();
    EXPECT_TRUE(previewShown);
}

TEST_F(DisplayWindowTest, CloseBoxDiscardsContents) {
    clickFile(QStringLiteral("first.mca1"));
    button("Command1")->click();
    form->close();
    EXPECT_FALSE(form->isVisible());
    EXPECT_TRUE(menu.isVisible());
    EXPECT_EQ(box("Text6")->text(), "");
    form->openFromMenu();
    EXPECT_EQ(state.spectrumCount, 0);
    EXPECT_TRUE(button("Command1")->isEnabled());
}

// The count axis, saving and beam-quality controls: placed clear of every
// other control, and the default graph exactly as it was unless used.
TEST_F(DisplayWindowTest, AddedControlsLeaveTheWindowAsItWas) {
    const QStringList added{QStringLiteral("LogScale"), QStringLiteral("SaveButton"),
                            QStringLiteral("QualityButton")};
    QList<QWidget*> mine;
    for (const QString& name : added)
        if (auto* w = form->findChild<QWidget*>(name)) mine << w;
    ASSERT_GE(mine.size(), 2);
    for (QWidget* w : mine) {
        EXPECT_TRUE(form->rect().contains(w->geometry())) << w->objectName().toStdString();
        for (QObject* o : form->children()) {
            auto* other = qobject_cast<QWidget*>(o);
            if (!other || mine.contains(other) || other->objectName().isEmpty() || other->isWindow()) continue;
            EXPECT_FALSE(w->geometry().intersects(other->geometry()))
                << w->objectName().toStdString() << " overlaps " << other->objectName().toStdString();
        }
    }

    auto* log = get<QCheckBox>("LogScale");
    EXPECT_FALSE(log->isChecked());
    EXPECT_FALSE(button("SaveButton")->isEnabled());  // nothing to save yet
    clickFile(QStringLiteral("second.mca2"));
    button("Command1")->click();
    EXPECT_TRUE(button("SaveButton")->isEnabled());
    const QImage linear = get<QWidget>("Picture1")->grab().toImage();
    log->click();
    const QImage logarithmic = get<QWidget>("Picture1")->grab().toImage();
    EXPECT_NE(linear, logarithmic);
    log->click();
    EXPECT_EQ(get<QWidget>("Picture1")->grab().toImage(), linear);
}

// An analyser's "<<PMCA SPECTRUM>>" file: `channels` channels from 0 keV of
// `kev` keV each (calibration points at channel centres).
void writePmca(const QString& path, int channels, double kev) {
    std::ofstream f(path.toStdString(), std::ios::binary);
    f << "<<PMCA SPECTRUM>>\r\nTAG - analyser file\r\nLIVE_TIME - 9\r\nREAL_TIME - 10\r\n<<CALIBRATION>>\r\n"
      << "LABEL - keV\r\n10 " << 10.5 * kev << "\r\n20 " << 20.5 * kev << "\r\n<<DATA>>\r\n";
    for (int k = 0; k < channels; ++k) f << 50 + (k * 13) % 40 << "\r\n";
    f << "<<END>>\r\n";
}

// "他の形式を開く…": a control of its own in free space; the file list keeps
// its pattern; files of the analysers are drawn, asked about first when their
// counts are shared onto other channels, refused with the reader's message.
TEST_F(DisplayWindowTest, OtherFormatsOpenThroughTheirOwnControl) {
    QPushButton* other = button("OpenOtherFormat");
    ASSERT_NE(other, nullptr);
    EXPECT_TRUE(form->rect().contains(other->geometry()));
    for (QObject* o : form->children()) {
        auto* w = qobject_cast<QWidget*>(o);
        if (!w || w == other || w->objectName().isEmpty() || w->isWindow()) continue;
        EXPECT_FALSE(other->geometry().intersects(w->geometry())) << w->objectName().toStdString();
    }
    EXPECT_TRUE(other->isEnabled());
    EXPECT_EQ(get<QListWidget>("File1")->count(), 3);  // first.mca1, odd.mca, second.mca2 as before

    writePmca(QStringLiteral("Tarvik_data/a.mca"), 1024, 0.25);
    writePmca(QStringLiteral("Tarvik_data/fine.mca"), 2048, 0.125);
    std::ofstream(QStringLiteral("Tarvik_data/broken.mca").toStdString()) << "<<PMCA SPECTRUM>>\r\n<<DATA>>\r\n5\r\n";
    QString answer;
    QString asked;
    form->setOpenFileChooser([&](const QString&, const QString& folder, const QString& filters) {
        asked = folder + " " + filters;
        return answer;
    });
    answer = QDir::current().filePath(QStringLiteral("Tarvik_data/a.mca"));
    EXPECT_EQ(answerBox(QMessageBox::Ok, [&] { other->click(); }), QString());
    EXPECT_TRUE(asked.contains(QStringLiteral("*.mca")));
    EXPECT_EQ(state.spectrumCount, 1);
    EXPECT_EQ(state.spectrumFile[1], "a.mca");
    EXPECT_EQ(box("Text6")->text(), QStringLiteral("0.250"));

    // Finer channels: shared onto the 0.25 keV channels only when the user agrees.
    answer = QDir::current().filePath(QStringLiteral("Tarvik_data/fine.mca"));
    QString question = answerBox(QMessageBox::Cancel, [&] { other->click(); });
    EXPECT_TRUE(question.contains(QStringLiteral("0.250 keV"))) << question.toStdString();
    EXPECT_EQ(state.spectrumCount, 1);
    answerBox(QMessageBox::Ok, [&] { other->click(); });
    EXPECT_EQ(state.spectrumCount, 2);
    EXPECT_DOUBLE_EQ(*state.spectrumCounts[2][1], 50.0 + 63.0);  // channels 0 and 1 of the file

    answer = QDir::current().filePath(QStringLiteral("Tarvik_data/broken.mca"));
    const QString refusal = answerBox(QMessageBox::Ok, [&] { other->click(); });
    EXPECT_TRUE(refusal.contains(QStringLiteral("broken.mca"))) << refusal.toStdString();
    EXPECT_TRUE(refusal.contains(QStringLiteral("<<END>>"))) << refusal.toStdString();
    EXPECT_EQ(state.spectrumCount, 2);

    // Cancelled in the file dialog: nothing happens.
    answer.clear();
    EXPECT_EQ(answerBox(QMessageBox::Ok, [&] { other->click(); }), QString());
    EXPECT_EQ(state.spectrumCount, 2);

    // A file of two spectra: the one the user picks.
    std::ofstream(QStringLiteral("Tarvik_data/two.n42").toStdString())
        << "<RadInstrumentData><RadMeasurement id=\"A\"><Spectrum id=\"a\"><ChannelData>5 6 7</ChannelData></Spectrum>"
           "</RadMeasurement><RadMeasurement id=\"B\"><Spectrum id=\"b\"><ChannelData>8 9 10</ChannelData></Spectrum>"
           "</RadMeasurement></RadInstrumentData>";
    QStringList offered;
    form->setItemChooser([&](const QString&, const QStringList& items) {
        offered = items;
        return 1;
    });
    answer = QDir::current().filePath(QStringLiteral("Tarvik_data/two.n42"));
    answerBox(QMessageBox::Ok, [&] { other->click(); });
    ASSERT_EQ(offered.size(), 2);
    EXPECT_TRUE(offered[1].startsWith(QStringLiteral("B/b"))) << offered[1].toStdString();
    EXPECT_EQ(state.spectrumCount, 3);
    EXPECT_DOUBLE_EQ(*state.spectrumCounts[3][2], 9.0);
}

#ifdef TARVIK_HAVE_QUALITY
// The quality window shows the dead time of a file that gives its live and
// real time, "—" for the others, and no such row once none has it.
TEST_F(DisplayWindowTest, QualityWindowShowsTheDeadTimeOfFilesThatGiveIt) {
    writePmca(QStringLiteral("Tarvik_data/timed.mca"), 1024, 0.25);  // 9 s live in 10 s real
    form->setOpenFileChooser([&](const QString&, const QString&, const QString&) {
        return QDir::current().filePath(QStringLiteral("Tarvik_data/timed.mca"));
    });
    answerBox(QMessageBox::Ok, [&] { button("OpenOtherFormat")->click(); });
    clickFile(QStringLiteral("first.mca1"));
    button("Command1")->click();
    ASSERT_EQ(state.spectrumCount, 2);
    button("QualityButton")->click();
    auto* window = form->findChild<QDialog*>(QStringLiteral("QualityWindow"));
    ASSERT_NE(window, nullptr);
    auto* table = window->findChild<QTableWidget*>(QStringLiteral("QualityTable"));
    auto rowOf = [&](const QString& name) {
        for (int r = 0; r < table->rowCount(); ++r)
            if (table->verticalHeaderItem(r)->text() == name) return r;
        return -1;
    };
    const int dead = rowOf(QStringLiteral("不感時間の割合"));
    ASSERT_GE(dead, 0);
    EXPECT_EQ(table->item(dead, 0)->text(), QStringLiteral("%"));
    EXPECT_EQ(table->item(dead, 1)->text(), QStringLiteral("10.00"));
    EXPECT_EQ(table->item(dead, 2)->text(), QStringLiteral("—"));
    EXPECT_LT(rowOf(QStringLiteral("パイルアップの割合")), 0);

    // Cleared, and the list's file in the first slot: no dead time left over.
    button("Command2")->click();
    clickFile(QStringLiteral("first.mca1"));
    button("Command1")->click();
    ASSERT_EQ(state.spectrumCount, 1);
    button("QualityButton")->click();
    EXPECT_LT(rowOf(QStringLiteral("不感時間の割合")), 0);
}
#endif

TEST_F(DisplayWindowTest, SavesGraphAndSpectraWhereTheUserSays) {
    QString answer;
    int asked = 0;
    form->setSaveFileChooser([&](const QString&, const QString&, const QString&) {
        ++asked;
        return answer;
    });
    auto trigger = [&](const char* name) {
        auto* a = form->findChild<QAction*>(QString::fromLatin1(name));
        ASSERT_NE(a, nullptr) << name;
        a->trigger();
    };
    clickFile(QStringLiteral("second.mca2"));
    button("Command1")->click();
    get<QCheckBox>("LogScale")->click();

    auto head = [](const QString& path, int n) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.read(n) : QByteArray();
    };
    answer = work.filePath(QStringLiteral("graph.png"));
    trigger("SaveGraph");
    QImage png(answer);
    ASSERT_FALSE(png.isNull());
    EXPECT_EQ(png.size(), QSize(1334, 1018));  // twice the picture's screen pixels
    int blue = 0;
    for (int y = 0; y < png.height(); ++y)
        for (int x = 0; x < png.width(); ++x)
            if (QColor(png.pixel(x, y)).blue() > 200 && QColor(png.pixel(x, y)).red() < 80) ++blue;
    EXPECT_GT(blue, 500);

    answer = work.filePath(QStringLiteral("graph.svg"));
    trigger("SaveGraph");
    EXPECT_TRUE(head(answer, 400).contains("<svg"));
    answer = work.filePath(QStringLiteral("graph.PDF"));
    trigger("SaveGraph");
    EXPECT_EQ(head(answer, 4), QByteArray("%PDF"));

    // A name the picture kinds do not know: told so, nothing written.
    answer = work.filePath(QStringLiteral("graph.jpg"));
    QString said = answerBox(QMessageBox::Ok, [&] { trigger("SaveGraph"); });
    EXPECT_TRUE(said.contains(QStringLiteral(".png")));
    EXPECT_FALSE(QFile::exists(answer));
    // A folder that does not exist: told so.
    answer = work.filePath(QStringLiteral("missing/graph.png"));
    said = answerBox(QMessageBox::Ok, [&] { trigger("SaveGraph"); });
    EXPECT_TRUE(said.contains(QStringLiteral("missing")));

    answer = work.filePath(QStringLiteral("spectra.csv"));
    trigger("SaveSpectra");
    QFile csv(answer);
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = csv.readAll().split('\n');
    EXPECT_EQ(lines.size(), 2 + 1024 + 1);  // the last line ends the file
    EXPECT_EQ(lines[0], QByteArray("channel,energy,second.mca2"));
    EXPECT_EQ(lines[1], QByteArray(",keV,counts"));

    // Cancelling the dialog writes nothing and says nothing.
    const int before = asked;
    answer.clear();
    EXPECT_EQ(answerBox(QMessageBox::Ok, [&] { trigger("SaveSpectra"); }), QString());
    EXPECT_EQ(asked, before + 1);
}

#ifdef TARVIK_HAVE_QUALITY
TEST_F(DisplayWindowTest, QualityWindowTabulatesEverySpectrumCopiesAndSaves) {
    EXPECT_FALSE(button("QualityButton")->isEnabled());
    clickFile(QStringLiteral("first.mca1"));
    button("Command1")->click();
    clickFile(QStringLiteral("second.mca2"));
    button("Command1")->click();
    ASSERT_TRUE(button("QualityButton")->isEnabled());
    QElapsedTimer clock;
    clock.start();
    button("QualityButton")->click();
    const qint64 ms = clock.elapsed();
    auto* window = form->findChild<QDialog*>(QStringLiteral("QualityWindow"));
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->isModal());  // the display stays usable beside it
    auto* table = window->findChild<QTableWidget*>(QStringLiteral("QualityTable"));
    ASSERT_NE(table, nullptr);
    RecordProperty("quality_window_ms", static_cast<int>(ms));

    // A unit column, then one column per spectrum in the order they were added.
    ASSERT_EQ(table->columnCount(), 3);
    EXPECT_EQ(table->horizontalHeaderItem(1)->text(), QStringLiteral("[1] first.mca1"));
    EXPECT_EQ(table->horizontalHeaderItem(2)->text(), QStringLiteral("[2] second.mca2"));
    int hvl = -1;
    for (int r = 0; r < table->rowCount(); ++r)
        if (table->verticalHeaderItem(r)->text() == QStringLiteral("第1半価層 (Al)")) hvl = r;
    ASSERT_GE(hvl, 0);
    EXPECT_EQ(table->item(hvl, 0)->text(), QStringLiteral("mm Al"));
    for (int c = 1; c <= 2; ++c) EXPECT_TRUE(table->item(hvl, c)->text().contains(QStringLiteral(" ± ")));
    // Both are corrected spectra: no mark for a ".csv".
    EXPECT_FALSE(window->findChild<QLabel*>(QStringLiteral("QualityMark"))->isVisibleTo(window));

    // Copy: the whole table as tab-separated text, a line per row and the header.
    QApplication::clipboard()->clear();
    window->findChild<QPushButton*>(QStringLiteral("QualityCopy"))->click();
    const QStringList lines = QApplication::clipboard()->text().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), table->rowCount() + 1);
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("項目\t単位\t[1] first.mca1\t")));
    EXPECT_TRUE(lines[hvl + 1].startsWith(QStringLiteral("第1半価層 (Al)\tmm Al\t")));
    EXPECT_EQ(lines[hvl + 1].count(QLatin1Char('\t')), 5);

    // Save: UTF-8 CSV where the user says.
    const QString path = work.filePath(QStringLiteral("quality.csv"));
    form->setSaveFileChooser([&](const QString&, const QString&, const QString&) { return path; });
    window->findChild<QPushButton*>(QStringLiteral("QualitySave"))->click();
    QFile csv(path);
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    const QByteArray bytes = csv.readAll();
    EXPECT_TRUE(bytes.startsWith("\xEF\xBB\xBF"));
    EXPECT_EQ(bytes.count('\n'), table->rowCount() + 1);

    // Cleared and a measured spectrum loaded: the window shows the new set
    // only, marked as not stripping-corrected.
    {
        std::ofstream f(work.filePath(QStringLiteral("Tarvik_data/raw.csv")).toStdString(), std::ios::binary);
        for (int i = 1; i <= 31; ++i) f << "header " << i << "\r\n";
        for (int ch = 1; ch <= 1024; ++ch) f << ch << "," << ch * 0.2 << "," << (ch < 500 ? 200 + ch % 7 : 0) << "\r\n";
    }
    button("Command2")->click();
    form->openFromMenu();  // the file list again, with the new file
    clickFile(QStringLiteral("raw.csv"));
    button("Command1")->click();
    button("QualityButton")->click();
    ASSERT_EQ(table->columnCount(), 2);
    EXPECT_TRUE(table->horizontalHeaderItem(1)->text().startsWith(QStringLiteral("[1] raw.csv")));
    EXPECT_TRUE(window->findChild<QLabel*>(QStringLiteral("QualityMark"))->isVisibleTo(window));
}
#endif

tarvik::AppState onePageState() {
    tarvik::AppState st;
    st.spectrumCount = 1;
    st.energyMin = 0;
    st.energyMax = 150;
    st.kevPerChannel = 0.2;
    st.spectrumMax[1] = 10;
    for (int ch = 1; ch <= 1024; ++ch) st.spectrumCounts[1][static_cast<std::size_t>(ch)] = ch % 11;
    st.facilityName = "テスト病院";
    return st;
}

TEST(DisplayPrintTest, PageWrittenAsPdf) {
    QTemporaryDir dir;
    tarvik::AppState st = onePageState();
    QString pdf = dir.filePath(QStringLiteral("page.pdf"));
    ASSERT_TRUE(tarvik::printGraphToPdf(st, pdf));
    QFile f(pdf);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(f.read(4) == "%PDF");
    EXPECT_GT(f.size(), 2000);
}

TEST(DisplayPrintTest, PreviewShowsLinesAsThinAsOnPaper) {
    // The frame's 8 printer dots are under a millimetre on paper; a preview
    // that shrinks the page to the screen must not draw them 8 screen pixels
    // wide.
    tarvik::AppState st = onePageState();
    QPrinter printer(QPrinter::HighResolution);
    printer.setPageSize(QPageSize(QPageSize::A4));
    tarvik::setUpPrinter(printer);
    QPrintPreviewWidget preview(&printer);
    QObject::connect(&preview, &QPrintPreviewWidget::paintRequested,
                     [&st](QPrinter* p) { tarvik::paintGraphPage(st, *p); });
    preview.resize(600, 800);
    preview.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&preview));
    preview.fitInView();
    preview.updatePreview();
    QApplication::processEvents();
    QImage shot = preview.grab().toImage();

    // The page is the white area; the frame's top edge is the first dark
    // run down a column of the page's middle (a column that meets no
    // vertical grid line).
    int left = shot.width(), right = -1, top = shot.height(), bottom = -1;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x)
            if (shot.pixel(x, y) == qRgb(255, 255, 255)) {
                left = std::min(left, x), right = std::max(right, x);
                top = std::min(top, y), bottom = std::max(bottom, y);
            }
    ASSERT_GT(right - left, 200) << "no page in the preview";
    int thinnest = shot.height();
    for (int x = left + (right - left) * 2 / 5; x < left + (right - left) * 3 / 5; ++x) {
        int y = top;
        while (y <= bottom && qGray(shot.pixel(x, y)) >= 160) ++y;
        int run = 0;
        while (y + run <= bottom && qGray(shot.pixel(x, y + run)) < 160) ++run;
        if (run > 0) thinnest = std::min(thinnest, run);
    }
    EXPECT_GE(thinnest, 1);
    EXPECT_LE(thinnest, 3) << "page of " << (bottom - top) << " pixels";
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
#ifdef TARVIK_HAVE_FONTS
    tarvik::installFontSubstitutions();
#endif
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
