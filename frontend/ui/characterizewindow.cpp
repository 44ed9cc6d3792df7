#include "characterizewindow.h"

#include "messagebox.h"
#include "spectrumfiles.h"
#include "widgethelpers.h"

#include "detector/characterize.h"
#include "detector/characterize_output.h"
#include "detector/physics_data.h"
#include "detector/report/characterize_report.h"
#include "detector/unfold_data.h"
#include "fixedio/installed.h"
#include "formats/spectrum.h"
#include "strip/detector_profile.h"

#include <QComboBox>
#include <QDateTime>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QTabWidget>
#include <QTableWidget>
#include <QThread>
#include <QVBoxLayout>

#include <cmath>

namespace tarvik {

namespace fs = std::filesystem;
using namespace ui;

namespace {

// The run was stopped by the user.
struct Stopped {};

QString number(double v) { return QString::number(v, 'g', 6); }

// The nuclide a file's name suggests, else 241Am (the source every lab has).
QString guessNuclide(const QString& file)
{
    const QString name = QFileInfo(file).fileName().toLower();
    auto has = [&](std::initializer_list<const char*> keys) {
        for (const char* k : keys)
            if (name.contains(QLatin1String(k))) return true;
        return false;
    };
    if (has({"57co", "co57", "co-57", "co_57"})) return QStringLiteral("57Co");
    if (has({"133ba", "ba133", "ba-133", "ba_133"})) return QStringLiteral("133Ba");
    if (has({"109cd", "cd109", "cd-109", "cd_109"})) return QStringLiteral("109Cd");
    if (has({"153gd", "gd153", "gd-153", "gd_153"})) return QStringLiteral("153Gd");
    return QStringLiteral("241Am");
}

QStringList nuclideNames()
{
    QStringList names;
    try {
        for (const auto& n : tvdet::xrl::radionuclideNames()) names << QString::fromStdString(n);
    } catch (const std::exception&) {
        names << QStringLiteral("241Am") << QStringLiteral("57Co") << QStringLiteral("133Ba");
    }
    return names;
}

// The RES the programs use in this working folder: its own, else the installed one.
fs::path programsRes(const fs::path& workDir)
{
    return fixedio::dataPath("RES", workDir, fixedio::installedDataFolder());
}

} // namespace

CharacterizeWindow::CharacterizeWindow(const fs::path& workDir, double kevPerChannel, QWidget* parent)
    : QWidget(parent, Qt::Window), workDir_(workDir), stopRequested_(std::make_shared<std::atomic<bool>>(false))
{
    setObjectName(QStringLiteral("CharacterizeWindow"));
    setWindowTitle(tr("検出器の特性評価"));
    const QFont lf = meiryo(10);
    ask = [this](const QString& text) { return askYesNo(this, text); };
    tell = [this](const QString& text) { showWarning(this, text); };

    QLabel* intro = label(this, "LabelIntro",
                          tr("校正用線源のスペクトルから、検出器のエネルギー校正（ゲインとオフセット）、分解能と"
                             "電荷輸送（電子と正孔の μτ）を求め、この検出器用の RES を作ります。"),
                          lf);
    intro->setWordWrap(true);

    sources = new QTableWidget(0, 2, this);
    sources->setObjectName(QStringLiteral("Sources"));
    sources->setHorizontalHeaderLabels({tr("線源のスペクトルファイル"), tr("核種")});
    sources->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    sources->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Fixed);
    sources->setColumnWidth(1, 120);
    sources->verticalHeader()->setVisible(false);
    sources->setSelectionBehavior(QAbstractItemView::SelectRows);
    sources->setEditTriggers(QAbstractItemView::NoEditTriggers);
    sources->setMinimumHeight(120);
    addButton = button(this, "AddSource", tr("ファイルを追加…"), lf);
    removeButton = button(this, "RemoveSource", tr("選んだ行を外す"), lf);

    const tvstrip::DetectorProfile shipped = tvdet::defaultDetectorProfile();
    tvstrip::DetectorProfile current = shipped;
    try {
        const fs::path profile = programsRes(workDir_) / tvstrip::kDetectorProfileName;
        std::error_code ec;
        if (fs::exists(profile, ec)) current = tvstrip::loadDetectorProfile(profile.string());
    } catch (const std::exception&) {
        // the shipped construction values then
    }
    kev = textBox(this, "Kev", timesNewRoman());
    kev->setText(number(kevPerChannel > 0 ? kevPerChannel : 0.1));
    firstLine = textBox(this, "FirstLine", timesNewRoman());
    firstLine->setText(QStringLiteral("32"));
    bias = textBox(this, "Bias", timesNewRoman());
    bias->setText(number(current.biasVolts));
    thickness = textBox(this, "Thickness", timesNewRoman());
    thickness->setText(number(current.crystalThicknessMm));
    window = textBox(this, "Window", timesNewRoman());
    window->setText(number(current.windowThicknessUm));
    for (QLineEdit* e : {kev, firstLine, bias, thickness, window}) e->setMaximumWidth(110);

