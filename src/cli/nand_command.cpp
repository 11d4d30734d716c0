#include <unistd.h>

#include <iostream>

#include "cli/cli_app.h"
#include "cli/number_option.h"
#include "nand/nand_job.h"
#include "page/console_page.h"

namespace zorv::cli {

void addNandCommand(CLI::App& app, CliContext& context) {
  auto settings = std::make_shared<NandSettings>();
  auto product = std::make_shared<std::string>();
  auto block = std::make_shared<std::string>("0");
  CLI::App* command = app.add_subcommand("nand", "Download an image into the NAND flash");
  addProductOption(*command, *product);
  command->add_option("--block", *block, "first block: decimal, or hexadecimal after 0x")
      ->type_name("BLOCK")
      ->default_str("0")
      ->check(numberOption(NumberForm::DecimalOrHexadecimal));
  command->add_flag("--verify", settings->verify, "read the flash back and compare it with the image");
  command->add_flag("--skip-ff", settings->skipBlank,
                    "leave pages of only 0xFF as the erase left them (they are counted, and verified)");
  command->add_flag("--oob", settings->oob,
                    "IMAGE holds each page followed by its spare area (as nand-read --oob writes it); both are "
                    "written, a spare area of only 0xFF is left erased");
  command->add_option("IMAGE", settings->imagePath, "raw image file")->type_name("FILE")->required();
  command->callback([&context, settings, product, block] {
    const CommandTarget target = context.target(*product);
    if (target.board && !target.board->hasNand) throw CLI::ValidationError("--board", "the board has no NAND flash");
    settings->product = target.product;
    settings->board = target.board;
    settings->chain = context.chain();
    // Validated: the option's check has refused anything else.
    settings->block = readNumberOption(*block, NumberForm::DecimalOrHexadecimal).value_or(0);
    std::unique_ptr<JtagLink> port = context.openPort();
    if (!port) return;
    ConsolePage page(std::cout, std::cerr, isatty(STDERR_FILENO) != 0);
    page.installStopSignals();
    runNandJob(page, *port, *settings);
    context.exitStatus = page.exitStatus();
  });
}

}  // namespace zorv::cli
