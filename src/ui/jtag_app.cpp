#include "ui/jtag_app.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QTabBar>
#include <cstdio>
#include <memory>
#include <stdexcept>

#include "cable/recording_port.h"
#include "page/cable_port.h"
#include "ui/about_dialog.h"
#include "ui/app_icon.h"
#include "ui/dialog_units.h"
#include "ui/main_dialog.h"
#include "ui/page_tab_ctrl.h"

namespace zorv::ui {

bool saveScreenshots(const QString& directory, QString* error) {
  if (!QDir().mkpath(directory)) {
    if (error) *error = QStringLiteral("cannot create ") + directory;
    return false;
  }
  NullPort port;  // the pictures show fresh pages; no job runs
  MainDialog window(port);
  window.show();
  const char* names[] = {"nand-page.png", "nor-page.png", "extra-page.png"};
  for (int i = 0; i < 3; ++i) {
    window.pageTabs().tabBar()->setCurrentIndex(i);
    QApplication::processEvents();
    const QString file = QDir(directory).filePath(QString::fromLatin1(names[i]));
    if (!window.grab().save(file)) {
      if (error) *error = QStringLiteral("cannot write ") + file;
      return false;
    }
  }
  AboutDialog about(&window);
  about.show();
  QApplication::processEvents();
  const QString file = QDir(directory).filePath(QStringLiteral("about-box.png"));
  if (!about.grab().save(file)) {
    if (error) *error = QStringLiteral("cannot write ") + file;
    return false;
  }
  return true;
}

void setUpApplication() {
  QApplication::setApplicationName(QStringLiteral("zorvjtag-gui"));
  // No display name: the window system would append it to every caption ("... — name"), and the
  // captions must read exactly as the windows give them.
  QApplication::setWindowIcon(appIcon());
  installFontSubstitutes();
}

int JtagApp::run(int argc, char** argv) {
  QApplication app(argc, argv);
  setUpApplication();

  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral("Writes NAND and NOR flash through a JTAG cable."));
  parser.addHelpOption();
  const QCommandLineOption cable(QStringLiteral("cable"),
                                 QStringLiteral("lpt (default), ppdev[:DEVICE], remote:HOST:PORT or sim[:OPTIONS]."),
                                 QStringLiteral("CABLE"), QStringLiteral("lpt"));
  const QCommandLineOption screenshot(QStringLiteral("screenshot"),
                                      QStringLiteral("Save a picture of each page into DIR and end."),
                                      QStringLiteral("DIR"));
  parser.addOption(cable);
  parser.addOption(screenshot);
  parser.process(app);

  if (parser.isSet(screenshot)) {
    QString error;
    if (!saveScreenshots(parser.value(screenshot), &error)) {
      std::fprintf(stderr, "zorvjtag-gui: %s\n", qPrintable(error));
      return 1;
    }
    return 0;
  }

  std::unique_ptr<PortIo> port;
  try {
    port = openCablePort(parser.value(cable).toStdString());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zorvjtag-gui: %s\n", e.what());
    return 2;
  }
  {
    MainDialog window(*port);
    window.exec();
  }
  return 0;
}

}  // namespace zorv::ui
