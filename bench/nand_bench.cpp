#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "link/remote_bitbang_link.h"
#include "counting_port.h"
#include "link/parallel_port_link.h"
#include "nand/nand_job.h"
#include "page/recording_page.h"
#include "sim/board.h"
#include "sim/remote_bitbang_server.h"
#include "targets/catalogue.h"

namespace {

constexpr uint32_t kImageSize = 1u << 20;
constexpr uint32_t kPageSize = 2048;
// What one port operation costs on a real parallel port (an ISA-speed I/O cycle).
constexpr double kLptSecondsPerOperation = 1e-6;
const char* const kBoardOptions = "chip=OBRIN,nand=0xDA";

// What one download cost on one kind of cable.
struct DownloadCost {
  bool complete = false;
  double seconds = 0;
  uint64_t portOperations = 0;
  uint64_t roundTrips = 0;  // blocking waits for the cable's answers (0 where nothing waits)
};

DownloadCost runJob(zorv::JtagLink& link, const zorv::NandSettings& settings) {
  zorv::RecordingPage page;
  zorv::restoreProductImages();
  const auto start = std::chrono::steady_clock::now();
  zorv::runNandJob(page, link, settings);
  DownloadCost cost;
  cost.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  cost.complete = page.boxes == std::vector<std::string>{"Download Complete."};
  return cost;
}

// A parallel-port backend: its port operations are counted.
DownloadCost runJob(zorv::PortIo& port, const zorv::NandSettings& settings) {
  zorv::bench::CountingPort counting(port);
  zorv::ParallelPortLink link(counting);
  DownloadCost cost = runJob(static_cast<zorv::JtagLink&>(link), settings);
  cost.portOperations = counting.writes + counting.reads;
  return cost;
}

// One function per kind of cable: a fresh virtual board, reached the way that cable reaches it.
DownloadCost inProcess(const zorv::NandSettings& settings) {
  auto board = zorv::sim::makeBoard(kBoardOptions);
  return runJob(*board, settings);
}

DownloadCost overRemoteBitbang(const zorv::NandSettings& settings) {
  auto board = zorv::sim::makeBoard(kBoardOptions);
  zorv::sim::RemoteBitbangServer server(*board);
  server.listen(0);
  std::thread serving([&server] { server.serve(); });
  DownloadCost cost;
  {
    zorv::RemoteBitbangLink link("127.0.0.1", server.port());
    cost = runJob(link, settings);
    cost.roundTrips = link.roundTrips();
  }
  server.stop();
  serving.join();
  return cost;
}

// A 1 MiB download with verify onto the virtual OBRIN board with a 0xDA part: the whole path from
// the job through the cable to the board and the device.
void BM_NandDownloadWithVerify(benchmark::State& state, DownloadCost (*cable)(const zorv::NandSettings&)) {
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

  DownloadCost total;
  total.complete = true;
  for (auto _ : state) {
    const DownloadCost cost = cable(settings);
    total.complete = total.complete && cost.complete;
    total.seconds += cost.seconds;
    total.portOperations += cost.portOperations;
    total.roundTrips += cost.roundTrips;
  }
  std::filesystem::remove(path);
  if (!total.complete) state.SkipWithError("the download did not complete");
  const double runs = static_cast<double>(state.iterations());
  const double pages = runs * (kImageSize / kPageSize);
  state.counters["seconds"] = total.seconds / runs;
  state.counters["round_trips_per_page"] = static_cast<double>(total.roundTrips) / pages;
  state.counters["port_ops_per_byte"] = static_cast<double>(total.portOperations) / (runs * kImageSize);
  state.counters["lpt_seconds"] = static_cast<double>(total.portOperations) / runs * kLptSecondsPerOperation;
}
BENCHMARK_CAPTURE(BM_NandDownloadWithVerify, in_process, &inProcess)
    ->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();
BENCHMARK_CAPTURE(BM_NandDownloadWithVerify, remote_bitbang, &overRemoteBitbang)
    ->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

}  // namespace
