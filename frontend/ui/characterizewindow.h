// "検出器の特性評価": the characterization of the detector from spectra of
// calibration sources, opened from the stripping dialog.  The user picks the
// source files and names the nuclide of each, runs the characterization (in
// a worker thread, with its progress; the window stays responsive and the
// run can be stopped), sees the report of each source and the fitted
// values, and may install the result as the working folder's RES (the
// earlier one kept as RES.bak-<date>).
#pragma once

#include <QWidget>

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTabWidget;
class QTableWidget;
class QThread;

namespace tarvik {

class CharacterizeWindow : public QWidget {
    Q_OBJECT
public:
    // `workDir`: the working folder (its RES is the one replaced, its
    // Tarvik_data the folder the file dialog opens); `kevPerChannel`: the
    // nominal width the settings hold.
    CharacterizeWindow(const std::filesystem::path& workDir, double kevPerChannel, QWidget* parent = nullptr);
    ~CharacterizeWindow() override;

    // Adds a source file; the nuclide is guessed from the file name when
    // not given.
    void addSource(const QString& file, const QString& nuclide = QString());
    bool running() const { return worker_ != nullptr; }
    // The folder of the last result (empty before one).
    std::filesystem::path resultFolder() const { return result_; }
    // Answers the questions the window asks (a message box by default; tests
    // answer themselves).
    std::function<bool(const QString&)> ask;
    // Tells the user something (a message box by default).
    std::function<void(const QString&)> tell;
    // Work effort of a run (tests make it small); 0 keeps the defaults.
    std::int64_t unfoldPhotonsPerNode = 0;
    double eventsPerCount = 0;

    QTableWidget* sources;
    QPushButton* addButton;
    QPushButton* removeButton;
    QLineEdit* kev;
    QLineEdit* firstLine;
    QLineEdit* bias;
    QLineEdit* thickness;
    QLineEdit* window;
    QPushButton* runButton;
    QPushButton* stopButton;
    QProgressBar* progress;
    QLabel* status;
    QTabWidget* reports;
    QPlainTextEdit* values;
    QPushButton* installButton;

signals:
    // A run ended: with a result, or not (failed or stopped).
    void runEnded(bool succeeded);

private:
    void chooseFiles();
    void removeSelected();
    void start();
    void stop();
    void install();
    void showProgress(double share, const QString& what);
    void finish(bool succeeded, const QString& failure);

    std::filesystem::path workDir_;
    std::filesystem::path result_;
    QThread* worker_ = nullptr;
    std::shared_ptr<std::atomic<bool>> stopRequested_;
};

} // namespace tarvik
