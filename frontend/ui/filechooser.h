// The drive / folder / file chooser of the task windows: a drive list of the
// mounted file systems (Drive1), a folder list that shows the way from the
// drive's root down to the current folder and its subfolders (Dir1; a
// double-click or Enter opens a folder), and a file list of the current
// folder filtered by patterns such as "*.csv" ignoring letter case (File1).
// A file counts as clicked when the mouse clicks it and also when the
// keyboard moves the selection to it, so the window always shows the file
// that is selected.
#pragma once

#include <QString>
#include <QWidget>

class QComboBox;
class QLabel;
class QListWidget;
class QListWidgetItem;

namespace tarvik {

class FileChooser : public QWidget {
    Q_OBJECT
public:
    // `patterns`: ";"-separated, e.g. "*.mca;*.mca1;*.csv".
    explicit FileChooser(const QString& patterns, QWidget* parent = nullptr);

    // The folder shown, absolute, without a trailing separator (except "/").
    QString folder() const { return folder_; }
    // Shows the folder (a relative one is taken from the working directory);
    // false, and nothing changes, when it does not exist.
    bool setFolder(const QString& folder);
    // Re-reads the current folder; the file list then has no selection.
    void refresh();
    // The selected file name, empty when none is selected.
    QString selectedFile() const;
    // folder() + "/" + selectedFile(), empty when none is selected.
    QString selectedPath() const;
    // Selects a listed file as a click would, and reports it by fileClicked.
    bool clickFile(const QString& name);

    QComboBox* driveList() const { return drive_; }
    QListWidget* folderList() const { return dir_; }
    QListWidget* fileList() const { return file_; }

signals:
    void fileClicked(const QString& name);
    void folderChanged(const QString& folder);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void reportFile(const QString& name);
    void onCurrentFileChanged(QListWidgetItem* current);

    void fillDrives();
    void selectDriveOf(const QString& folder);
    void fillFolders();
    void fillFiles();
    void onDriveActivated(int index);
    void onFolderActivated(QListWidgetItem* item);

    QString patterns_;
    QString folder_;
    QComboBox* drive_;
    QLabel* path_;
    QListWidget* dir_;
    QListWidget* file_;
    bool mousePressed_ = false;  // a mouse button went down on the file list
    bool quiet_ = false;         // the program itself changes the selection
    QString lastReported_;       // the file last reported by fileClicked
};

} // namespace tarvik
