#include "kdlw/common/fonts.h"

#include <QFontDatabase>

namespace kdlw {

QString FirstInstalledFamily(const QStringList& candidates) {
  const QStringList installed = QFontDatabase::families();
  for (const QString& family : candidates) {
    if (installed.contains(family, Qt::CaseInsensitive)) return family;
  }
  return {};
}

QFont JapaneseUiFont(int pixelSize) {
  QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
  const QString family = FirstInstalledFamily(
      {QStringLiteral("Noto Sans CJK JP"), QStringLiteral("Noto Sans JP"), QStringLiteral("IPAPGothic"),
       QStringLiteral("VL PGothic"), QStringLiteral("TakaoPGothic"), QStringLiteral("Source Han Sans JP")});
  if (!family.isEmpty()) font.setFamilies({family});
  font.setPixelSize(pixelSize);
  return font;
}

QFont JapaneseFixedFont(int pixelSize) {
  QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  const QString family = FirstInstalledFamily(
      {QStringLiteral("Noto Sans Mono CJK JP"), QStringLiteral("IPAGothic"), QStringLiteral("VL Gothic"),
       QStringLiteral("TakaoGothic"), QStringLiteral("Source Han Code JP")});
  if (!family.isEmpty()) font.setFamilies({family});
  font.setFixedPitch(true);
  font.setStyleHint(QFont::TypeWriter);
  font.setPixelSize(pixelSize);
  return font;
}

}  // namespace kdlw
