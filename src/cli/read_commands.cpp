#include <unistd.h>

#include <iostream>
#include <memory>

#include "cli/cli_app.h"
#include "cli/number_option.h"
#include "cli/size_option.h"
#include "nor/flash_types.h"
#include "page/console_page.h"
#include "readback/read_job.h"
#include "targets/catalogue.h"

namespace zorv::cli {
namespace {

// What the read-back commands take from the command line, before it becomes job settings.
struct ReadOptions {
  std::string product;
  std::string block = "0";
  std::string count;
  std::string size;
  bool raw = false;
  bool oob = false;
  bool padBad = false;
  std::string type{flashTypeListText(En29lv010a)};
  int width = 0;  // 0: the type's own
  int interleave = 1;
  std::string base = "0";
  std::string path;
  bool typeGiven = false;
};

void runReadCommand(ReadFlash flash, ReadMode mode, const ReadOptions& options, CliContext& context) {
  ReadSettings settings;
  settings.flash = flash;
  settings.mode = mode;
  const CommandTarget target = context.target(options.product);
  settings.product = target.product;
  settings.board = target.board;
  settings.chain = context.chain();
  if (settings.board && flash == ReadFlash::Nand && !settings.board->hasNand) {
    throw CLI::ValidationError("--board", "the board has no NAND flash");
  }
  if (settings.board && flash == ReadFlash::Nor && !settings.board->hasNor && !settings.board->nor.throughDebugPath) {
    throw CLI::ValidationError("--board", "the board has no NOR flash");
  }
  // Validated numbers: the checks on the options have refused anything else.
  settings.block = readNumberOption(options.block, NumberForm::DecimalOrHexadecimal).value_or(0);
  if (!options.count.empty()) {
    settings.count = readNumberOption(options.count, NumberForm::DecimalOrHexadecimal).value_or(0);
  }
  if (!options.size.empty()) {
    settings.toEnd = options.size == "all";
    settings.size = readSizeOption(options.size).value_or(0);
  }
  settings.raw = options.raw;
  settings.oob = options.oob;
  settings.padBad = options.padBad;
  if (flash == ReadFlash::Nor && !norAbilitiesOf(settings.product, settings.board.get()).findsByDeviceCode) {
    // The flash the board file expects stands for --type and --width where they are not given.
    const BoardFile* file = context.board();
    const std::string type = !options.typeGiven && file != nullptr && !file->norType.empty() ? file->norType : options.type;
    const int width = options.width == 0 && file != nullptr ? file->norWidth : options.width;
    settings.flashType = flashTypeFromText(type);
    if (settings.flashType < 0) throw CLI::ValidationError("--type", "'" + type + "' is not a flash type");
    settings.width = width != 0 ? width : flashTypeDefaultWidth(settings.flashType);
    settings.interleave = options.interleave;
    settings.base = readNumberOption(options.base, NumberForm::Hexadecimal).value_or(0);
  }
  if (mode == ReadMode::Read) settings.outputPath = options.path;
  if (mode == ReadMode::Verify) settings.imagePath = options.path;

  std::unique_ptr<JtagLink> port = context.openPort();
  if (!port) return;
  ConsolePage page(std::cout, std::cerr, isatty(STDERR_FILENO) != 0);
  page.installStopSignals();
  runReadJob(page, *port, settings);
  context.exitStatus = page.exitStatus();
}

CLI::App* addReadCommand(CLI::App& app, CliContext& context, const char* name, const char* description,
                         ReadFlash flash, ReadMode mode) {
  auto options = std::make_shared<ReadOptions>();
  CLI::App* command = app.add_subcommand(name, description);
  addProductOption(*command, options->product);
  if (flash == ReadFlash::Nor) {
    addNorBusOptions(*command, options->type, "flash type, as for nor (default EN29LV010A)" + detectsItsFlashText(),
                     options->width, options->interleave, options->base);
  }
  const char* unit = flash == ReadFlash::Nand ? "block" : "sector";
  if (mode != ReadMode::BadScan) {
    CLI::Option* block = command->add_option("--block", options->block,
                                             std::string("first ") + unit + ": decimal, or hexadecimal after 0x")
                             ->type_name(flash == ReadFlash::Nand ? "BLOCK" : "SECTOR")
                             ->check(numberOption(NumberForm::DecimalOrHexadecimal));
    if (mode == ReadMode::Erase) block->required();
  }
  if (mode == ReadMode::Erase) {
    command->add_option("--count", options->count, std::string("number of ") + unit + "s to erase")
        ->type_name("COUNT")
        ->required()
        ->check(numberOption(NumberForm::DecimalOrHexadecimal));
  }
  if (flash == ReadFlash::Nor && (mode == ReadMode::Read || mode == ReadMode::Verify)) {
    command->add_flag("--raw", options->raw,
                      "a part that is not --type (nor identified by its query) is read on the bus as it "
                      "answers, instead of being refused");
  }
  if (mode == ReadMode::Read) {
    command->add_option("--size", options->size, "bytes to read: decimal or 0x hexadecimal, K, M or G after it, or all")
        ->type_name("SIZE")
        ->required()
        ->check(sizeOption());
    if (flash == ReadFlash::Nand) {
      command->add_flag("--raw", options->raw, "read every block as it is, bad ones included");
      command->add_flag("--oob", options->oob, "write each page followed by its spare area");
      command->add_flag("--pad-bad", options->padBad,
                        "0xFF in place of a bad block, so that offsets in OUT stay as on the flash");
    }
    command->add_option("OUT", options->path, "file to write")->type_name("FILE")->required();
  }
  if (mode == ReadMode::Verify) {
    if (flash == ReadFlash::Nand) {
      command->add_flag("--oob", options->oob, "IMAGE holds each page followed by its spare area; both are compared");
    }
    command->add_option("IMAGE", options->path, "raw image file")->type_name("FILE")->required();
  }
  command->callback([flash, mode, options, &context, command] {
    options->typeGiven = flash == ReadFlash::Nor && command->get_option("--type")->count() != 0;
    runReadCommand(flash, mode, *options, context);
  });
  return command;
}

}  // namespace

void addReadCommands(CLI::App& app, CliContext& context) {
  addReadCommand(app, context, "nand-read", "Reads the NAND flash into a file, passing over bad blocks",
                 ReadFlash::Nand, ReadMode::Read);
  addReadCommand(app, context, "nand-verify", "Compares the NAND flash with an image placed as nand places it",
                 ReadFlash::Nand, ReadMode::Verify);
  addReadCommand(app, context, "nand-erase", "Erases NAND blocks, never one with a factory bad-block marker",
                 ReadFlash::Nand, ReadMode::Erase);
  addReadCommand(app, context, "nand-bad", "Lists the NAND blocks with a factory bad-block marker",
                 ReadFlash::Nand, ReadMode::BadScan);
  addReadCommand(app, context, "nor-read", "Reads the NOR flash into a file", ReadFlash::Nor, ReadMode::Read);
  addReadCommand(app, context, "nor-verify", "Compares the NOR flash with an image", ReadFlash::Nor,
                 ReadMode::Verify);
  addReadCommand(app, context, "nor-erase", "Erases NOR sectors", ReadFlash::Nor, ReadMode::Erase);
}

}  // namespace zorv::cli
