#include "fonts.h"

#include <QFont>
#include <QFontDatabase>
#include <QStringList>

namespace tarvik {

void installFontSubstitutions() {
    // Gothic (sans-serif) Japanese faces for the interface fonts, Mincho
    // (serif) for the brush-script and the Latin serif faces; the Latin
    // serif faces first try Liberation Serif, which has their metrics.
    const QStringList gothicP{QStringLiteral("IPAPGothic"), QStringLiteral("IPAGothic"),
                              QStringLiteral("Liberation Sans")};
    const QStringList gothicMono{QStringLiteral("IPAGothic"), QStringLiteral("IPAPGothic"),
                                 QStringLiteral("Liberation Mono")};
    const QStringList mincho{QStringLiteral("IPAMincho"), QStringLiteral("IPAPMincho"),
                             QStringLiteral("Liberation Serif")};
    const QStringList serif{QStringLiteral("Liberation Serif"), QStringLiteral("IPAMincho"),
                            QStringLiteral("IPAPMincho")};

    QFont::insertSubstitutions(kMeiryo, gothicP);
    QFont::insertSubstitutions(QStringLiteral("Meiryo"), gothicP);
    QFont::insertSubstitutions(QStringLiteral("ＭＳ Ｐゴシック"), gothicP);
    QFont::insertSubstitutions(kMsGothic, gothicMono);
    QFont::insertSubstitutions(QStringLiteral("MS Gothic"), gothicMono);
    QFont::insertSubstitutions(kKaisho, mincho);
    QFont::insertSubstitutions(kTimes, serif);
    QFont::insertSubstitutions(kCentury, serif);
}

} // namespace tarvik