    auto* entries = new QGridLayout;
    entries->setHorizontalSpacing(8);
    entries->addWidget(label(this, "LabelKev", tr("エネルギー幅 / チャネル（公称）"), lf), 0, 0);
    entries->addWidget(kev, 0, 1);
    entries->addWidget(label(this, "LabelKevUnit", tr("keV"), lf), 0, 2);
    entries->addWidget(label(this, "LabelFirstLine", tr("スペクトルデータの先頭行"), lf), 1, 0);
    entries->addWidget(firstLine, 1, 1);
    entries->setColumnMinimumWidth(3, 36);
    entries->addWidget(label(this, "LabelBias", tr("バイアス電圧"), lf), 0, 4);
    entries->addWidget(bias, 0, 5);
    entries->addWidget(label(this, "LabelBiasUnit", tr("V"), lf), 0, 6);
    entries->addWidget(label(this, "LabelThickness", tr("結晶の厚さ"), lf), 1, 4);
    entries->addWidget(thickness, 1, 5);
    entries->addWidget(label(this, "LabelThicknessUnit", tr("mm"), lf), 1, 6);
    entries->addWidget(label(this, "LabelWindow", tr("Be 窓の厚さ"), lf), 2, 4);
    entries->addWidget(window, 2, 5);
    entries->addWidget(label(this, "LabelWindowUnit", tr("µm"), lf), 2, 6);
    auto* given = label(this, "LabelGiven", tr("（構造の値：合わせ込みません）"), meiryo(9));
    entries->addWidget(given, 3, 4, 1, 3);
    entries->setColumnStretch(7, 1);

    runButton = button(this, "Run", tr("特性評価 GO"), meiryo(11, true));
    runButton->setMinimumSize(150, 36);
    stopButton = button(this, "Stop", tr("中止"), lf);
    stopButton->setEnabled(false);
    progress = new QProgressBar(this);
    progress->setObjectName(QStringLiteral("Progress"));
    progress->setRange(0, 1000);
    progress->setValue(0);
    progress->setTextVisible(false);
    status = label(this, "Status", tr("線源のファイルを追加し、それぞれの核種を選んでください。"), lf);
    status->setWordWrap(true);

    reports = new QTabWidget(this);
    reports->setObjectName(QStringLiteral("Reports"));
    values = new QPlainTextEdit(this);
    values->setObjectName(QStringLiteral("Values"));
    values->setReadOnly(true);
    values->setFont(msGothic(10));
    values->setMinimumWidth(480);
    values->setLineWrapMode(QPlainTextEdit::NoWrap);
    installButton = button(this, "Install", tr("この結果を RES に設定…"), lf);
    installButton->setEnabled(false);
    installButton->setToolTip(tr("作業フォルダの RES をこの結果で置き換えます。今の RES は RES.bak-日付 として残します。"));

    auto* sourceButtons = new QVBoxLayout;
    sourceButtons->addWidget(addButton);
    sourceButtons->addWidget(removeButton);
    sourceButtons->addStretch();
    auto* sourceRow = new QHBoxLayout;
    sourceRow->addWidget(sources, 1);
    sourceRow->addLayout(sourceButtons);

    auto* runRow = new QHBoxLayout;
    runRow->addWidget(runButton);
    runRow->addWidget(stopButton);
    runRow->addWidget(progress, 1);

    auto* results = new QHBoxLayout;
    results->addWidget(reports, 2);
    auto* right = new QVBoxLayout;
    right->addWidget(label(this, "LabelValues", tr("求めた値"), lf));
    right->addWidget(values, 1);
    right->addWidget(installButton);
    results->addLayout(right, 1);

    auto* lay = new QVBoxLayout(this);
    lay->setContentsMargins(14, 12, 14, 12);
    lay->addWidget(intro);
    lay->addLayout(sourceRow);
    lay->addLayout(entries);
    lay->addSpacing(4);
    lay->addLayout(runRow);
    lay->addWidget(status);
    lay->addLayout(results, 1);
    resize(1200, 860);

    connect(addButton, &QPushButton::clicked, this, &CharacterizeWindow::chooseFiles);
    connect(removeButton, &QPushButton::clicked, this, &CharacterizeWindow::removeSelected);
    connect(runButton, &QPushButton::clicked, this, &CharacterizeWindow::start);
    connect(stopButton, &QPushButton::clicked, this, &CharacterizeWindow::stop);
    connect(installButton, &QPushButton::clicked, this, &CharacterizeWindow::install);
}

