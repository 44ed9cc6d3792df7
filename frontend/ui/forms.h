// The windows of the front end apart from the display window: the main menu
// Form1, the settings window Form7, the information windows Form2 and Form6,
// the stripping dialog Form4 and the conversion dialog Form3.  Every window
// works on the shared AppState; the rules behind the buttons live in
// tarvik_logic (dialogs.h).
#pragma once

#include "appstate.h"
#include "language.h"
#include "launcher.h"

#include <QWidget>

#include <filesystem>
#include <functional>
#include <memory>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;

namespace tarvik {

class CharacterizeWindow;
class FileChooser;

// ---------------- information windows ----------------

// "拡張子": what the extensions of the spectrum files mean.
class Form2 : public QWidget {
    Q_OBJECT

public:
    explicit Form2(QWidget* parent = nullptr);
};

// "散乱角度について": why the exact scattering angle matters.
class Form6 : public QWidget {
    Q_OBJECT

public:
    explicit Form6(QWidget* parent = nullptr);
};

// ---------------- settings window ----------------

class Form1;

class Form7 : public QWidget {
    Q_OBJECT

public:
    Form7(AppState& state, const std::filesystem::path& workDir, Form1& menu);
    // Shows the window with these entries; `notice`, when given, says above
    // them why the window opened (a settings file that could not be read).
    void openWith(const QString& facility, const QString& analyser, const QString& detector,
                  const QString& kev, const QString& notice = QString());

    QLineEdit* Text1;
    QLineEdit* Text2;
    QLineEdit* Text3;
    QLineEdit* Text4;
    QPushButton* Command1;
    QPushButton* Command2;
    QLabel* LabelNotice;  // hidden unless there is something to tell
    // The windows' language from the next start (Language.txt), right of
    // the keV per channel.
    QComboBox* LanguageBox;

private:
    void ok();
    void cancel();
    // The choice kept in Language.txt (Japanese when there is none).
    Language keptLanguage() const;

    AppState& state_;
    std::filesystem::path workDir_;
    Form1& menu_;
};

// ---------------- the two dialogs that start a console program ----------------

// What the stripping and the conversion dialog share: while open they take
// the main menu's place; "キャンセル" and the close box return to the menu,
// and the window keeps its folder and contents for the next opening.
class ProgramDialog : public QWidget {
    Q_OBJECT

public:
    explicit ProgramDialog(QWidget* mainMenu) : menu_(mainMenu) {}

protected:
    void closeEvent(QCloseEvent* e) override;
    // Shows the dialog and hides the menu.
    void showInsteadOfMenu();
    // Hides the dialog and shows the menu.
    void backToMenu();
    // At the first opening (opened == 0) the chooser goes to the data folder
    // Tarvik_data and `opened` becomes 1; a missing folder is reported.
    void startInDataFolder(FileChooser* chooser, int& opened, const std::filesystem::path& workDir);

private:
    QWidget* menu_;
};

// ---------------- stripping dialog ----------------

class Form4 : public ProgramDialog {
    Q_OBJECT

public:
    Form4(AppState& state, ProgramLauncher& launcher, const std::filesystem::path& workDir,
          QWidget* mainMenu);
    // The opening steps of the menu's stripping button; shows the dialog and
    // hides the menu.
    void openFromMenu();

    FileChooser* chooser;  // Drive1, Dir1, File1
    QListWidget* List1;
    QLineEdit* Text1;
    QLineEdit* Text2;
    QLineEdit* Text3;
    QLineEdit* Text4;
    QLineEdit* Text5;
    QLineEdit* Text6;
    QCheckBox* Check1;  // the unfolding method instead of the stripping
    QPushButton* Command1;
    QPushButton* Command2;
    // "検出器の特性評価…" beside Check1 (null in a build without the detector
    // Monte Carlo); opens characterizeWindow().
    QPushButton* Command3 = nullptr;
    CharacterizeWindow* characterizeWindow();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void fileClicked(const QString& name);
    void go();
    void openCharacterization();
    void placeCharacterizeButton();

    CharacterizeWindow* characterize_ = nullptr;

    AppState& state_;
    ProgramLauncher& launcher_;
    std::filesystem::path workDir_;
};

// ---------------- conversion dialog ----------------

class Form3 : public ProgramDialog {
    Q_OBJECT

public:
    Form3(AppState& state, ProgramLauncher& launcher, const std::filesystem::path& workDir,
          QWidget* mainMenu, std::function<void()> showAngleInfo);
    void openFromMenu();

    FileChooser* chooser;
    QListWidget* List1;
    QLineEdit* Text1;
    QLineEdit* Text2;
    QLineEdit* Text3;
    QLineEdit* Text4;
    QLineEdit* Text5;
    QLineEdit* Text6;
    QRadioButton* Option1;
    QRadioButton* Option2;
    QCheckBox* Check1;  // the unfolding method instead of the standard conversion
    QPushButton* Command1;
    QPushButton* Command2;
    QPushButton* Command3;

private:
    void fileClicked(const QString& name);
    void go();

    AppState& state_;
    ProgramLauncher& launcher_;
    std::filesystem::path workDir_;
    std::function<void()> showAngleInfo_;
};

// ---------------- main menu ----------------

class Form1 : public QWidget {
    Q_OBJECT

public:
    Form1(AppState& state, ProgramLauncher& launcher, const std::filesystem::path& workDir);
    ~Form1() override;

    // Start-up: reads the settings file; opens the settings window when that
    // fails.  Call after show().
    void load();

    // Windows, created on first use.
    Form2& form2();
    Form3& form3();
    Form4& form4();
    Form6& form6();
    Form7& form7();
    QWidget* displayWindow() const { return display_; }

    QLabel* Label3;   // facility name
    QLabel* Label8;   // analyser
    QLabel* Label10;  // detector
    QPushButton* Command2;
    QPushButton* Command5;
    QPushButton* Command3;
    QPushButton* Command4;

    // What ends the program after the clean-up; quits the application
    // unless a test replaces it.
    std::function<void()> endProgram;

protected:
    void closeEvent(QCloseEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void openStripping();
    void openConversion();
    void openDisplay();
    void exitProgram();

    AppState& state_;
    ProgramLauncher& launcher_;
    std::filesystem::path workDir_;
    std::unique_ptr<Form2> form2_;
    std::unique_ptr<Form3> form3_;
    std::unique_ptr<Form4> form4_;
    std::unique_ptr<Form6> form6_;
    std::unique_ptr<Form7> form7_;
    QWidget* display_ = nullptr;  // owned, deleted in the destructor
    bool exiting_ = false;
};

} // namespace tarvik
