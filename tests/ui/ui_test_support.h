#pragma once

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <QTest>
#include <QTimer>
#include <memory>

#include "cable/port_io.h"
#include "link/parallel_port_link.h"
#include "ui/extra_page.h"
#include "ui/main_dialog.h"
#include "ui/message_box_host.h"
#include "ui/nand_page.h"
#include "ui/nor_page.h"
#include "ui/page_tab_ctrl.h"
#include "ui/read_page.h"

namespace zorv::ui::test {

// Processes events until cond holds; the deadline only keeps a broken test from hanging.
template <class Condition>
bool waitUntil(Condition cond, int timeoutMs = 20000) {
  QDeadlineTimer deadline(timeoutMs);
  while (!cond()) {
    if (deadline.hasExpired()) return false;
    QTest::qWait(1);
  }
  return true;
}

// A shown main window on the given port, with every message box answered (OK) and recorded.
class Window {
 public:
  // A parallel-port backend (a recording port) through the parallel-port link.
  explicit Window(PortIo& port) : Window(std::make_unique<ParallelPortLink>(port)) {}
  explicit Window(JtagLink& link) : dialog(std::make_unique<MainDialog>(link)) { show(); }

 private:
  explicit Window(std::unique_ptr<JtagLink> link)
      : ownedLink(std::move(link)), dialog(std::make_unique<MainDialog>(*ownedLink)) {
    show();
  }
  void show() {
    dialog->boxes().onShown = [this](QMessageBox& box) {
      boxes << box.text();
      if (onBox) onBox(box);
      QTimer::singleShot(0, &box, [b = &box] { b->done(QMessageBox::Ok); });
    };
    dialog->show();
    dialog->activateWindow();
    (void)QTest::qWaitForWindowActive(dialog.get());
  }

 public:

  NandPage& nand() const { return *dialog->pageTabs().nandPage(); }
  NorPage& nor() const { return *dialog->pageTabs().norPage(); }
  ExtraPage& extra() const { return *dialog->pageTabs().extraPage(); }
  ReadPage& read() const { return *dialog->pageTabs().readPage(); }
  QAbstractButton* button(JobPageWidget& page, int id) const { return static_cast<QAbstractButton*>(page.control(id)); }
  void click(JobPageWidget& page, int id) const { QTest::mouseClick(page.control(id), Qt::LeftButton); }

  std::unique_ptr<JtagLink> ownedLink;
  std::unique_ptr<MainDialog> dialog;
  QStringList boxes;
  // Called with each box before it is answered: the test can look at the page at that moment.
  std::function<void(QMessageBox&)> onBox;
};

}  // namespace zorv::ui::test
