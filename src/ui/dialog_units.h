#pragma once

#include <QFont>
#include <QRect>

namespace zorv::ui {

// The window is laid out in dialog units, so it keeps its proportions whatever font the desktop
// substitutes: one horizontal unit is a quarter of the font's average character width, one
// vertical unit an eighth of its height.
class DialogUnits {
 public:
  explicit DialogUnits(const QFont& font);
  DialogUnits(int averageCharWidth, int charHeight) : charWidth_(averageCharWidth), charHeight_(charHeight) {}

  int x(int units) const { return units * charWidth_ / 4; }
  int y(int units) const { return units * charHeight_ / 8; }
  QRect rect(int left, int top, int width, int height) const {
    return QRect(x(left), y(top), x(width), y(height));
  }
  int charWidth() const { return charWidth_; }
  int charHeight() const { return charHeight_; }

 private:
  int charWidth_;
  int charHeight_;
};

// The fonts the window was drawn for, by their Korean names; installFontSubstitutes maps them to
// fonts that exist here (the Nanum family).
QFont mainWindowFont();  // "바탕", 10 pt: the unit of the main window's own layout
QFont pageFont();        // "굴림", 10 pt
QFont aboutFont();       // "굴림", 9 pt
void installFontSubstitutes();

}  // namespace zorv::ui
