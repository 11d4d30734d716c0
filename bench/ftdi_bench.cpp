// What a download costs through an FTDI adapter in MPSSE mode, where the TCK rate and the USB
// round trips (a transfer that waits for answers) set the time: per image byte, by phase, the
// MPSSE command bytes sent, the answer bytes read back, the round trips and the TCK clocks,
// counted through the MPSSE encoder and the modelled FT2232H on the virtual board. The modelled
// time per MiB is clocks / TCK + round trips x kRoundTripSeconds; command bytes stream to the chip
// faster than 30 MHz TCK takes them and are left out of it.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "link/ftdi_link.h"
#include "cable_choice/simulated_ftdi.h"
#include "nand/nand_job.h"
#include "nor/flash_types.h"
#include "nor/nor_job.h"
#include "page/recording_page.h"
#include "sim/nand_device.h"
#include "sim/nor_attach.h"
#include "targets/catalogue.h"

namespace {

namespace fs = std::filesystem;

constexpr double kMiB = 1024.0 * 1024.0;
// A USB 2.0 high-speed write followed by a read that 0x87 answers at once: about two
// microframes with libusb's synchronous transfers.
constexpr double kRoundTripSeconds = 250e-6;
constexpr uint32_t kSample = 64 * 1024;

std::vector<uint8_t> sampleImage() {
  std::vector<uint8_t> bytes(kSample);
  uint32_t seed = 7;
  for (uint32_t i = 0; i < kSample; ++i) {
    seed = seed * 1103515245u + 12345u;
    bytes[i] = (i / 4096) % 4 == 3 ? 0xFF : static_cast<uint8_t>(seed >> 16);
  }
  return bytes;
}

std::string writeImage(const std::vector<uint8_t>& bytes) {
  const fs::path path = fs::temp_directory_path() / ("zorv_ftdi_bench_" + std::to_string(getpid()) + ".bin");
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return path.string();
}

struct Counts {
  uint64_t sent = 0, answered = 0, roundTrips = 0, clocks = 0;
};

// Counts by phase: a log line that opens a phase closes the one before.
struct PhaseCounts {
  std::map<std::string, Counts> phases;
  std::string phase = "setup";
  Counts mark;

