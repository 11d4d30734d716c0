// What a download costs on a real parallel port, where every port operation (a write or a read)
// takes about a microsecond and the host's own time does not matter: port operations per image
// byte, by phase, counted on the virtual board. The counts are exact and machine-independent; the
// samples are small so that the runs stay short, and per-byte figures scale to any image size.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "counting_port.h"
#include "nand/nand_job.h"
#include "nor/flash_types.h"
#include "nor/nor_job.h"
#include "page/recording_page.h"
#include "readback/read_job.h"
#include "sim/board.h"
#include "sim/nor_attach.h"
#include "targets/catalogue.h"

namespace {

namespace fs = std::filesystem;

constexpr double kLptSecondsPerOperation = 1e-6;
constexpr double kMiB = 1024.0 * 1024.0;
constexpr uint32_t kStretch = 4096;  // one stretch in four of the image is 0xFF

// size bytes of varied data in which every fourth 4 KiB stretch is 0xFF, as padding would be.
std::vector<uint8_t> quarterBlankImage(uint32_t size) {
  std::vector<uint8_t> bytes(size);
  uint32_t seed = 7;
  for (uint32_t i = 0; i < size; ++i) {
    seed = seed * 1103515245u + 12345u;
    bytes[i] = (i / kStretch) % 4 == 3 ? 0xFF : static_cast<uint8_t>(seed >> 16);
  }
  return bytes;
}

std::string writeImage(const std::vector<uint8_t>& bytes) {
  const fs::path path = fs::temp_directory_path() / ("zorv_port_cost_" + std::to_string(getpid()) + ".bin");
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return path.string();
}

// Port operations by phase: a log line that opens a phase closes the one before.
struct PhaseCounts {
  std::map<std::string, uint64_t> operations;
  std::string phase = "setup";
  uint64_t mark = 0;

  void watch(zorv::RecordingPage& page, const zorv::bench::CountingPort& port) {
    page.onEvent = [this, &port](zorv::RecordingPage&, const zorv::RecordingPage::Event& event) {
      if (event.what != "log") return;
      static const std::pair<const char*, const char*> kOpeners[] = {
          {"  Maker:", "identify"}, {"  Erasing ", "erase"}, {"  Programming", "program"}, {"  Verifying", "verify"}};
      for (const auto& [opener, name] : kOpeners) {
        if (event.text.rfind(opener, 0) == 0) close(port, name);
      }
    };
  }
  void close(const zorv::bench::CountingPort& port, const std::string& next) {
    const uint64_t now = port.writes + port.reads;
    operations[phase] += now - mark;
    mark = now;
    phase = next;
  }
};

void report(benchmark::State& state, const PhaseCounts& counts, uint32_t imageBytes, const char* phase,
            const char* name) {
  const auto found = counts.operations.find(phase);
  const double perByte = found == counts.operations.end() ? 0 : static_cast<double>(found->second) / imageBytes;
  state.counters[std::string(name) + "_ops_per_byte"] = perByte;
  state.counters[std::string(name) + "_lpt_s_per_MiB"] = perByte * kMiB * kLptSecondsPerOperation;
}

// NAND: erase, program and verify of a 64 KiB sample (32 pages of 2 KiB, half a block) on the
// OBRIN board's 0xDA part; on a chain, with an 8-bit and a 5-bit device on either side of it.
void nandDownload(benchmark::State& state, const char* chain) {
  constexpr uint32_t kSample = 64 * 1024;
  const std::string path = writeImage(quarterBlankImage(kSample));
  for (auto _ : state) {
    auto board = zorv::sim::makeBoard(std::string("chip=OBRIN,nand=0xDA") + (*chain != '\0' ? ",chain=8:target:5" : ""));
    zorv::bench::CountingPort port(*board);
    zorv::RecordingPage page;
    PhaseCounts counts;
    counts.watch(page, port);
    zorv::NandSettings settings;
    settings.product = zorv::Obrin;
    settings.chain = zorv::parseChainText(chain);
    settings.imagePath = path;
    settings.verify = 1;
    settings.skipBlank = state.range(0) != 0;
    zorv::restoreProductImages();
    zorv::runNandJob(page, port, settings);
    counts.close(port, "end");
    if (page.boxes != std::vector<std::string>{"Download Complete."}) state.SkipWithError("download failed");
    report(state, counts, kSample, "erase", "erase");
    report(state, counts, kSample, "program", "program");
    report(state, counts, kSample, "verify", "verify");
  }
  std::filesystem::remove(path);
}

void BM_PortCostNand(benchmark::State& state) { nandDownload(state, ""); }
BENCHMARK(BM_PortCostNand)->ArgName("skip_ff")->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kSecond);

