#pragma once

#include <string>

namespace zorv {

// What the jobs read from their pages; copied from the controls when a job starts.

struct NandSettings {
  int product = 0;
  std::string blockText = "0";
  std::string imagePath;
  int verify = 0;
  // Command line only (the page has no control for it): pages of only 0xFF are left as the erase
  // left them.
  bool skipBlank = false;
  // Command line only: the image holds each page followed by its spare area, and both are written.
  bool oob = false;
};

struct NorSettings {
  int product = 0;
  int flashType = 0;            // index in the flash-type list; 9 AutoDetect, -1 none chosen
  int interleaveSelection = 0;  // interleave = 1 << selection
  int widthSelection = 0;       // width = 8 << selection
  std::string baseText = "0";
  std::string blockText = "0";
  std::string imagePath;
  // Command line only (the page has no controls for them): units and write buffers of only 0xFF
  // are left as the erase left them; sectors already holding exactly the image are neither erased
  // nor programmed.
  bool skipBlank = false;
  bool skipUnchanged = false;
};

enum ExtraMode : int { PinToggling = 0, ReadJtagId = 1 };

struct ExtraSettings {
  int product = 0;
  int toggleCs = 0;
  int extraMode = PinToggling;
};

}  // namespace zorv
