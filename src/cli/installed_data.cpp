#include "board/board_lookup.h"
#include "cli/cli_app.h"

namespace zorv::cli {

std::string installedBsdlDir() { return installedDataDir("bsdl"); }

std::string installedBoardsDir() { return zorv::installedBoardsDir(); }

}  // namespace zorv::cli
