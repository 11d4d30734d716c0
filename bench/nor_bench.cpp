#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "counting_port.h"
#include "nor/flash_types.h"
#include "nor/nor_job.h"
#include "page/recording_page.h"
#include "sim/board.h"
#include "sim/nor_attach.h"
#include "targets/catalogue.h"

namespace {

constexpr size_t kImageBytes = 256 * 1024;

std::string imageFile() {
  static const std::string path = [] {
    std::string name = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") + "/zorv_nor_bench.bin";
    std::vector<char> bytes(kImageBytes);
    uint32_t seed = 7;
    for (char& b : bytes) {
      seed = seed * 1103515245u + 12345u;
      b = static_cast<char>(seed >> 16);
    }
    std::ofstream(name, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return name;
  }();
  return path;
}

// One whole download job of a 256 KiB image onto the virtual OBRIN board.
void downloadImage(benchmark::State& state, const char* part, int type) {
  uint64_t scans = 0;
  uint64_t writes = 0;
  double seconds = 0;
  for (auto _ : state) {
    zorv::restoreProductImages();
    zorv::sim::BoardOptions options = zorv::sim::parseBoardOptions(std::string("chip=OBRIN,nor=") + part);
    zorv::sim::Board board(options);
    zorv::sim::attachNorDevice(board, options);
    zorv::bench::CountingPort port(board);
    zorv::RecordingPage page;
    zorv::NorSettings settings;
    settings.product = zorv::Obrin;
    settings.flashType = type;
    settings.width = 16;
    settings.imagePath = imageFile();
    const auto start = std::chrono::steady_clock::now();
    zorv::runNorJob(page, port, settings);
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (page.boxes != std::vector<std::string>{"Download Complete."}) state.SkipWithError("download failed");
    scans += board.updateCount();
    writes += port.writes;
  }
  state.counters["scans_per_byte"] = static_cast<double>(scans) / static_cast<double>(state.iterations() * kImageBytes);
  state.counters["ns_per_port_write"] = seconds * 1e9 / static_cast<double>(writes);
  state.counters["port_writes_per_byte"] =
      static_cast<double>(writes) / static_cast<double>(state.iterations() * kImageBytes);
}

void BM_NorDownloadWriteBuffers(benchmark::State& state) { downloadImage(state, "S29GL064M", zorv::S29gl064m); }
BENCHMARK(BM_NorDownloadWriteBuffers)->Iterations(1)->Unit(benchmark::kSecond);

void BM_NorDownloadWordUnits(benchmark::State& state) { downloadImage(state, "S29AL008D", zorv::S29al008d); }
BENCHMARK(BM_NorDownloadWordUnits)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
