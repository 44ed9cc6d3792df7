// The windows in English and the way back to Japanese: the translation file
// of the build, one that is missing or damaged, the remembered choice and
// the settings window's language box.
#include "forms.h"
#include "language_qt.h"
#include "testutil.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

using namespace tarvik;
using namespace tarvik::test;

namespace {

// The .qm file the build made.
QString builtTranslation() {
    for (const QString& folder : translationFolders()) {
        const QString path = QDir(folder).filePath(QStringLiteral("tarvik_en.qm"));
        if (QFile::exists(path)) return path;
    }
    return {};
}

// Captions of the main menu built now.
QStringList menuCaptions(const std::filesystem::path& workDir) {
    AppState state;
    RecordingLauncher launcher;
    Form1 menu(state, launcher, workDir);
    QStringList captions;
    for (QPushButton* b : {menu.Command2, menu.Command5, menu.Command3, menu.Command4}) captions << b->text();
    captions << menu.Label3->text();
    return captions;
}

class LanguageTest : public ::testing::Test {
protected:
    void TearDown() override { installLanguage(Language::Japanese); }
    ScratchFolder dir;
};

} // namespace

TEST_F(LanguageTest, EnglishFromTheBuiltFileAndBackToJapanese) {
    ASSERT_FALSE(builtTranslation().isEmpty()) << "tarvik_en.qm not found in the build";
    testing::internal::CaptureStderr();
    EXPECT_EQ(installLanguage(Language::English), Language::English);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(currentLanguage(), Language::English);
    const QStringList english = menuCaptions(dir.path());
    EXPECT_EQ(english, (QStringList{QStringLiteral("Stripping correction"),
                                    QStringLiteral("Scattered → primary spectrum conversion"),
                                    QStringLiteral("Spectrum display"), QStringLiteral("Exit"),
                                    QStringLiteral("Facility name")}));
    // The rules' messages follow.
    auto n = checkSettingsEntries("", "a", "b");
    ASSERT_TRUE(n);
    EXPECT_EQ(n->text, " Please enter the names ");

    EXPECT_EQ(installLanguage(Language::Japanese), Language::Japanese);
    EXPECT_EQ(menuCaptions(dir.path()),
              (QStringList{QStringLiteral("Stripping 補正"), QStringLiteral("散乱線 → 一次線スペクトル 変換"),
                           QStringLiteral("スペクトル表示"), QStringLiteral("終  了"), QStringLiteral("施設名")}));
    n = checkSettingsEntries("", "a", "b");
    ASSERT_TRUE(n);
    EXPECT_EQ(n->text, " 名称を入力して下さい ");
}

// A translation file that is missing, empty, cut short, not one at all or
// of another language: Japanese windows, a note on stderr, no empty caption.
TEST_F(LanguageTest, MissingOrDamagedFileFallsBackToJapanese) {
    QFile built(builtTranslation());
    ASSERT_TRUE(built.open(QIODevice::ReadOnly));
    const QByteArray good = built.readAll();
    ASSERT_GT(good.size(), 64);

    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString qm = QDir(folder.path()).filePath(QStringLiteral("tarvik_en.qm"));
    const std::vector<std::pair<const char*, QByteArray>> cases{
        {"missing", QByteArray()},
        {"empty", QByteArray("")},
        {"cut short", good.left(good.size() / 2)},
        {"not a translation", QByteArray("<html>not found</html>\n")},
        {"only its head", good.left(16)},
    };
    for (const auto& [what, bytes] : cases) {
        QFile::remove(qm);
        if (std::string(what) != "missing") {
            QFile f(qm);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(bytes);
        }
        testing::internal::CaptureStderr();
        EXPECT_EQ(installLanguage(Language::English, {folder.path()}), Language::Japanese) << what;
        const std::string note = testing::internal::GetCapturedStderr();
        EXPECT_NE(note.find("Japanese"), std::string::npos) << what << ": " << note;
        const QStringList captions = menuCaptions(dir.path());
        EXPECT_EQ(captions.front(), QStringLiteral("Stripping 補正")) << what;
        for (const QString& c : captions) EXPECT_FALSE(c.trimmed().isEmpty()) << what;
    }
}

