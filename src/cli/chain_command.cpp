#include <iostream>
#include <memory>

#include "cli/cli_app.h"
#include "extra/chain_job.h"
#include "targets/catalogue.h"
#include "page/console_page.h"

namespace zorv::cli {
namespace {

struct ChainCommandOptions {
  std::string bsdlDir;
  std::string product;
};

void runChainCommand(const ChainCommandOptions& options, CliContext& context) {
  ChainListSettings settings;
  settings.bsdlDir = options.bsdlDir.empty() ? installedBsdlDir() : options.bsdlDir;
  settings.chain = context.chain();
  if (!options.product.empty() || context.board() != nullptr) {
    const CommandTarget target = context.target(options.product);
    settings.product = target.product;
    settings.board = target.board;
  }
  if (settings.chain.given() && settings.product < 0 && !settings.board) {
    throw CLI::ValidationError("--chain", "checking the chain needs --product for its target");
  }
  std::unique_ptr<JtagLink> port = context.openPort();
  if (!port) return;
  ConsolePage page(std::cout, std::cerr, false);
  page.installStopSignals();
  runChainJob(page, *port, settings);
  context.exitStatus = page.exitStatus();
}

}  // namespace

void addChainCommand(CLI::App& app, CliContext& context) {
  auto options = std::make_shared<ChainCommandOptions>();
  CLI::App* command = app.add_subcommand(
      "chain", "List the devices on the JTAG chain (with --chain and --product: check it against that description)");
  command->add_option("--bsdl-dir", options->bsdlDir, "the BSDL files that name devices (default: the installed ones)")
      ->check(CLI::ExistingDirectory);
  command->add_option("--product", options->product, "the product the chain's target is (" + productNamesText() + ")");
  command->callback([&context, options] { runChainCommand(*options, context); });
}

}  // namespace zorv::cli
