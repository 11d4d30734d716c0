#include "ui/jtag_app.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QTabBar>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string_view>

#include "cable/recording_port.h"
#include "cable_choice/cable_port.h"
#include "link/parallel_port_link.h"
#include "ui/about_dialog.h"
#include "ui/app_icon.h"
#include "ui/dialog_units.h"
#include "ui/main_dialog.h"
#include "ui/page_tab_ctrl.h"
#include "zorvjtag_version.h"

namespace zorv::ui {

bool saveScreenshots(const QString& directory, QString* error) {
  if (!QDir().mkpath(directory)) {
    if (error) *error = QStringLiteral("cannot create ") + directory;
    return false;
  }
  NullPort port;  // the pictures show fresh pages; no job runs
  ParallelPortLink link(port);
  MainDialog window(link);
  window.show();
  const char* names[] = {"nand-page.png", "nor-page.png", "extra-page.png", "read-page.png"};
  for (int i = 0; i < 4; ++i) {
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

namespace {

void nameApplication() {
  QCoreApplication::setApplicationName(QStringLiteral("zorvjtag-gui"));
  QCoreApplication::setApplicationVersion(QStringLiteral(ZORVJTAG_VERSION));
}

// --help and --version print a text and end; they need no display.
bool asksForTextOnly(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "-h" || arg == "-?" || arg == "--help" || arg == "--help-all" || arg == "-v" || arg == "--version") {
      return true;
    }
  }
  return false;
}

}  // namespace

void setUpApplication() {
  nameApplication();
  // Ties the window to its installed desktop entry (its name and icon on Wayland).
  QGuiApplication::setDesktopFileName(QStringLiteral("org.zorvjtag.zorvjtag"));
  QApplication::setWindowIcon(appIcon());
  installFontSubstitutes();
  // No display name on purpose: the window system would append it to every caption
  // ("... — name"), and the captions must read exactly as the windows give them.
}

int JtagApp::run(int argc, char** argv) {
  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral("Writes NAND and NOR flash through a JTAG cable."));
  parser.addHelpOption();
  parser.addVersionOption();
  const QCommandLineOption cable(QStringLiteral("cable"),
                                 QString::fromStdString(cableSyntaxList() + "."),
                                 QStringLiteral("CABLE"), QStringLiteral("lpt"));
  const QCommandLineOption screenshot(QStringLiteral("screenshot"),
                                      QStringLiteral("Save a picture of each page into DIR and end."),
                                      QStringLiteral("DIR"));
  const QCommandLineOption tck(QStringLiteral("tck"),
                               QStringLiteral("TCK rate in Hz to ask of an xvc: cable (default: the server's own)."),
                               QStringLiteral("HZ"));
  parser.addOption(cable);
  parser.addOption(tck);
  parser.addOption(screenshot);
  if (asksForTextOnly(argc, argv)) {
    QCoreApplication app(argc, argv);
    nameApplication();
    parser.process(app);  // prints the text and ends the program
  }

  QApplication app(argc, argv);
  setUpApplication();
  parser.process(app);

  if (parser.isSet(screenshot)) {
    QString error;
    if (!saveScreenshots(parser.value(screenshot), &error)) {
      std::fprintf(stderr, "zorvjtag-gui: %s\n", qPrintable(error));
      return 1;
    }
    return 0;
  }

  const std::string cableText = parser.value(cable).toStdString();
  uint32_t tckPeriod = 0;
  if (parser.isSet(tck)) {
    bool number = false;
    const qulonglong hz = parser.value(tck).toULongLong(&number);
    if (!number || hz < kMinTckHz || hz > kMaxTckHz) {
      std::fprintf(stderr, "zorvjtag-gui: --tck: '%s' is not a rate from 1 to 1000000000 Hz\n", qPrintable(parser.value(tck)));
      return 2;
    }
    if (!cableSetsTck(cableText)) {
      std::fprintf(stderr, "zorvjtag-gui: --tck: the cable '%s' has no TCK setting (only %s has)\n",
                   cableText.c_str(), tckCableSyntaxes().c_str());
      return 2;
    }
    tckPeriod = tckPeriodOfRate(hz);
  }
  std::unique_ptr<JtagLink> port;
  try {
    port = openCableLink(cableText, tckPeriod);
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
