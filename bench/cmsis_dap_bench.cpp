// What a job costs through a CMSIS-DAP probe, counted through the link and the modelled probe on
// the virtual board, and timed on a model of the USB: a command reaches the probe half a round
// trip after it is sent, the probe clocks its sequences at the TCK rate one command after the
// other, and the answer is back half a round trip later; the host waits only when it reads an
// answer that is not yet back. The host's own work and the USB's bandwidth are left out. Per KiB
// of image: packets sent, blocking round trips (waits that empty the pipeline, leaving the probe
// idle for a round trip) and the modelled time per MiB at TCK 1 MHz and 10 MHz with a 1 ms round
// trip, each the difference between a sample and one twice its size (what each further byte
// costs). Probes: packet size 64 or 512 bytes, packet count 1 (nothing in flight beyond the
// one answer waited for) or 4; NOR reads also as a link that does not ask for them to be gathered
// into runs (the "unbatched" rows: every byte waited for on its own).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bench_image.h"
#include "cable_choice/simulated_cmsis_dap.h"
#include "cmsis_dap/cmsis_dap_link.h"
#include "nand/nand_job.h"
#include "nor/flash_types.h"
#include "page/recording_page.h"
#include "readback/read_job.h"
#include "sim/board.h"
#include "targets/catalogue.h"

namespace {

namespace fs = std::filesystem;

constexpr double kMiB = 1024.0 * 1024.0;
constexpr double kRoundTripSeconds = 1e-3;  // a full-speed USB probe: one frame each way at most

// The probe as the host would see it over the modelled USB, at two TCK rates.
class TimedProbe : public zorv::DapTransport {
 public:
  static constexpr double kTckSeconds[2] = {1e-6, 1e-7};  // TCK at 1 MHz and at 10 MHz

  explicit TimedProbe(std::shared_ptr<zorv::SimulatedCmsisDap> probe) : probe_(std::move(probe)) {}
  zorv::DapIo send(const uint8_t* data, size_t length) override {
    const uint64_t before = probe_->probe().clocks();
    const zorv::DapIo done = probe_->send(data, length);
    const auto clocks = static_cast<double>(probe_->probe().clocks() - before);
    for (int r = 0; r < 2; ++r) {
      Timeline& t = timelines_[r];
      const double start = std::max(t.now + kRoundTripSeconds / 2, t.probeFree);
      t.probeFree = start + clocks * kTckSeconds[r];
      t.arrivals.push_back(t.probeFree + kRoundTripSeconds / 2);
    }
    return done;
  }
  zorv::DapIo receive(uint8_t* data, size_t capacity, size_t& length, int waitMs) override {
    const zorv::DapIo got = probe_->receive(data, capacity, length, waitMs);
    if (got != zorv::DapIo::Done) return got;
    // A wait that empties the pipeline leaves the probe idle for a whole round trip.
    if (timelines_[0].arrivals.size() == 1) ++blockingRoundTrips;
    for (Timeline& t : timelines_) {
      if (t.arrivals.empty()) continue;
      t.now = std::max(t.now, t.arrivals.front());
      t.arrivals.pop_front();
    }
    return got;
  }
  bool padsAnswers() const override { return false; }
  std::string cause() const override { return probe_->cause(); }
  std::string name() const override { return probe_->name(); }

  double seconds(int rate) const { return timelines_[rate].now; }
  uint64_t blockingRoundTrips = 0;

 private:
  struct Timeline {
    double now = 0;
    double probeFree = 0;
    std::deque<double> arrivals;
  };
  std::shared_ptr<zorv::SimulatedCmsisDap> probe_;
  Timeline timelines_[2];
};

// The link as it is, or as one that does not ask for reads to be gathered into runs.
class Unbatched : public zorv::JtagLink {
 public:
  explicit Unbatched(zorv::JtagLink& inner) : inner_(inner) {}
  bool grantAccess() override { return inner_.grantAccess(); }
  bool detect() override { return inner_.detect(); }
  void clockTms(uint32_t tms, int count, bool tdi) override { inner_.clockTms(tms, count, tdi); }
  void shiftBits(const char* tdi, uint32_t length, bool exitOnLast, const zorv::TdoCapture& capture) override {
    inner_.shiftBits(tdi, length, exitOnLast, capture);
  }
  void flush() override { inner_.flush(); }
  bool answersLate() const override { return false; }
  bool pollsCheaply() const override { return inner_.pollsCheaply(); }
  bool hasTrst() const override { return inner_.hasTrst(); }
  void pulseTrst() override { inner_.pulseTrst(); }
  const std::string& linkFailure() const override { return inner_.linkFailure(); }

