#include "forms.h"
#include "pictures.h"
#include "widgethelpers.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QVBoxLayout>

namespace tarvik {

using namespace ui;

Form2::Form2(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(tr("拡張子"));
    auto* lay = new QVBoxLayout(this);
    lay->setContentsMargins(24, 18, 24, 16);
    lay->setSpacing(6);
    lay->addWidget(label(this, "Label1", tr("拡張子について"), meiryo(13, true)));
    auto* line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    lay->addWidget(line);
    const QFont body = meiryo(11);
    lay->addWidget(label(this, "Label2", tr("csv : 何も補正されていない測定データ"), body));
    lay->addWidget(label(this, "Label3", tr("mca1 : Storipping 補正されたデータ"), body));
    lay->addWidget(label(this, "Label4", tr("mca2 : Stripping 補正後、"), body));
    auto indented = [&](const char* name, const QString& text) {
        QLabel* l = label(this, name, text, body);
        l->setIndent(QFontMetrics(body).horizontalAdvance(QStringLiteral("mca2 : ")));
        lay->addWidget(l);
    };
    indented("Label5", tr("散乱線 → 一次線スペクトル変換を"));
    indented("Label6", tr("行なったデータ"));
    lay->addSpacing(12);
    auto* close = button(this, "Command1", tr("閉じる"), meiryo(10));
    close->setMinimumWidth(110);
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(close);
    row->addStretch();
    lay->addLayout(row);
    connect(close, &QPushButton::clicked, this, &QWidget::hide);
    setFixedSize(sizeHint().expandedTo(QSize(400, 0)));
}

Form6::Form6(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("Form6"));
    setWindowTitle(tr("散乱角度について"));
    auto* lay = new QVBoxLayout(this);
    lay->setContentsMargins(18, 14, 18, 14);
    lay->setSpacing(4);
    lay->addWidget(new BeamDiagram(this));
    lay->addSpacing(8);
    const QFont body = meiryo(10.5);
    const char* names[] = {"Label1", "Label2", "Label3", "Label4", "Label5"};
    const QString lines[] = {
        tr("例えば、上図に示す MDCT のように、散乱体を線束中心に置いた場合と"),
        tr("線束内で体軸方向にずらしておいた場合で、図のように設置した検出器に"),
        tr("入射する散乱線の散乱角度は異なる。　実測した散乱線スペクトルから"),
        tr("散乱体へ入射する一次線スペクトルへ変換する際には、正確な散乱角度に"),
        tr("基づいて計算処理を行う必要がある。")};
    for (int i = 0; i < 5; ++i) lay->addWidget(label(this, names[i], lines[i], body));
    lay->addSpacing(10);
    auto* close = button(this, "Command1", tr("閉じる"), meiryo(10));
    close->setMinimumWidth(110);
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(close);
    row->addStretch();
    lay->addLayout(row);
    connect(close, &QPushButton::clicked, this, &QWidget::hide);
    setFixedSize(sizeHint());
}

} // namespace tarvik
