#include "ui/dialog_units.h"

#include <QFontMetrics>
#include <QStringList>

namespace zorv::ui {

DialogUnits::DialogUnits(const QFont& font) {
  // The average width is taken over both alphabets and rounded, as the classic dialog
  // manager does, so layouts keep their usual proportions.
  const QFontMetrics metrics(font);
  const int alphabet = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  charWidth_ = (alphabet / 26 + 1) / 2;
  charHeight_ = metrics.height();
}

namespace {
const QString kSerif = QStringLiteral("바탕");
const QString kSans = QStringLiteral("굴림");
}  // namespace

QFont mainWindowFont() { return QFont(kSerif, 10); }
QFont pageFont() { return QFont(kSans, 10); }
QFont aboutFont() { return QFont(kSans, 9); }

void installFontSubstitutes() {
  QFont::insertSubstitutions(kSerif, QStringList() << QStringLiteral("NanumMyeongjo")
                                                   << QStringLiteral("Noto Serif CJK KR") << QStringLiteral("DejaVu Serif"));
  QFont::insertSubstitutions(kSans, QStringList() << QStringLiteral("NanumGothic") << QStringLiteral("Noto Sans CJK KR")
                                                  << QStringLiteral("DejaVu Sans"));
}

}  // namespace zorv::ui
