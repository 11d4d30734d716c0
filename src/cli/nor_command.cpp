#include <unistd.h>

#include <iostream>
#include <memory>

#include "cli/cli_app.h"
#include "cli/number_option.h"
#include "nor/flash_types.h"
#include "nor/nor_job.h"
#include "page/console_page.h"
#include "targets/catalogue.h"

namespace zorv::cli {
namespace {

struct NorCommandOptions {
  std::string product;
  std::string type{flashTypeListText(En29lv010a)};
  int width = 0;  // 0: what choosing the type selects on the page
  int interleave = 1;
  std::string base = "0";
  std::string block = "0";
  std::string image;
  bool skipBlank = false;
  bool skipUnchanged = false;
  bool typeGiven = false;
};

void runNorCommand(const NorCommandOptions& options, CliContext& context) {
  NorSettings settings;
  const CommandTarget target = context.target(options.product);
  settings.product = target.product;
  settings.board = target.board;
  settings.chain = context.chain();
  const NorAbilities& abilities = norAbilitiesOf(settings.product, settings.board.get());
  if (settings.board && !settings.board->hasNor && !abilities.throughDebugPath) {
    throw CLI::ValidationError("--board", "the board has no NOR flash");
  }
  const BoardFile* file = context.board();
  // The flash the board file expects stands for --type and --width where they are not given.
  const std::string typeText = !options.typeGiven && file != nullptr && !file->norType.empty() ? file->norType : options.type;
  const int width = options.width == 0 && file != nullptr ? file->norWidth : options.width;
  if (abilities.findsByDeviceCode) {
    // As its page shows it: AutoDetect, and the bus the product fixes.
    settings.flashType = AutoDetect;
  } else {
    settings.flashType = flashTypeFromText(typeText);
    if (settings.flashType < 0) {
      throw CLI::ValidationError("--type", "'" + typeText + "' is not a flash type");
    }
    settings.width = width != 0 ? width : flashTypeDefaultWidth(settings.flashType);
    settings.interleave = options.interleave;
  }
  if (!abilities.fixedBus) {
    settings.base = readNumberOption(options.base, NumberForm::Hexadecimal).value_or(0);
  }
  // Validated numbers: the checks on the options have refused anything else.
  settings.block = readNumberOption(options.block, NumberForm::DecimalOrHexadecimal).value_or(0);
  settings.imagePath = options.image;
  settings.skipBlank = options.skipBlank;
  settings.skipUnchanged = options.skipUnchanged;

  std::unique_ptr<JtagLink> port = context.openPort();
  if (!port) return;
  ConsolePage page(std::cout, std::cerr, isatty(STDERR_FILENO) != 0);
  page.installStopSignals();
  runNorJob(page, *port, settings);
  context.exitStatus = page.exitStatus();
}

std::string typeHelp() {
  std::string help = "flash type: ";
  for (const FlashTypeRow& row : flashTypeRows()) {
    if (&row != &flashTypeRows().front()) help += ", ";
    help += row.listText;
    if (&row == &flashTypeRow(En29lv010a)) help += " (default)";
  }
  return help + detectsItsFlashText();
}

}  // namespace

void addNorCommand(CLI::App& app, CliContext& context) {
  auto options = std::make_shared<NorCommandOptions>();
  CLI::App* command = app.add_subcommand("nor", "Writes an image into the NOR flash on the chip's bus");
  addProductOption(*command, options->product);
  addNorBusOptions(*command, options->type, typeHelp(), options->width, options->interleave, options->base);
  command->add_option("--block", options->block,
                      "number of the first sector to write, decimal or hexadecimal after 0x (default 0)")
      ->type_name("SECTOR")
      ->check(numberOption(NumberForm::DecimalOrHexadecimal));
  command->add_flag("--skip-ff", options->skipBlank,
                    "leave units (or write buffers) of only 0xFF as the erase left them");
  command->add_flag("--skip-unchanged", options->skipUnchanged,
                    "read the covered sectors first; a sector already holding the image is neither erased nor "
                    "programmed");
  command->add_option("IMAGE", options->image, "raw image file")->type_name("FILE")->required();
  command->callback([options, &context, command] {
    options->typeGiven = command->get_option("--type")->count() != 0;
    runNorCommand(*options, context);
  });
}

}  // namespace zorv::cli
