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
};

void runNorCommand(const NorCommandOptions& options, CliContext& context) {
  NorSettings settings;
  settings.product = parseProduct(options.product);
  settings.chain = context.chain();
  if (norAbilities(settings.product).findsByDeviceCode) {
    // As its page shows it: AutoDetect, and the bus the product fixes.
    settings.flashType = AutoDetect;
  } else {
    settings.flashType = flashTypeFromText(options.type);
    if (settings.flashType < 0) {
      throw CLI::ValidationError("--type", "'" + options.type + "' is not a flash type");
    }
    settings.width = options.width != 0 ? options.width : flashTypeDefaultWidth(settings.flashType);
    settings.interleave = options.interleave;
  }
  if (!norAbilities(settings.product).fixedBus) {
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
  command->callback([options, &context] { runNorCommand(*options, context); });
}

}  // namespace zorv::cli