 private:
  zorv::JtagLink& inner_;
};

std::string writeImage(uint32_t size) { return zorv::bench::writeBenchImage(size, "zorv_dap_bench_"); }

using Job = std::function<bool(zorv::JtagLink& port, const std::string& image, uint32_t size)>;

bool nandProgramVerify(zorv::JtagLink& port, const std::string& image, uint32_t) {
  zorv::RecordingPage page;
  zorv::NandSettings settings;
  settings.product = zorv::Obrin;
  settings.imagePath = image;
  settings.verify = 1;
  zorv::runNandJob(page, port, settings);
  return page.boxes == std::vector<std::string>{"Download Complete."};
}

bool norRead(zorv::JtagLink& port, const std::string& image, uint32_t size) {
  zorv::RecordingPage page;
  zorv::ReadSettings settings;
  settings.flash = zorv::ReadFlash::Nor;
  settings.mode = zorv::ReadMode::Read;
  settings.product = zorv::Obrin;
  settings.flashType = zorv::S29al008d;
  settings.width = 16;
  settings.size = size;
  settings.outputPath = image + ".read";
  zorv::runNorReadJob(page, port, settings);
  fs::remove(settings.outputPath);
  return page.boxes == std::vector<std::string>{zorv::kReadCompleteText};
}

struct Cost {
  bool complete = false;
  double packets = 0;
  double roundTrips = 0;
  double seconds[2] = {};
};

Cost runOnce(const char* board, const Job& job, uint32_t size, uint16_t packetSize, uint8_t packetCount, bool batched) {
  const std::string image = writeImage(size);
  zorv::sim::DapProbe::Config config;
  config.packetSize = packetSize;
  config.packetCount = packetCount;
  auto timed = std::make_shared<TimedProbe>(std::make_shared<zorv::SimulatedCmsisDap>(zorv::sim::makeBoard(board), config));
  Cost cost;
  {
    zorv::CmsisDapLink link([timed](std::string&) -> std::shared_ptr<zorv::DapTransport> { return timed; });
    Unbatched unbatched(link);
    zorv::restoreProductImages();
    cost.complete = batched ? job(link, image, size) : job(unbatched, image, size);
    cost.packets = static_cast<double>(link.packetsSent());
  }
  cost.roundTrips = static_cast<double>(timed->blockingRoundTrips);
  cost.seconds[0] = timed->seconds(0);
  cost.seconds[1] = timed->seconds(1);
  fs::remove(image);
  return cost;
}

void cmsisDap(benchmark::State& state, const char* board, const Job& job, uint32_t size, bool batched) {
  const auto packetSize = static_cast<uint16_t>(state.range(0));
  const auto packetCount = static_cast<uint8_t>(state.range(1));
  for (auto _ : state) {
    const Cost once = runOnce(board, job, size, packetSize, packetCount, batched);
    const Cost twice = runOnce(board, job, 2 * size, packetSize, packetCount, batched);
    if (!once.complete || !twice.complete) state.SkipWithError("the job did not complete");
    const double kib = size / 1024.0;
    state.counters["packets_per_KiB"] = (twice.packets - once.packets) / kib;
    state.counters["round_trips_per_KiB"] = (twice.roundTrips - once.roundTrips) / kib;
    state.counters["s_per_MiB_1MHz"] = (twice.seconds[0] - once.seconds[0]) * kMiB / size;
    state.counters["s_per_MiB_10MHz"] = (twice.seconds[1] - once.seconds[1]) * kMiB / size;
  }
}

void BM_CmsisDapNandProgramVerify(benchmark::State& state) {
  cmsisDap(state, "chip=OBRIN,nand=0xDA", nandProgramVerify, 8 * 1024, true);
}
void BM_CmsisDapNorRead(benchmark::State& state) { cmsisDap(state, "chip=OBRIN,nor=S29AL008D", norRead, 8 * 1024, true); }
void BM_CmsisDapNorReadUnbatched(benchmark::State& state) {
  cmsisDap(state, "chip=OBRIN,nor=S29AL008D", norRead, 2 * 1024, false);
}

void shapes(benchmark::internal::Benchmark* b) {
  b->ArgNames({"packet", "count"})->Iterations(1)->Unit(benchmark::kSecond);
  for (const int packet : {64, 512}) {
    for (const int count : {1, 4}) b->Args({packet, count});
  }
}
BENCHMARK(BM_CmsisDapNandProgramVerify)->Apply(shapes);
BENCHMARK(BM_CmsisDapNorRead)->Apply(shapes);
BENCHMARK(BM_CmsisDapNorReadUnbatched)->Apply(shapes);

}  // namespace
