#include "ui/jtag_app.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QTabBar>
#include <cstdio>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "board/board_file.h"
#include "board/board_lookup.h"
#include "cable/recording_port.h"
#include "cable_choice/cable_port.h"
#include "link/parallel_port_link.h"
#include "cable_choice/tck_rate.h"
#include "ui/about_dialog.h"
#include "ui/app_icon.h"
#include "ui/connection_dialog.h"
#include "ui/dialog_units.h"
#include "ui/main_dialog.h"
#include "ui/page_tab_ctrl.h"
#include "ui/remembered_connection.h"
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
  window.setConnection({QStringLiteral("lpt"), QString()},
                       [](const std::string& text, uint32_t tckPeriodNs) { return openCableLink(text, tckPeriodNs); });
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
  ConnectionDialog cable({QStringLiteral("xvc:127.0.0.1:2542"), QStringLiteral("6M")}, &window);
  const std::pair<QWidget*, const char*> dialogs[] = {{&about, "about-box.png"}, {&cable, "cable-dialog.png"}};
  for (const auto& [dialog, name] : dialogs) {
    dialog->show();
    QApplication::processEvents();
    const QString file = QDir(directory).filePath(QString::fromLatin1(name));
    if (!dialog->grab().save(file)) {
      if (error) *error = QStringLiteral("cannot write ") + file;
      return false;
    }
    dialog->hide();
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
                               QStringLiteral("TCK rate in Hz (k or M after it for kHz, MHz) to ask of an xvc:, ftdi or cmsis-dap cable (default: the server's own, 6 MHz on FTDI, a CMSIS-DAP probe's own)."),
                               QStringLiteral("HZ"));
  parser.addOption(cable);
  parser.addOption(tck);
  const QCommandLineOption chain(QStringLiteral("chain"),
                                 QStringLiteral("The devices on the JTAG chain, nearest TDO first, comma separated: an "
                                                "instruction length, LENGTH:0xIDCODE, a BSDL file, or target for the "
                                                "product (default: the product alone; kept for the next start)."),
                                 QStringLiteral("LIST"));
  parser.addOption(chain);
  const QCommandLineOption board(QStringLiteral("board"),
                                 QStringLiteral("A board file (TOML): the chain, the target chip (a product or a BSDL "
                                                "file), where its flash sits; or the name of one that comes with the "
                                                "program, such as obrin (kept for the next start; empty: none)."),
                                 QStringLiteral("FILE"));
  parser.addOption(board);
  parser.addOption(screenshot);
  // A wrong option is a usage error (exit 2), as on the command line; process() would exit 1.
  const auto refusesArguments = [&parser] {
    if (parser.parse(QCoreApplication::arguments())) return false;
    std::fprintf(stderr, "zorvjtag-gui: %s\n", qPrintable(parser.errorText()));
    return true;
  };
  if (asksForTextOnly(argc, argv)) {
    QCoreApplication app(argc, argv);
    nameApplication();
    if (refusesArguments()) return 2;
    parser.process(app);  // prints the text and ends the program
  }

  QApplication app(argc, argv);
  setUpApplication();
  if (refusesArguments()) return 2;

  if (parser.isSet(screenshot)) {
    QString error;
    if (!saveScreenshots(parser.value(screenshot), &error)) {
      std::fprintf(stderr, "zorvjtag-gui: %s\n", qPrintable(error));
      return 1;
    }
    return 0;
  }

  // --cable wins; without it the cable last chosen in the window, so a user started from the
  // desktop menu is not sent back to lpt (which needs root) every time. A remembered TCK rate goes
  // with the remembered cable only; --tck wins over it.
  QSettings settings(QStringLiteral("zorvjtag"), QStringLiteral("zorvjtag-gui"));  // ~/.config/zorvjtag/
  Connection start{parser.value(cable), QString()};
  bool fromSettings = false;
  const Connection remembered = rememberedConnection(settings);
  if (!parser.isSet(cable) && !remembered.cable.isEmpty()) {
    start = remembered;
    fromSettings = true;
  }
  std::string cableText = start.cable.toStdString();
  if (parser.isSet(tck)) {
    if (!readTckRate(parser.value(tck).toStdString())) {
      std::fprintf(stderr, "zorvjtag-gui: --tck: '%s' is not a rate from 1 Hz to 1000M\n", qPrintable(parser.value(tck)));
      return 2;
    }
    if (!cableSetsTck(cableText)) {
      std::fprintf(stderr, "zorvjtag-gui: --tck: the cable '%s' has no TCK setting (only %s have)\n",
                   cableText.c_str(), tckCableSyntaxes().c_str());
      return 2;
    }
    start.tck = parser.value(tck);
  }
  const auto periodOf = [](const QString& rate) {
    const std::optional<uint64_t> hz = readTckRate(rate.toStdString());
    return hz ? tckPeriodOfRate(*hz) : 0;
  };
  std::unique_ptr<JtagLink> port;
  try {
    port = openCableLink(cableText, periodOf(start.tck));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zorvjtag-gui: %s\n", e.what());
    if (!fromSettings) return 2;
    // A remembered text that no longer opens must not keep the window from starting.
    start = {QStringLiteral("lpt"), QString()};
    cableText = "lpt";
    port = openCableLink(cableText, 0);
  }
  // --chain is kept for the next start, as a cable chosen in the window is; an empty one forgets it.
  ChainDescription chainDescription;
  const QString chainText = parser.isSet(chain) ? parser.value(chain) : settings.value(QStringLiteral("chain")).toString();
  try {
    chainDescription = parseChainText(chainText.toStdString());
  } catch (const ChainError& e) {
    std::fprintf(stderr, "zorvjtag-gui: --chain: %s\n", e.what());
    if (parser.isSet(chain)) return 2;
  }
  // --board likewise; a remembered board file that can no longer be read is said and left out.
  std::shared_ptr<const BoardFile> boardFile;
  const QString boardText = parser.isSet(board) ? parser.value(board) : settings.value(QStringLiteral("board")).toString();
  if (!boardText.isEmpty()) {
    try {
      boardFile = std::make_shared<const BoardFile>(readBoardFile(boardFilePath(boardText.toStdString())));
    } catch (const std::exception& e) {
      std::fprintf(stderr, "zorvjtag-gui: --board: %s\n", e.what());
      if (parser.isSet(board)) return 2;
    }
  }
  if (boardFile && boardFile->chain.given() && parser.isSet(chain) && !chainText.isEmpty()) {
    std::fprintf(stderr, "zorvjtag-gui: --chain: the board file %s gives the chain\n", boardFile->path.c_str());
    return 2;
  }
  if (parser.isSet(chain)) settings.setValue(QStringLiteral("chain"), chainText);
  if (parser.isSet(board)) {
    settings.setValue(QStringLiteral("board"),
                      boardFile ? QFileInfo(QString::fromStdString(boardFile->path)).absoluteFilePath() : QString());
  }
  {
    MainDialog window(*port);
    window.setChain(chainDescription);
    window.setBoard(boardFile);
    window.setConnection(start, [](const std::string& text, uint32_t tckPeriodNs) { return openCableLink(text, tckPeriodNs); });
    QObject::connect(&window, &MainDialog::connectionChosen,
                     [&settings](const Connection& chosen) { rememberConnection(settings, chosen); });
    QObject::connect(&window, &MainDialog::boardChosen,
                     [&settings](const QString& path) { settings.setValue(QStringLiteral("board"), path); });
    window.exec();
  }
  return 0;
}

}  // namespace zorv::ui
