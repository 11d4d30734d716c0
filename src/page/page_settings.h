#pragma once

#include <string>

namespace zorv {

// What the jobs read from their pages; copied from the controls when a job starts.

struct NandSettings {
  int product = 0;
  std::string blockText = "0";
  std::string imagePath;
  int verify = 0;
};

struct NorSettings {
  int product = 0;
  int flashType = 0;            // index in the flash-type list; 9 AutoDetect, -1 none chosen
  int interleaveSelection = 0;  // interleave = 1 << selection
  int widthSelection = 0;       // width = 8 << selection
  std::string baseText = "0";
  std::string blockText = "0";
  std::string imagePath;
};

enum ExtraMode : int { PinToggling = 0, ReadJtagId = 1 };

struct ExtraSettings {
  int product = 0;
  int toggleCs = 0;
  int extraMode = PinToggling;
};

}  // namespace zorv