CharacterizeWindow::~CharacterizeWindow()
{
    if (worker_) {
        *stopRequested_ = true;
        worker_->wait();
        delete worker_;
    }
}

void CharacterizeWindow::addSource(const QString& file, const QString& nuclide)
{
    const int row = sources->rowCount();
    sources->insertRow(row);
    auto* item = new QTableWidgetItem(file);
    item->setToolTip(file);
    sources->setItem(row, 0, item);
    auto* box = new QComboBox(sources);
    box->addItems(nuclideNames());
    box->setCurrentText(nuclide.isEmpty() ? guessNuclide(file) : nuclide);
    sources->setCellWidget(row, 1, box);
}

void CharacterizeWindow::chooseFiles()
{
    const QString start = QString::fromStdString((workDir_ / "Tarvik_data").string());
    const QStringList files = QFileDialog::getOpenFileNames(
        this, tr("線源のスペクトルファイル"), start,
        tr("測定スペクトル (*.csv);;分析器のスペクトルファイル (*.mca *.Spe *.spe *.Chn *.chn *.n42 *.xml *.txt)"));
    for (const QString& f : files) addSource(f);
}

void CharacterizeWindow::removeSelected()
{
    const auto rows = sources->selectionModel()->selectedRows();
    QList<int> numbers;
    for (const auto& r : rows) numbers << r.row();
    std::sort(numbers.begin(), numbers.end(), std::greater<int>());
    for (int r : numbers) sources->removeRow(r);
}

void CharacterizeWindow::start()
{
    if (worker_) return;
    if (sources->rowCount() == 0) {
        tell(tr("線源のスペクトルファイルを追加してください。"));
        return;
    }
    auto read = [&](QLineEdit* e, const QString& what, double lowest, bool strict) -> std::optional<double> {
        bool ok = false;
        const double v = e->text().trimmed().toDouble(&ok);
        if (!ok || !std::isfinite(v) || (strict ? !(v > lowest) : !(v >= lowest))) {
            tell(tr("%1 に正しい数値を入れてください。").arg(what));
            e->setFocus();
            return std::nullopt;
        }
        return v;
    };
    const auto w = read(kev, tr("エネルギー幅 / チャネル"), 0, true);
    if (!w) return;
    const auto line = read(firstLine, tr("スペクトルデータの先頭行"), 1, false);
    if (!line) return;
    const auto v = read(bias, tr("バイアス電圧"), 0, true);
    if (!v) return;
    const auto d = read(thickness, tr("結晶の厚さ"), 0, true);
    if (!d) return;
    const auto u = read(window, tr("Be 窓の厚さ"), 0, false);
    if (!u) return;

    std::vector<tvdet::CalibrationSpectrum> spectra;
    for (int r = 0; r < sources->rowCount(); ++r) {
        const QString file = sources->item(r, 0)->text();
        const QString nuclide = static_cast<QComboBox*>(sources->cellWidget(r, 1))->currentText();
        try {
            tvdet::CalibrationSpectrum s;
            s.nuclide = nuclide.toStdString();
            s.name = QFileInfo(file).fileName().toStdString();
            if (QFileInfo(file).suffix().compare(QStringLiteral("csv"), Qt::CaseInsensitive) == 0) {
                const MeasuredSpectrum m = readMeasuredFile(fs::path(file.toStdString()), std::floor(*line));
                s.counts.assign(m.counts.begin() + 1, m.counts.begin() + 1 + kChannels);
            } else {
                // An analyser's own file: its channels as they are.
                const formats::Spectrum f = formats::readSpectrum(fs::path(file.toStdString()));
                if (f.counts.size() != static_cast<std::size_t>(kChannels)) {
                    tell(tr("%1 には %2 チャネルあります。特性評価には分析器の 1024 チャネルのスペクトルが必要です。")
                             .arg(file)
                             .arg(f.counts.size()));
                    return;
                }
                s.counts.assign(f.counts.begin(), f.counts.end());
            }
            spectra.push_back(std::move(s));
        } catch (const std::exception& e) {
            tell(QString::fromStdString(e.what()));
            return;
        }
    }
    tvdet::Construction c = tvdet::constructionOf(tvdet::defaultDetectorProfile());
    c.biasVolts = *v;
    c.thicknessMm = *d;
    c.windowUm = *u;
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    const fs::path out = workDir_ / ("characterization-" + stamp.toStdString());
    tvdet::CharacterizeOptions options;
    options.threads = std::max(1, QThread::idealThreadCount());
    if (eventsPerCount > 0) {
        options.eventsPerCount = eventsPerCount;
        options.minEvents = 20000;
    }
    tvdet::OutputOptions oo;
    oo.standardRes = programsRes(workDir_);
    oo.threads = options.threads;
    if (unfoldPhotonsPerNode > 0) oo.unfoldPhotonsPerNode = unfoldPhotonsPerNode;
    oo.drawReport = [](const tvdet::Characterization& r, std::size_t k, const fs::path& file) {
        return tvdet::drawCharacterizationReport(r, k, file);
    };

    *stopRequested_ = false;
    runButton->setEnabled(false);
    stopButton->setEnabled(true);
    installButton->setEnabled(false);
    addButton->setEnabled(false);
    removeButton->setEnabled(false);
    reports->clear();
    values->clear();
    progress->setValue(0);
    status->setText(tr("特性評価を始めます…"));

    const auto stopFlag = stopRequested_;
    const double nominal = *w;
    worker_ = QThread::create([this, spectra, nominal, c, options, oo, out, stopFlag] {
        auto report = [this, stopFlag](double share, const std::string& what) {
            if (*stopFlag) throw Stopped{};
            const QString text = QString::fromStdString(what);
            QMetaObject::invokeMethod(this, [this, share, text] { showProgress(share, text); }, Qt::QueuedConnection);
        };
        bool ok = false;
        QString failure;
        try {
            const tvdet::Characterization r = tvdet::characterize(
                spectra, nominal, c, options, [&](double s, const std::string& what) { report(0.4 * s, what); });
            tvdet::writeCharacterization(r, out, oo, [&](double s, const std::string& what) { report(0.4 + 0.6 * s, what); });
            ok = true;
        } catch (const Stopped&) {
            failure = QString();
        } catch (const std::exception& e) {
            failure = QString::fromStdString(e.what());
        }
        QMetaObject::invokeMethod(this, [this, ok, failure, out] {
            if (ok) result_ = out;
            finish(ok, failure);
        }, Qt::QueuedConnection);
    });
    worker_->start();
}

