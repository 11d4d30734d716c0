#include <benchmark/benchmark.h>

#include <string>
#include <thread>

#include "link/jtag_cable.h"
#include "cable/recording_port.h"
#include "link/remote_bitbang_link.h"
#include "sim/board.h"
#include "sim/remote_bitbang_server.h"
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

// The virtual board served on loopback by a server thread, reached through the remote cable: the
// whole path a remote_bitbang session takes, timed by the wall clock.
class RemoteBoard {
 public:
  RemoteBoard() : board_(zorv::sim::makeBoard("chip=OBRIN")), server_(*board_) {
    server_.listen(0);
    thread_ = std::thread([this] { server_.serve(); });
    port_ = std::make_unique<zorv::RemoteBitbangLink>("127.0.0.1", server_.port());
    cable_ = std::make_unique<zorv::JtagCable>(*port_);
    cable_->grantPortAccess();
    cable_->detectPort();
    cable_->resetTap();
    char name[8];
    zorv::loadChip(*cable_, zorv::Obrin, name, zorv::ChipVariant::Boundary);
    cable_->loadExtest();
  }
  ~RemoteBoard() {
    cable_.reset();
    port_.reset();
    server_.stop();
    thread_.join();
  }
  zorv::JtagCable& cable() { return *cable_; }

 private:
  std::unique_ptr<zorv::sim::Board> board_;
  zorv::sim::RemoteBitbangServer server_;
  std::thread thread_;
  std::unique_ptr<zorv::RemoteBitbangLink> port_;
  std::unique_ptr<zorv::JtagCable> cable_;
};

void BM_ShiftDrRemoteLoopback(benchmark::State& state) {
  RemoteBoard remote;
  std::string image(zorv::chipDescriptor(zorv::Obrin).resetTemplate);
  char captured[kCells];
  for (auto _ : state) remote.cable().shiftDr(image.data(), kCells);
  // Wait until the server has played every byte sent.
  remote.cable().shiftDrCapture(image.data(), captured, kCells);
  state.counters["ns_per_write"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * kWritesPerScan,
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_ShiftDrRemoteLoopback)->UseRealTime();

// One round trip per scan.
void BM_ShiftDrCaptureRemoteLoopback(benchmark::State& state) {
  RemoteBoard remote;
  std::string image(zorv::chipDescriptor(zorv::Obrin).resetTemplate);
  char captured[kCells];
  for (auto _ : state) {
    remote.cable().shiftDrCapture(image.data(), captured, kCells);
    benchmark::DoNotOptimize(captured);
  }
}
BENCHMARK(BM_ShiftDrCaptureRemoteLoopback)->UseRealTime();

}  // namespace
