#include "cli/cli_app.h"

namespace zorv::cli {

// Not built yet.
void addSimServeCommand(CLI::App&, CliContext&) {}

}  // namespace zorv::cli
