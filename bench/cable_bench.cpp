#include <benchmark/benchmark.h>

#include <string>

#include "cable/jtag_cable.h"
#include "cable/recording_port.h"
#include "sim/board.h"
#include "targets/catalogue.h"

namespace {

// A 298-cell data scan is 2 * (298 + 6) = 608 port writes.
constexpr int kCells = 298;
constexpr int kWritesPerScan = 2 * (kCells + 6);

void BM_ShiftDrNullPort(benchmark::State& state) {
  zorv::NullPort port;
  zorv::JtagCable cable(port);
  cable.dataPort = zorv::kLptDataPort;
  std::string image(kCells, '0');
  for (auto _ : state) {
    cable.shiftDr(image.data(), kCells);
    benchmark::ClobberMemory();
  }
  state.counters["ns_per_write"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * kWritesPerScan,
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_ShiftDrNullPort);

void BM_ShiftDrVirtualBoard(benchmark::State& state) {
  auto board = zorv::sim::makeBoard("chip=OBRIN");
  zorv::JtagCable cable(*board);
  cable.detectPort();
  cable.resetTap();
  char name[8];
  zorv::loadChip(cable, zorv::Obrin, name, zorv::ChipVariant::Boundary);
  cable.loadExtest();
  std::string image(zorv::chipDescriptor(zorv::Obrin).resetTemplate);
  for (auto _ : state) {
    cable.shiftDr(image.data(), kCells);
    benchmark::ClobberMemory();
  }
  state.counters["ns_per_write"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * kWritesPerScan,
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_ShiftDrVirtualBoard);

}  // namespace