void CharacterizeWindow::stop()
{
    if (!worker_) return;
    *stopRequested_ = true;
    stopButton->setEnabled(false);
    status->setText(tr("中止しています…"));
}

void CharacterizeWindow::showProgress(double share, const QString& what)
{
    if (!worker_) return;
    progress->setValue(static_cast<int>(std::lround(1000.0 * std::clamp(share, 0.0, 1.0))));
    status->setText(what);
}

void CharacterizeWindow::finish(bool succeeded, const QString& failure)
{
    if (worker_) {
        worker_->wait();
        delete worker_;
        worker_ = nullptr;
    }
    runButton->setEnabled(true);
    stopButton->setEnabled(false);
    addButton->setEnabled(true);
    removeButton->setEnabled(true);
    if (!succeeded) {
        progress->setValue(0);
        if (failure.isEmpty()) {
            status->setText(tr("中止しました。何も書いていません。"));
        } else {
            status->setText(tr("特性評価できませんでした。何も書いていません。"));
            tell(tr("特性評価できませんでした:\n%1").arg(failure));
        }
        emit runEnded(false);
        return;
    }
    progress->setValue(1000);
    status->setText(tr("結果を %1 に書きました。").arg(QString::fromStdString(result_.string())));
    QFile text(QString::fromStdString((result_ / "characterization.txt").string()));
    if (text.open(QIODevice::ReadOnly)) values->setPlainText(QString::fromUtf8(text.readAll()));
    std::error_code ec;
    std::vector<fs::path> pictures;
    for (const auto& e : fs::directory_iterator(result_, ec))
        if (e.path().extension() == ".png") pictures.push_back(e.path());
    std::sort(pictures.begin(), pictures.end());
    for (const auto& p : pictures) {
        auto* area = new QScrollArea(reports);
        auto* picture = new QLabel(area);
        const QPixmap pixmap(QString::fromStdString(p.string()));
        picture->setPixmap(pixmap.scaledToWidth(900, Qt::SmoothTransformation));
        area->setWidget(picture);
        // "report_1_241Am.png": the tab says "1: 241Am".
        QString name = QString::fromStdString(p.stem().string()).mid(7);
        name.replace(name.indexOf(QLatin1Char('_')), 1, QStringLiteral(": "));
        reports->addTab(area, name);
    }
    installButton->setEnabled(true);
    emit runEnded(true);
}

void CharacterizeWindow::install()
{
    if (result_.empty()) return;
    if (!ask(tr("作業フォルダの RES をこの結果で置き換えますか？\n今の RES は RES.bak-日付 として残します。")))
        return;
    const std::string stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")).toStdString();
    try {
        const std::string kept = tvdet::installRes(result_ / "RES", workDir_, stamp);
        status->setText(kept.empty() ? tr("RES に設定しました。")
                                     : tr("RES に設定しました。以前の RES は %1 に残しました。").arg(QString::fromStdString(kept)));
        installButton->setEnabled(false);
    } catch (const std::exception& e) {
        tell(tr("RES に設定できませんでした:\n%1").arg(QString::fromStdString(e.what())));
    }
}

} // namespace tarvik
