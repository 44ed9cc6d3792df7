// The two pictures of the front end, drawn with QPainter: the emblem of the
// main menu (a CdTe detector and a measured spectrum) and the diagram of the
// scattering-angle window (a CT beam seen from the side, a scatterer at the
// beam centre and one shifted along the body axis, and the detector).
#pragma once

#include <QWidget>

namespace tarvik {

class EmblemPicture : public QWidget {
public:
    explicit EmblemPicture(QWidget* parent = nullptr);
    QSize sizeHint() const override { return {170, 150}; }

protected:
    void paintEvent(QPaintEvent*) override;
};

class BeamDiagram : public QWidget {
public:
    explicit BeamDiagram(QWidget* parent = nullptr);
    QSize sizeHint() const override { return {560, 300}; }

protected:
    void paintEvent(QPaintEvent*) override;
};

} // namespace tarvik
