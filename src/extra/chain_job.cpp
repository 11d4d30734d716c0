#include "extra/chain_job.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>

#include "chain/chain_scan.h"
#include "page/job_frame.h"
#include "targets/catalogue.h"
#include "text/format.h"
#include "text/upper_case.h"

namespace zorv {
namespace {

namespace fs = std::filesystem;

constexpr const char* kNoChainText = "Cannot read the JTAG chain";
constexpr const char* kOtherChainText = "The JTAG chain is not the one given";

bool isBsdlFileName(const fs::path& path) {
  const std::string extension = upperCase(path.extension().string());
  return extension == ".BSD" || extension == ".BSDL" || extension == ".BSM";
}

// Every BSDL file of dir that reads, in name order.
std::vector<BsdlDevice> readBsdlDir(const std::string& dir) {
  std::vector<BsdlDevice> devices;
  if (dir.empty()) return devices;
  std::error_code error;
  std::vector<fs::path> files;
  for (fs::directory_iterator it(dir, error), end; !error && it != end; it.increment(error)) {
    if (it->is_regular_file(error) && isBsdlFileName(it->path())) files.push_back(it->path());
  }
  std::sort(files.begin(), files.end());
  for (const fs::path& file : files) {
    try {
      devices.push_back(readBsdlFile(file.string()));
    } catch (const std::exception&) {
      // A file that does not read names nothing; the others still may.
    }
  }
  return devices;
}

// "  2: IDCODE 0x100015B9  TQR2400 or IKA, CHIP_X (chip.bsd)"
std::string deviceLine(size_t index, const std::optional<uint32_t>& idcode, const std::vector<BsdlDevice>& bsdl) {
  if (!idcode) return format("  %zu: no IDCODE\r\n", index + 1);
  std::string names = productsAnswering(*idcode);
  for (const BsdlDevice& device : bsdl) {
    if (!device.idcode || !device.idcode->matches(*idcode)) continue;
    if (!names.empty()) names += ", ";
    names += device.entity + " (" + fs::path(device.file).filename().string() + ")";
  }
  return format("  %zu: IDCODE 0x%08X%s%s\r\n", index + 1, *idcode, names.empty() ? "" : "  ", names.c_str());
}

}  // namespace

int runChainJob(JobPage& page, JtagLink& link, const ChainListSettings& settings) {
  return runJobFrame(page, link, settings.chain, "[JTAG Chain]\r\n", TrstPulse::AfterEmptyLine, [&](JobContext& job) {
    JtagCable& cable = job.cable;
    if (cable.detectPort() != 0) {
      if (job.status.linkCutByStop()) return;
      job.status.logLinkFailure();
      page.messageBox("Cannot get LPT Base.");
      return;
    }
    cable.pulseTrst();
    const FoundChain found = findChain(cable);
    if (!job.status.linkHolds()) {
      job.status.fail(kNoChainText);
      return;
    }
    if (!found.cableFault.empty()) {
      page.appendLog("  Cable: " + found.cableFault + "\r\n");
      job.status.fail(kNoChainText);
      return;
    }
    page.appendLog(format("  Devices: %zu, nearest TDO first; instruction registers: %zu bits\r\n",
                          found.idcodes.size(), found.instructionCapture.size()));
    const bool anyIdcode = std::any_of(found.idcodes.begin(), found.idcodes.end(), [](const auto& c) { return c.has_value(); });
    const std::vector<BsdlDevice> bsdl = anyIdcode ? readBsdlDir(settings.bsdlDir) : std::vector<BsdlDevice>{};
    for (size_t i = 0; i < found.idcodes.size(); ++i) page.appendLog(deviceLine(i, found.idcodes[i], bsdl));
    if (settings.chain.given() && (isKnownProduct(settings.product) || settings.board)) {
      const int targetLength = settings.board ? settings.board->instructionLength
                                              : chipDescriptor(static_cast<TargetProduct>(settings.product)).instructionLength;
      if (const std::string mismatch = chainMismatch(found, settings.chain, targetLength); !mismatch.empty()) {
        page.appendLog("  Chain: " + mismatch + "\r\n");
        job.status.fail(kOtherChainText);
        return;
      }
      page.appendLog("  Chain: as given (" + settings.chain.text() + ")\r\n");
    }
    job.status.complete("");
  });
}

}  // namespace zorv
