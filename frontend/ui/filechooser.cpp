#include "filechooser.h"

#include "resultname.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QStorageInfo>
#include <QMouseEvent>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace tarvik {
namespace {
constexpr int kPathRole = Qt::UserRole + 1;
}

FileChooser::FileChooser(const QString& patterns, QWidget* parent)
    : QWidget(parent), patterns_(patterns) {
    drive_ = new QComboBox(this);
    drive_->setObjectName(QStringLiteral("Drive1"));
    path_ = new QLabel(this);
    path_->setObjectName(QStringLiteral("Dir1Path"));
    path_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    dir_ = new QListWidget(this);
    dir_->setObjectName(QStringLiteral("Dir1"));
    dir_->setToolTip(tr("ダブルクリックでフォルダを開く"));
    file_ = new QListWidget(this);
    file_->setObjectName(QStringLiteral("File1"));
    file_->setSelectionMode(QAbstractItemView::SingleSelection);

    auto* lay = new QVBoxLayout(this);
    lay->setContentsMargins(0, 0, 0, 0);
    lay->setSpacing(3);
    lay->addWidget(drive_);
    lay->addWidget(path_);
    lay->addWidget(dir_, 1);
    lay->addWidget(file_, 1);

    connect(drive_, &QComboBox::activated, this, &FileChooser::onDriveActivated);
    connect(dir_, &QListWidget::itemActivated, this, &FileChooser::onFolderActivated);
    connect(file_, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) { reportFile(item->text()); });
    connect(file_, &QListWidget::currentItemChanged, this,
            [this](QListWidgetItem* current) { onCurrentFileChanged(current); });
    file_->viewport()->installEventFilter(this);

    fillDrives();
    setFolder(QDir::currentPath());
}

bool FileChooser::setFolder(const QString& folder) {
    QFileInfo info(QDir::current(), folder);
    if (!info.isDir()) return false;
    folder_ = QDir::cleanPath(info.absoluteFilePath());
    selectDriveOf(folder_);
    fillFolders();
    fillFiles();
    emit folderChanged(folder_);
    return true;
}

void FileChooser::refresh() {
    if (!QFileInfo(folder_).isDir()) {
        // the folder went away: fall back to the nearest one that exists
        QDir d(folder_);
        while (!d.exists() && d.cdUp()) {
        }
        folder_ = d.absolutePath();
        selectDriveOf(folder_);
    }
    fillFolders();
    fillFiles();
}

QString FileChooser::selectedFile() const {
    const auto items = file_->selectedItems();
    return items.isEmpty() ? QString() : items.front()->text();
}

QString FileChooser::selectedPath() const {
    QString f = selectedFile();
    if (f.isEmpty()) return {};
    return folder_.endsWith(QLatin1Char('/')) ? folder_ + f : folder_ + QLatin1Char('/') + f;
}

bool FileChooser::clickFile(const QString& name) {
    const auto found = file_->findItems(name, Qt::MatchExactly);
    if (found.isEmpty()) return false;
    quiet_ = true;
    file_->setCurrentItem(found.front());
    found.front()->setSelected(true);
    quiet_ = false;
    reportFile(name);
    return true;
}

void FileChooser::reportFile(const QString& name) {
    lastReported_ = name;
    emit fileClicked(name);
}

void FileChooser::onCurrentFileChanged(QListWidgetItem* current) {
    // A mouse click is reported when the button is released (itemClicked);
    // here only the keyboard's moves of the selection.  Focus arriving in
    // the list makes an item current without selecting it: not a choice.
    if (quiet_ || mousePressed_ || !current || !current->isSelected()) return;
    reportFile(current->text());
}

bool FileChooser::eventFilter(QObject* watched, QEvent* event) {
    if (watched == file_->viewport()) {
        if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick) {
            mousePressed_ = true;
        } else if (event->type() == QEvent::MouseButtonRelease) {
            // After the release has been handled (and itemClicked emitted):
            // a selection that the mouse moved without a click on an item,
            // e.g. pressed on one file and released beside it, is reported too.
            QTimer::singleShot(0, this, [this] {
                mousePressed_ = false;
                QListWidgetItem* current = file_->currentItem();
                if (current && current->isSelected() && current->text() != lastReported_)
                    reportFile(current->text());
            });
        }
    }
    return QWidget::eventFilter(watched, event);
}