void BM_PortCostNandOnAChain(benchmark::State& state) { nandDownload(state, "8,target,5"); }
BENCHMARK(BM_PortCostNandOnAChain)->ArgName("skip_ff")->Arg(0)->Iterations(1)->Unit(benchmark::kSecond);

// NAND read-back on OBRIN's 0xDA part, erased (every page reads as 0xFF, the case a dead cable
// looks like): arg 0 reads 256 KiB (two blocks), arg 1 scans all 2048 blocks for markers. Port
// operations and waits for answers (round trips on a remote cable) per KiB read or per block.
void BM_PortCostNandReadBack(benchmark::State& state) {
  const bool scan = state.range(0) == 1;
  constexpr uint32_t kSample = 256 * 1024;
  const std::string out = (fs::temp_directory_path() / ("zorv_port_cost_" + std::to_string(getpid()) + ".out")).string();
  for (auto _ : state) {
    auto board = zorv::sim::makeBoard("chip=OBRIN,nand=0xDA");
    zorv::bench::CountingPort port(*board);
    zorv::RecordingPage page;
    zorv::ReadSettings settings;
    settings.product = zorv::Obrin;
    settings.mode = scan ? zorv::ReadMode::BadScan : zorv::ReadMode::Read;
    settings.size = kSample;
    settings.outputPath = out;
    zorv::restoreProductImages();
    zorv::runReadJob(page, port, settings);
    const char* done = scan ? zorv::kScanCompleteText : zorv::kReadCompleteText;
    if (page.boxes != std::vector<std::string>{done}) state.SkipWithError("the read-back failed");
    const double units = scan ? 2048.0 : kSample / 1024.0;
    const std::string per = scan ? "_per_block" : "_per_KiB";
    state.counters["ops" + per] = static_cast<double>(port.writes + port.reads) / units;
    state.counters["round_trips" + per] = static_cast<double>(port.flushes) / units;
  }
  std::filesystem::remove(out);
}
BENCHMARK(BM_PortCostNandReadBack)->ArgName("read_scan")->DenseRange(0, 1)->Iterations(1)->Unit(benchmark::kSecond);

// NOR: a 64 KiB sample (one 64 KiB sector) on OBRIN's 16-bit bus; arg 0 plain, 1 --skip-ff,
// 2 --skip-unchanged on a board already holding the image (what is left is the reading).
void norDownload(benchmark::State& state, const char* part, int type) {
  constexpr uint32_t kSample = 64 * 1024;
  const std::vector<uint8_t> image = quarterBlankImage(kSample);
  const std::string path = writeImage(image);
  for (auto _ : state) {
    zorv::sim::BoardOptions options = zorv::sim::parseBoardOptions(std::string("chip=OBRIN,nor=") + part);
    zorv::sim::Board board(options);
    zorv::sim::AttachedNor nor = zorv::sim::attachNorDevice(board, options);
    if (state.range(0) == 2) {
      for (uint32_t o = 0; o < kSample; ++o) nor.setBusByte(o, image[o]);
    }
    zorv::bench::CountingPort port(board);
    zorv::RecordingPage page;
    PhaseCounts counts;
    counts.watch(page, port);
    zorv::NorSettings settings;
    settings.product = zorv::Obrin;
    settings.flashType = type;
    settings.width = 16;
    settings.imagePath = path;
    settings.skipBlank = state.range(0) == 1;
    settings.skipUnchanged = state.range(0) == 2;
    zorv::restoreProductImages();
    zorv::runNorJob(page, port, settings);
    counts.close(port, "end");
    if (page.boxes != std::vector<std::string>{"Download Complete."}) state.SkipWithError("download failed");
    // With --skip-unchanged the sectors are read between the maker line and the erase.
    report(state, counts, kSample, "identify", "identify_and_read");
    report(state, counts, kSample, "erase", "erase");
    report(state, counts, kSample, "program", "program");
  }
  std::filesystem::remove(path);
}

void BM_PortCostNorUnits(benchmark::State& state) { norDownload(state, "S29AL008D", zorv::S29al008d); }
BENCHMARK(BM_PortCostNorUnits)->ArgName("plain_skipff_unchanged")->DenseRange(0, 2)->Iterations(1)->Unit(benchmark::kSecond);

void BM_PortCostNorWriteBuffers(benchmark::State& state) { norDownload(state, "S29GL064M", zorv::S29gl064m); }
BENCHMARK(BM_PortCostNorWriteBuffers)
    ->ArgName("plain_skipff_unchanged")
    ->DenseRange(0, 2)
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

}  // namespace