  Counts now(const zorv::FtdiLink& port, zorv::SimulatedFtdi& adapter) const {
    const zorv::MpsseEncoder* e = port.encoder();
    if (e == nullptr) return mark;
    return {e->bytesSent(), e->bytesAnswered(), e->roundTrips(), adapter.interpreter().clocks()};
  }
  void watch(zorv::RecordingPage& page, const zorv::FtdiLink& port, zorv::SimulatedFtdi& adapter) {
    page.onEvent = [this, &port, &adapter](zorv::RecordingPage&, const zorv::RecordingPage::Event& event) {
      if (event.what != "log") return;
      static const std::pair<const char*, const char*> kOpeners[] = {
          {"  Maker:", "identify"}, {"  Erasing ", "erase"}, {"  Programming", "program"}, {"  Verifying", "verify"}};
      for (const auto& [opener, name] : kOpeners) {
        if (event.text.rfind(opener, 0) == 0) close(port, adapter, name);
      }
    };
  }
  void close(const zorv::FtdiLink& port, zorv::SimulatedFtdi& adapter, const std::string& next) {
    const Counts n = now(port, adapter);
    Counts& c = phases[phase];
    c.sent += n.sent - mark.sent;
    c.answered += n.answered - mark.answered;
    c.roundTrips += n.roundTrips - mark.roundTrips;
    c.clocks += n.clocks - mark.clocks;
    mark = n;
    phase = next;
  }
};

void report(benchmark::State& state, const PhaseCounts& counts, const char* phase) {
  const auto found = counts.phases.find(phase);
  const Counts c = found == counts.phases.end() ? Counts{} : found->second;
  const double bytes = kSample;
  const std::string name(phase);
  state.counters[name + "_mpsse_bytes_per_byte"] = static_cast<double>(c.sent) / bytes;
  state.counters[name + "_answer_bytes_per_byte"] = static_cast<double>(c.answered) / bytes;
  state.counters[name + "_round_trips_per_KiB"] = static_cast<double>(c.roundTrips) * 1024.0 / bytes;
  state.counters[name + "_tck_per_byte"] = static_cast<double>(c.clocks) / bytes;
  for (const double hz : {6e6, 30e6}) {
    const double seconds = static_cast<double>(c.clocks) / hz + static_cast<double>(c.roundTrips) * kRoundTripSeconds;
    state.counters[name + "_s_per_MiB_at_" + std::to_string(static_cast<int>(hz / 1e6)) + "MHz"] =
        seconds * kMiB / bytes;
  }
}

struct Rig {
  std::shared_ptr<zorv::SimulatedFtdi> adapter;
  std::unique_ptr<zorv::FtdiLink> port;
  explicit Rig(std::unique_ptr<zorv::sim::Board> board) {
    adapter = std::make_shared<zorv::SimulatedFtdi>(std::move(board), zorv::sim::MpsseInterpreter::Wiring{});
    port = std::make_unique<zorv::FtdiLink>(*zorv::findFtdiLayout("ft2232h"), [this](std::string&) {
      zorv::FtdiDevice device;
      device.transport = adapter;
      return device;
    });
  }
};

// NAND: erase, program and verify of a 64 KiB sample (32 pages of 2 KiB) on OBRIN's 0xDA part.
void BM_FtdiNand(benchmark::State& state) {
  const std::string path = writeImage(sampleImage());
  for (auto _ : state) {
    Rig rig(zorv::sim::makeBoard("chip=OBRIN,nand=0xDA"));
    zorv::RecordingPage page;
    PhaseCounts counts;
    counts.watch(page, *rig.port, *rig.adapter);
    zorv::NandSettings settings;
    settings.product = zorv::Obrin;
    settings.imagePath = path;
    settings.verify = 1;
    zorv::restoreProductImages();
    zorv::runNandJob(page, *rig.port, settings);
    rig.port->flush();
    counts.close(*rig.port, *rig.adapter, "end");
    if (page.boxes != std::vector<std::string>{"Download Complete."}) state.SkipWithError("download failed");
    report(state, counts, "program");
    report(state, counts, "verify");
  }
  fs::remove(path);
}
BENCHMARK(BM_FtdiNand)->Iterations(1)->Unit(benchmark::kSecond);

// NOR: a 64 KiB sample (one sector) on OBRIN's 16-bit bus, programmed by units (S29AL008D) or
// by write buffers (S29GL064M).
void norDownload(benchmark::State& state, const char* part, int type) {
  const std::string path = writeImage(sampleImage());
  for (auto _ : state) {
    zorv::sim::BoardOptions options = zorv::sim::parseBoardOptions(std::string("chip=OBRIN,nor=") + part);
    auto board = std::make_unique<zorv::sim::Board>(options);
    zorv::sim::attachNorDevice(*board, options);
    Rig rig(std::move(board));
    zorv::RecordingPage page;
    PhaseCounts counts;
    counts.watch(page, *rig.port, *rig.adapter);
    zorv::NorSettings settings;
    settings.product = zorv::Obrin;
    settings.flashType = type;
    settings.width = 16;
    settings.imagePath = path;
    zorv::restoreProductImages();
    zorv::runNorJob(page, *rig.port, settings);
    rig.port->flush();
    counts.close(*rig.port, *rig.adapter, "end");
    if (page.boxes != std::vector<std::string>{"Download Complete."}) state.SkipWithError("download failed");
    report(state, counts, "program");
  }
  fs::remove(path);
}

void BM_FtdiNorUnits(benchmark::State& state) { norDownload(state, "S29AL008D", zorv::S29al008d); }
BENCHMARK(BM_FtdiNorUnits)->Iterations(1)->Unit(benchmark::kSecond);

void BM_FtdiNorWriteBuffers(benchmark::State& state) { norDownload(state, "S29GL064M", zorv::S29gl064m); }
BENCHMARK(BM_FtdiNorWriteBuffers)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