void FileChooser::fillDrives() {
    drive_->clear();
    auto volumes = QStorageInfo::mountedVolumes();
    std::sort(volumes.begin(), volumes.end(),
              [](const QStorageInfo& a, const QStorageInfo& b) { return a.rootPath() < b.rootPath(); });
    for (const QStorageInfo& v : volumes) {
        if (!v.isValid() || !v.isReady() || !QFileInfo(v.rootPath()).isDir()) continue;  // not bind-mounted files
        QString label = v.rootPath();
        if (!v.name().isEmpty()) label += QStringLiteral("  [%1]").arg(v.name());
        drive_->addItem(label, v.rootPath());
    }
    if (drive_->findData(QStringLiteral("/")) < 0) drive_->insertItem(0, QStringLiteral("/"), QStringLiteral("/"));
}

void FileChooser::selectDriveOf(const QString& folder) {
    // the mounted file system whose root is the longest leading part of the path
    int best = -1;
    qsizetype bestLen = -1;
    for (int i = 0; i < drive_->count(); ++i) {
        QString root = drive_->itemData(i).toString();
        bool inside = root == QLatin1String("/") || folder == root ||
                      folder.startsWith(root.endsWith(QLatin1Char('/')) ? root : root + QLatin1Char('/'));
        if (inside && root.size() > bestLen) {
            best = i;
            bestLen = root.size();
        }
    }
    if (best >= 0) drive_->setCurrentIndex(best);
}

void FileChooser::fillFolders() {
    dir_->clear();
    path_->setText(folder_);
    path_->setToolTip(folder_);
    const QIcon open = style()->standardIcon(QStyle::SP_DirOpenIcon);
    const QIcon closed = style()->standardIcon(QStyle::SP_DirClosedIcon);

    // the way down from the root to the current folder
    QStringList chain;
    QDir d(folder_);
    chain.prepend(d.absolutePath());
    while (d.cdUp()) chain.prepend(d.absolutePath());
    int depth = 0;
    for (const QString& p : chain) {
        QString name = p == QLatin1String("/") ? QStringLiteral("/") : QFileInfo(p).fileName();
        auto* item = new QListWidgetItem(open, QString(depth * 2, QLatin1Char(' ')) + name, dir_);
        item->setData(kPathRole, p);
        item->setToolTip(p);
        ++depth;
    }
    dir_->setCurrentRow(dir_->count() - 1);
    // the subfolders of the current folder
    const auto subs = QDir(folder_).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot,
                                                 QDir::Name | QDir::IgnoreCase);
    for (const QFileInfo& s : subs) {
        auto* item = new QListWidgetItem(closed, QString(depth * 2, QLatin1Char(' ')) + s.fileName(), dir_);
        item->setData(kPathRole, s.absoluteFilePath());
        item->setToolTip(s.absoluteFilePath());
    }
}

void FileChooser::fillFiles() {
    quiet_ = true;
    lastReported_.clear();
    file_->clear();
    const auto entries = QDir(folder_).entryInfoList(QDir::Files, QDir::Name | QDir::IgnoreCase);
    const std::string pats = patterns_.toStdString();
    for (const QFileInfo& f : entries)
        if (matchesPattern(f.fileName().toStdString(), pats)) file_->addItem(f.fileName());
    file_->clearSelection();
    file_->setCurrentRow(-1);
    quiet_ = false;
}

void FileChooser::onDriveActivated(int index) {
    QString root = drive_->itemData(index).toString();
    if (!setFolder(root)) selectDriveOf(folder_);
}

void FileChooser::onFolderActivated(QListWidgetItem* item) {
    QString p = item->data(kPathRole).toString();
    if (p != folder_) setFolder(p);
}

} // namespace tarvik
