#pragma once

#include <CLI/CLI.hpp>
#include <memory>
#include <string>

#include <optional>

#include "board/board_file.h"
#include "chain/chain_description.h"
#include "link/jtag_link.h"

namespace zorv::cli {

// Exit status of the command line.
enum ExitStatus : int { ExitSuccess = 0, ExitJobFailed = 1, ExitUsage = 2, ExitStopped = 130 };

// The chip a command drives: a product as compiled, or a board file's chip.
struct CommandTarget {
  int product = -1;                        // the product, or the board's; -1 for a BSDL board
  std::shared_ptr<const BoardChip> board;  // null without --board
};

struct CliContext {
  std::string cableSpec = "lpt";
  std::string chainText;  // --chain, as given
  std::string boardPath;  // --board, as given
  uint64_t tckHz = 0;  // 0: the cable's own rate
  int exitStatus = ExitSuccess;
  // Opens the port named by --cable (at the --tck rate); on a bad text, or a --tck the cable cannot
  // set, prints why and returns null (exit status 2).
  std::unique_ptr<JtagLink> openPort();
  // The devices --chain names (none without it); throws CLI::ValidationError for a text or a BSDL
  // file that cannot be taken.
  ChainDescription chain() const;
  // The board --board names, read once; null without it. Throws CLI::ValidationError for a file
  // that cannot be taken.
  const BoardFile* board() const;
  // What --product and --board name together (productText as given, empty when absent); throws
  // CLI::ValidationError when neither names a chip, or --product names another than the board's.
  CommandTarget target(const std::string& productText) const;

 private:
  mutable std::optional<BoardFile> board_;
};

// Where the BSDL files that come with the program are: the installed data folder, or a "bsdl"
// folder beside the program on Windows.
std::string installedBsdlDir();
// Where the products' board files that come with the program are, found the same way ("boards").
std::string installedBoardsDir();

// Reads a product name in any case; throws CLI::ValidationError for anything else.
int parseProduct(const std::string& text);
// Adds the --product option, its help naming the catalogue's products (needed unless --board is
// given).
CLI::Option* addProductOption(CLI::App& command, std::string& product);
// --type, --width, --interleave and --base: the NOR bus as nor and the NOR read-back commands take it.
void addNorBusOptions(CLI::App& command, std::string& type, const std::string& typeHelp, int& width, int& interleave,
                      std::string& base);
// "; P detects its flash" for every product that finds its NOR flash by its device code.
std::string detectsItsFlashText();

void addBsdlCommand(CLI::App& app, CliContext& context);
void addExtraCommands(CLI::App& app, CliContext& context);
void addChainCommand(CLI::App& app, CliContext& context);
void addNandCommand(CLI::App& app, CliContext& context);
void addNorCommand(CLI::App& app, CliContext& context);
void addReadCommands(CLI::App& app, CliContext& context);
void addSimServeCommand(CLI::App& app, CliContext& context);

int runCommandLine(int argc, char** argv);

}  // namespace zorv::cli
