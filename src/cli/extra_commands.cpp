#include <unistd.h>

#include <iostream>
#include <memory>

#include "cli/cli_app.h"
#include "extra/extra_job.h"
#include "page/console_page.h"
#include "targets/toggle_target.h"

namespace zorv::cli {
namespace {

struct ExtraOptions {
  std::string product;
  bool toggleCs = false;
};

void runExtra(CliContext& context, const ExtraOptions& options, ExtraMode mode) {
  ExtraSettings settings;
  const CommandTarget target = context.target(options.product);
  settings.product = target.product;
  settings.board = target.board;
  settings.chain = context.chain();
  if (mode == PinToggling && settings.board && !makeToggleTarget(*settings.board)) {
    throw CLI::ValidationError("--board", "the board's data lines are turned to drive at different levels: toggle "
                                          "cannot drive them all");
  }
  settings.toggleCs = options.toggleCs ? 1 : 0;
  settings.extraMode = mode;
  std::unique_ptr<JtagLink> port = context.openPort();
  if (!port) return;
  ConsolePage page(std::cout, std::cerr, false);
  // Even reading the ID can wait on a silent server: Ctrl-C ends that wait as it ends any job's,
  // and toggling runs until asked to stop and then hands the pins back to the chip.
  page.installStopSignals();
  runExtraJob(page, *port, settings);
  context.exitStatus = page.exitStatus();
}

}  // namespace

void addExtraCommands(CLI::App& app, CliContext& context) {
  auto idOptions = std::make_shared<ExtraOptions>();
  CLI::App* idcode = app.add_subcommand("idcode", "Read and decode the chip's JTAG ID");
  addProductOption(*idcode, idOptions->product);
  idcode->callback([&context, idOptions] { runExtra(context, *idOptions, ReadJtagId); });

  auto toggleOptions = std::make_shared<ExtraOptions>();
  CLI::App* toggle = app.add_subcommand(
      "toggle", "Toggle every boundary pin high and low about five times a second until Ctrl-C");
  addProductOption(*toggle, toggleOptions->product);
  toggle->add_flag("--toggle-cs", toggleOptions->toggleCs, "Toggle the chip selects as well");
  toggle->callback([&context, toggleOptions] { runExtra(context, *toggleOptions, PinToggling); });
}

}  // namespace zorv::cli
