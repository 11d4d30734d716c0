#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "nand/nand_job.h"
#include "page/recording_page.h"
#include "sim/board.h"
#include "sim/nand_device.h"
#include "targets/catalogue.h"

namespace {

// A 1 MiB download with verify onto the virtual OBRIN board with a 0xDA part: the whole path from
// the job through the cable's port writes to the board and the device.
void BM_NandDownloadWithVerify(benchmark::State& state) {
  constexpr uint32_t kImageSize = 1u << 20;
  constexpr uint32_t kPageSize = 2048;
  const auto path = std::filesystem::temp_directory_path() / ("zorv_nand_bench_" + std::to_string(getpid()) + ".bin");
  {
    std::vector<char> image(kImageSize);
    for (uint32_t i = 0; i < kImageSize; ++i) image[i] = static_cast<char>((i * 131 + (i >> 11)) & 0xFF);
    std::ofstream(path, std::ios::binary).write(image.data(), kImageSize);
  }
  zorv::NandSettings settings;
  settings.product = zorv::Obrin;
  settings.imagePath = path.string();
  settings.verify = 1;

  uint64_t writes = 0, scans = 0;
  bool complete = true;
  for (auto _ : state) {
    auto board = zorv::sim::makeBoard("chip=OBRIN,nand=0xDA");
    zorv::RecordingPage page;
    zorv::restoreProductImages();
    zorv::runNandJob(page, *board, settings);
    complete = complete && page.boxes == std::vector<std::string>{"Download Complete."};
    writes += 2 * board->tckCount();  // every TCK edge pair is two port writes
    scans += board->updateCount();
  }
  std::filesystem::remove(path);
  if (!complete) state.SkipWithError("the download did not complete");
  const double pages = static_cast<double>(state.iterations()) * (kImageSize / kPageSize);
  state.counters["scans_per_page"] = static_cast<double>(scans) / pages;
  state.counters["ns_per_write"] = benchmark::Counter(static_cast<double>(writes),
                                                      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_NandDownloadWithVerify)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

}  // namespace
