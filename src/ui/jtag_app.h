#pragma once

#include <QString>

namespace zorv::ui {

// The application: opens the cable named on the command line (lpt unless --cable says otherwise)
// and runs the main window until it is closed. With --screenshot DIR it saves a picture of each
// page into DIR instead and ends.
class JtagApp {
 public:
  int run(int argc, char** argv);
};

// Names the application, its icon and the fonts the windows ask for; after the QApplication is made.
void setUpApplication();

// Saves nand-page.png, nor-page.png, extra-page.png, read-page.png, about-box.png and
// cable-dialog.png of a fresh window into directory.
bool saveScreenshots(const QString& directory, QString* error);

}  // namespace zorv::ui