TEST_F(LanguageTest, CommandLineWinsAndAnUnreadableSettingIsIgnored) {
    const auto file = dir.path() / std::string(kLanguageFile);
    EXPECT_EQ(startLanguage(std::nullopt, dir.path()), Language::Japanese);  // nothing chosen
    writeBytes(file, "en\r\n");
    EXPECT_EQ(startLanguage(std::nullopt, dir.path()), Language::English);
    EXPECT_EQ(startLanguage(Language::Japanese, dir.path()), Language::Japanese);

    for (const std::string bytes : {"francais\r\n", "", "\xff\xfe\x00"}) {
        writeBytes(file, bytes);
        testing::internal::CaptureStderr();
        EXPECT_EQ(startLanguage(std::nullopt, dir.path()), Language::Japanese);
        const std::string note = testing::internal::GetCapturedStderr();
        EXPECT_NE(note.find("Language.txt"), std::string::npos) << note;
        EXPECT_EQ(startLanguage(Language::English, dir.path()), Language::English);
    }
}

// The settings window keeps the choice in Language.txt and leaves
// UserName.txt in its four lines; the box stands in the keV row, clear of
// every other control.
TEST_F(LanguageTest, SettingsWindowKeepsTheChoiceApart) {
    AppState state;
    RecordingLauncher launcher;
    Form1 menu(state, launcher, dir.path());
    menu.endProgram = [] {};
    Form7& f7 = menu.form7();
    f7.openWith(QStringLiteral("病院"), QStringLiteral("MCA"), QStringLiteral("CdTe"), QStringLiteral("0.2"));
    QComboBox* box = f7.LanguageBox;
    EXPECT_EQ(box->currentText(), QStringLiteral("日本語"));
    const QRect kev(f7.Text4->mapTo(&f7, QPoint()), f7.Text4->size());
    const QRect mine(box->mapTo(&f7, QPoint()), box->size());
    EXPECT_GE(mine.top(), kev.top());
    EXPECT_LE(mine.bottom(), kev.bottom());
    for (QWidget* w : f7.findChildren<QWidget*>()) {
        if (w == box || w->objectName().isEmpty() || w->objectName() == QStringLiteral("LabelLanguage") ||
            !w->isVisibleTo(&f7) || box->isAncestorOf(w))
            continue;
        EXPECT_FALSE(QRect(w->mapTo(&f7, QPoint()), w->size()).intersects(mine)) << w->objectName().toStdString();
    }

    box->setCurrentIndex(box->findText(QStringLiteral("English")));
    QString told;
    QTimer::singleShot(0, [&] {
        if (auto* m = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            told = m->text();
            m->accept();
        }
    });
    f7.Command1->click();
    EXPECT_EQ(readBytes(dir.path() / "Language.txt"), "en\r\n");
    EXPECT_EQ(readBytes(dir.path() / "UserName.txt"), "\x95\x61\x89\x40\r\nMCA\r\nCdTe\r\n0.2\r\n");
    EXPECT_TRUE(told.contains(QStringLiteral("English"))) << told.toStdString();

    // Opened again it shows the kept choice; Cancel writes nothing.
    f7.openWith(QStringLiteral("病院"), QStringLiteral("MCA"), QStringLiteral("CdTe"), QStringLiteral("0.2"));
    EXPECT_EQ(box->currentText(), QStringLiteral("English"));
    box->setCurrentIndex(box->findText(QStringLiteral("日本語")));
    f7.Command2->click();
    EXPECT_EQ(readBytes(dir.path() / "Language.txt"), "en\r\n");
}

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    installLanguage(Language::Japanese);
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
