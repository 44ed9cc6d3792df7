#include "pictures.h"

#include "fonts.h"

#include <QCoreApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace tarvik {
namespace {

// Angle of the direction (dx, dy) in screen coordinates, in degrees
// counter-clockwise from the x axis as QPainter::drawArc counts.
double screenAngle(QPointF d) { return std::atan2(-d.y(), d.x()) * 180.0 / M_PI; }

void arrowHead(QPainter& p, QPointF tip, QPointF from, double size) {
    QPointF d = tip - from;
    double len = std::hypot(d.x(), d.y());
    if (len <= 0) return;
    d /= len;
    QPointF n(-d.y(), d.x());
    QPolygonF head{tip, tip - d * size + n * size * 0.45, tip - d * size - n * size * 0.45};
    p.drawPolygon(head);
}

} // namespace

EmblemPicture::EmblemPicture(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("Picture1"));
    setMinimumSize(170, 150);
}

void EmblemPicture::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = rect().adjusted(1, 1, -1, -1);
    QLinearGradient bg(r.topLeft(), r.bottomLeft());
    bg.setColorAt(0, QColor(18, 40, 92));
    bg.setColorAt(1, QColor(6, 16, 44));
    p.setPen(QPen(QColor(120, 150, 210), 1.5));
    p.setBrush(bg);
    p.drawRoundedRect(r, 10, 10);

    const double w = r.width(), h = r.height();
    auto at = [&](double fx, double fy) { return QPointF(r.left() + fx * w, r.top() + fy * h); };

    // the detector: a cylindrical housing with the CdTe crystal at its window
    QRectF housing(at(0.06, 0.18), at(0.36, 0.40));
    QLinearGradient metal(housing.topLeft(), housing.bottomLeft());
    metal.setColorAt(0, QColor(210, 215, 225));
    metal.setColorAt(0.5, QColor(150, 158, 172));
    metal.setColorAt(1, QColor(95, 100, 115));
    p.setPen(QPen(QColor(60, 64, 78), 1));
    p.setBrush(metal);
    p.drawRoundedRect(housing, 3, 3);
    QRectF crystal(housing.right() - 2, housing.center().y() - h * 0.05, w * 0.05, h * 0.10);
    p.setBrush(QColor(250, 190, 60));
    p.drawRect(crystal);

    // incoming photons
    p.setPen(QPen(QColor(255, 230, 120), 1.4, Qt::DashLine));
    p.setBrush(QColor(255, 230, 120));
    for (int k = -1; k <= 1; ++k) {
        QPointF from = at(0.62, 0.29 + k * 0.07);
        QPointF to(crystal.right() + 3, crystal.center().y() + k * h * 0.025);
        p.drawLine(from, to);
        arrowHead(p, to, from, 6);
    }

    // a measured spectrum: bremsstrahlung continuum with two characteristic peaks
    QRectF plot(at(0.08, 0.50), at(0.92, 0.86));
    p.setPen(QPen(QColor(120, 150, 210), 1));
    p.drawLine(plot.bottomLeft(), plot.bottomRight());
    p.drawLine(plot.bottomLeft(), plot.topLeft());
    QPainterPath curve;
    const int n = 120;
    for (int i = 0; i <= n; ++i) {
        double e = static_cast<double>(i) / n;  // 0..1 of the tube voltage
        double cont = e < 0.12 ? 0.0 : std::pow((e - 0.12) / 0.88, 0.6) * (1.0 - e) * 2.2;
        double peaks = 0.75 * std::exp(-std::pow((e - 0.59) / 0.012, 2)) +
                       0.30 * std::exp(-std::pow((e - 0.68) / 0.012, 2));
        double y = std::min(1.0, cont + peaks);
        QPointF pt(plot.left() + e * plot.width(), plot.bottom() - y * plot.height());
        if (i == 0) curve.moveTo(pt);
        else curve.lineTo(pt);
    }
    p.setPen(QPen(QColor(120, 255, 160), 1.8));
    p.setBrush(Qt::NoBrush);
    p.drawPath(curve);

    QFont f(kTimes);
    f.setPixelSize(std::max(10, static_cast<int>(h * 0.10)));
    f.setItalic(true);
    f.setBold(true);
    p.setFont(f);
    p.setPen(QColor(255, 255, 255));
    p.drawText(QRectF(at(0.62, 0.06), at(0.97, 0.24)), Qt::AlignRight | Qt::AlignVCenter,
               QStringLiteral("CdTe"));
    QFont small(kMeiryo);
    small.setPixelSize(std::max(8, static_cast<int>(h * 0.07)));
    p.setFont(small);
    p.setPen(QColor(190, 205, 235));
    p.drawText(QRectF(at(0.05, 0.87), at(0.95, 0.99)), Qt::AlignCenter, QStringLiteral("1024 ch"));
}

