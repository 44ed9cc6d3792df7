// Maps the font names the windows ask for ("メイリオ", "ＭＳ ゴシック",
// "HG正楷書体-PRO", "Times New Roman", "Century") to installed fonts, so
// that Japanese text never renders as empty boxes.  Call once after the
// QApplication exists and before the first window is built.
#pragma once

#include <QString>

namespace tarvik {

inline const QString kMeiryo = QStringLiteral("メイリオ");
inline const QString kMsGothic = QStringLiteral("ＭＳ ゴシック");
inline const QString kKaisho = QStringLiteral("HG正楷書体-PRO");
inline const QString kTimes = QStringLiteral("Times New Roman");
inline const QString kCentury = QStringLiteral("Century");

void installFontSubstitutions();

} // namespace tarvik
