// The spectrum display window: a file chooser, up to five spectra drawn
// normalised in colour over a chosen energy range, a cursor that reads
// channel, energy and count, redraw, clear and a black-and-white printout.
#pragma once

#include "appstate.h"

#include <QString>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <memory>

class Form5 : public QWidget {
    Q_OBJECT

public:
    Form5(tarvik::AppState& state, QWidget* mainMenu, std::function<void()> showExtensions,
          QWidget* parent = nullptr);
    ~Form5() override;
    // The opening steps of the main menu's display button; shows the window
    // (not modal) and hides the main menu.
    void openFromMenu();

    // Asks for the name of a file to save (caption, suggested name, filters
    // as QFileDialog takes them); an empty answer cancels.  The window uses a
    // file dialog; tests put their own answer in.
    using SaveFileChooser = std::function<QString(const QString& caption, const QString& suggested,
                                                  const QString& filters)>;
    void setSaveFileChooser(SaveFileChooser chooser);

    // "他の形式を開く…": asks for a spectrum file of another format (caption,
    // folder, filters); an empty answer cancels.  And, for a file with
    // several spectra, which one (caption, their names): the index, or -1.
    using OpenFileChooser = std::function<QString(const QString& caption, const QString& folder,
                                                  const QString& filters)>;
    using ItemChooser = std::function<int(const QString& caption, const QStringList& items)>;
    void setOpenFileChooser(OpenFileChooser chooser);
    void setItemChooser(ItemChooser chooser);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
