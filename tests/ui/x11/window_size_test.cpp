// The window on a small screen: this test program's X server has 800×600 pixels, less than the
// window's layout is tall.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>

#include "cable/recording_port.h"
#include "ui/connection_bar.h"
#include "ui/dialog_units.h"
#include "ui/ui_test_support.h"

namespace zorv::ui::test {
namespace {

TEST(WindowSizeTest, OnASmallScreenThePageScrollsRatherThanBeingCutOff) {
  NullPort port;
  Window window(port);
  const QRect screen = window.dialog->screen()->availableGeometry();
  ASSERT_LT(screen.height(), DialogUnits(mainWindowFont()).y(334));
  EXPECT_TRUE(screen.contains(window.dialog->frameGeometry()));

  // The page keeps its layout, and its bottom can be scrolled into sight.
  QWidget* bar = window.nand().control(NandPage::ProgressBar);
  EXPECT_EQ(bar->geometry(), DialogUnits(pageFont()).rect(2, 283, 173, 18));
  QScrollArea* scroll = window.dialog->scrollArea();
  scroll->ensureWidgetVisible(bar, 0, 0);
  const QRect shown(bar->mapTo(scroll->viewport(), QPoint(0, 0)), bar->size());
  EXPECT_TRUE(scroll->viewport()->rect().contains(shown));
  // No sideways scrolling for it: the page is as wide as the window shows.
  EXPECT_FALSE(scroll->horizontalScrollBar()->isVisible());
  // The cable stays in sight, below what scrolls.
  ConnectionBar* row = &window.dialog->connectionBar();
  EXPECT_TRUE(row->isVisible());
  EXPECT_TRUE(window.dialog->rect().contains(QRect(row->mapTo(window.dialog.get(), QPoint(0, 0)), row->size())));
  // The button at the row's end, clear of the cable's text.
  QWidget* change = row->changeButton();
  QWidget* text = row->findChild<QLineEdit*>();
  ASSERT_NE(text, nullptr);
  EXPECT_TRUE(row->rect().contains(change->geometry()));
  EXPECT_GT(change->geometry().left(), text->geometry().right());
}

}  // namespace
}  // namespace zorv::ui::test
