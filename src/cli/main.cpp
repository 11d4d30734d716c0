#include "cli/cli_app.h"

int main(int argc, char** argv) { return zorv::cli::runCommandLine(argc, argv); }