BeamDiagram::BeamDiagram(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("Picture1"));
    setMinimumSize(520, 280);
}

void BeamDiagram::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(rect(), Qt::white);
    p.setPen(QPen(QColor(150, 150, 150), 1));
    p.drawRect(rect().adjusted(0, 0, -1, -1));

    const double w = width(), h = height();
    auto at = [&](double fx, double fy) { return QPointF(fx * w, fy * h); };
    QFont label(kMeiryo);
    label.setPixelSize(std::max(10, static_cast<int>(h * 0.045)));
    p.setFont(label);

    // gantry (cut open, seen from the side) and the patient couch along the body axis
    const QPointF focus = at(0.40, 0.14);
    const double planeY = 0.52 * h;  // height of the scatterers
    const double bottomY = 0.86 * h;
    p.setPen(QPen(QColor(120, 120, 140), 1));
    p.setBrush(QColor(232, 236, 245));
    p.drawRect(QRectF(at(0.26, 0.04), at(0.54, 0.10)));
    p.drawRect(QRectF(QPointF(0.26 * w, bottomY), at(0.54, 0.92)));
    p.setBrush(QColor(70, 70, 80));
    p.drawRoundedRect(QRectF(focus.x() - w * 0.05, 0.06 * h, w * 0.10, h * 0.07), 3, 3);
    p.setPen(Qt::black);
    p.drawText(QRectF(at(0.02, 0.03), at(0.25, 0.13)), Qt::AlignRight | Qt::AlignVCenter,
               QCoreApplication::translate("tarvik::BeamDiagram", "X線管"));
    p.setBrush(QColor(225, 215, 195));
    p.setPen(QPen(QColor(140, 120, 90), 1));
    p.drawRoundedRect(QRectF(at(0.04, 0.64), at(0.96, 0.70)), 4, 4);
    p.setPen(Qt::black);
    p.drawText(QRectF(at(0.04, 0.70), at(0.30, 0.78)), Qt::AlignLeft | Qt::AlignVCenter,
               QCoreApplication::translate("tarvik::BeamDiagram", "寝台"));

    // the beam: a fan along the body axis from the focus to the detector rows
    const double halfWidthBottom = 0.17 * w;
    QPolygonF beam{focus, QPointF(focus.x() - halfWidthBottom, bottomY),
                   QPointF(focus.x() + halfWidthBottom, bottomY)};
    p.setPen(QPen(QColor(230, 140, 40), 1));
    p.setBrush(QColor(255, 200, 120, 110));
    p.drawPolygon(beam);
    p.setPen(QPen(QColor(200, 100, 30), 1, Qt::DashDotLine));
    p.drawLine(focus, QPointF(focus.x(), bottomY + 0.03 * h));
    p.setPen(QColor(170, 80, 20));
    p.drawText(QRectF(focus.x() - 0.20 * w, 0.22 * h, 0.14 * w, 0.07 * h), Qt::AlignRight | Qt::AlignVCenter,
               QCoreApplication::translate("tarvik::BeamDiagram", "線束"));

    // the detector beside the beam, outside it
    const QPointF det = at(0.87, 0.36);
    p.setPen(QPen(QColor(60, 60, 70), 1));
    p.setBrush(QColor(190, 195, 210));
    p.drawRect(QRectF(det.x() - 0.03 * w, det.y() - 0.05 * h, 0.08 * w, 0.10 * h));
    p.setBrush(QColor(250, 190, 60));
    p.drawRect(QRectF(det.x() - 0.035 * w, det.y() - 0.02 * h, 0.008 * w, 0.04 * h));
    p.setPen(Qt::black);
    p.drawText(QRectF(det.x() - 0.10 * w, det.y() - 0.13 * h, 0.22 * w, 0.07 * h), Qt::AlignCenter,
               QCoreApplication::translate("tarvik::BeamDiagram", "検出器"));

    // two scatterer positions: on the beam centre and shifted along the axis
    const QPointF sA(focus.x(), planeY);
    const QPointF sB(focus.x() + 0.08 * w, planeY);
    const QColor colA(30, 90, 200), colB(200, 40, 60);
    struct Pos {
        QPointF s;
        QColor c;
        QString name;
        QString angle;
        QRectF labelBox;
        Qt::Alignment align;
    };
    const Pos positions[] = {
        {sA, colA, QCoreApplication::translate("tarvik::BeamDiagram", "散乱体（線束中心）"),
         QStringLiteral("θ1"),
         QRectF(0.02 * w, planeY - 0.035 * h, sA.x() - 0.04 * w, 0.07 * h), Qt::AlignRight},
        {sB, colB, QCoreApplication::translate("tarvik::BeamDiagram", "散乱体（体軸方向にずらす）"),
         QStringLiteral("θ2"),
         QRectF(sB.x() + 0.10 * w, planeY + 0.005 * h, 0.40 * w, 0.07 * h), Qt::AlignLeft}};
    for (const Pos& q : positions) {
        // incident ray and its continuation, scattered ray to the detector
        p.setPen(QPen(q.c, 1.2));
        p.drawLine(focus, q.s);
        QPointF dir = q.s - focus;
        dir /= std::hypot(dir.x(), dir.y());
        p.setPen(QPen(q.c, 1, Qt::DotLine));
        p.drawLine(q.s, q.s + dir * (0.10 * h));
        p.setPen(QPen(q.c, 1.4));
        p.setBrush(q.c);
        QPointF toDet = det - QPointF(0.035 * w, 0) - q.s;
        p.drawLine(q.s, q.s + toDet);
        arrowHead(p, q.s + toDet, q.s, 7);
        // the scattering angle between the incident direction and the scattered ray
        double a1 = screenAngle(dir), a2 = screenAngle(toDet);
        double span = a2 - a1;
        while (span > 180) span -= 360;
        while (span < -180) span += 360;
        const double rad = 0.065 * h;
        p.setBrush(Qt::NoBrush);
        p.drawArc(QRectF(q.s.x() - rad, q.s.y() - rad, 2 * rad, 2 * rad), static_cast<int>(a1 * 16),
                  static_cast<int>(span * 16));
        double mid = (a1 + span / 2) * M_PI / 180.0;
        QPointF lp = q.s + QPointF(std::cos(mid), -std::sin(mid)) * (rad + 0.045 * h);
        p.setPen(q.c);
        p.drawText(QRectF(lp.x() - 0.03 * w, lp.y() - 0.035 * h, 0.06 * w, 0.07 * h), Qt::AlignCenter,
                   q.angle);
        // the scatterer itself
        p.setPen(QPen(Qt::black, 1));
        p.setBrush(q.c);
        p.drawEllipse(q.s, 0.018 * h + 2, 0.018 * h + 2);
        p.setPen(q.c);
        p.drawText(q.labelBox, q.align | Qt::AlignVCenter, q.name);
    }

    // body axis
    p.setPen(QPen(Qt::black, 1.2));
    p.setBrush(Qt::black);
    QPointF a0 = at(0.60, 0.96), a1 = at(0.95, 0.96);
    p.drawLine(a0, a1);
    arrowHead(p, a1, a0, 7);
    p.drawText(QRectF(at(0.60, 0.80), at(0.95, 0.94)), Qt::AlignRight | Qt::AlignBottom,
               QCoreApplication::translate("tarvik::BeamDiagram", "体軸方向"));
}

} // namespace tarvik
