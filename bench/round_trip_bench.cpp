// Blocking round trips of whole jobs over the remote cables, measured as a user on a slow network
// would feel them: a relay in front of the loopback server holds every chunk for D ms each way,
// so each round trip the job waits for costs 2 * D of wall time. The round trips are the time
// difference between a run with delay and one without, divided by 2 * D; the cable's own count
// is shown beside them. The samples are small so that a run with delay stays short; the per-MiB
// figure is extrapolated from the counts of two sample sizes (what a job costs once, plus what
// each further byte costs). ZORV_RELAY_DELAY_MS sets D (default 1).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench_image.h"
#include "link/remote_bitbang_link.h"
#include "link/xvc_link.h"
#include "delay_relay.h"
#include "nand/nand_job.h"
#include "nor/flash_types.h"
#include "nor/nor_job.h"
#include "page/recording_page.h"
#include "readback/read_job.h"
#include "sim/board.h"
#include "sim/nor_attach.h"
#include "sim/remote_bitbang_server.h"
#include "sim/xvc_server.h"
#include "targets/catalogue.h"

namespace {

namespace fs = std::filesystem;

constexpr double kMiB = 1024.0 * 1024.0;

int delayMs() {
  const char* text = std::getenv("ZORV_RELAY_DELAY_MS");
  const int value = text != nullptr ? std::atoi(text) : 1;
  return value > 0 ? value : 1;
}

std::string writeImage(uint32_t size) { return zorv::bench::writeBenchImage(size, "zorv_round_trips_"); }

// A job on a port; true when it ended with its completion box.
using Job = std::function<bool(zorv::JtagLink& port, const std::string& image, uint32_t size)>;

struct Workload {
  const char* name;
  const char* board;
  uint32_t sampleBytes;
  Job job;
  // Where the link knows its TCK period the programs are read back once per 64 KiB sector: the
  // samples then span sectors, or the per-MiB figure would miss those waits (0: sampleBytes).
  uint32_t timedSampleBytes = 0;
};

bool nandProgramVerify(zorv::JtagLink& port, const std::string& image, uint32_t) {
  zorv::RecordingPage page;
  zorv::NandSettings settings;
  settings.product = zorv::Obrin;
  settings.imagePath = image;
  settings.verify = 1;
  zorv::runNandJob(page, port, settings);
  return page.boxes == std::vector<std::string>{"Download Complete."};
}

bool norProgram(zorv::JtagLink& port, const std::string& image, int type) {
  zorv::RecordingPage page;
  zorv::NorSettings settings;
  settings.product = zorv::Obrin;
  settings.flashType = type;
  settings.width = 16;
  settings.imagePath = image;
  zorv::runNorJob(page, port, settings);
  return page.boxes == std::vector<std::string>{"Download Complete."};
}

bool norReadOn(zorv::JtagLink& port, const std::string& image, uint32_t size, int product) {
  zorv::RecordingPage page;
  zorv::ReadSettings settings;
  settings.flash = zorv::ReadFlash::Nor;
  settings.mode = zorv::ReadMode::Read;
  settings.product = product;
  settings.flashType = zorv::S29al008d;  // VESKAR finds its own
  settings.width = 16;
  settings.size = size;
  settings.outputPath = image + ".read";
  zorv::runNorReadJob(page, port, settings);
  fs::remove(settings.outputPath);
  return page.boxes == std::vector<std::string>{zorv::kReadCompleteText};
}

bool norRead(zorv::JtagLink& port, const std::string& image, uint32_t size) {
  return norReadOn(port, image, size, zorv::Obrin);
}

// VESKAR reads its NOR through the debug-access register, one frame per byte.
bool veskarNorRead(zorv::JtagLink& port, const std::string& image, uint32_t size) {
  return norReadOn(port, image, size, zorv::Veskar);
}

const Workload kWorkloads[] = {
    {"nand_program_verify", "chip=OBRIN,nand=0xDA", 16 * 1024, nandProgramVerify},
    {"nor_program_units", "chip=OBRIN,nor=S29AL008D", 2 * 1024,
     [](zorv::JtagLink& p, const std::string& i, uint32_t) { return norProgram(p, i, zorv::S29al008d); },
     64 * 1024},
    {"nor_program_buffers", "chip=OBRIN,nor=S29GL064M", 8 * 1024,
     [](zorv::JtagLink& p, const std::string& i, uint32_t) { return norProgram(p, i, zorv::S29gl064m); },
     64 * 1024},
    {"nor_read", "chip=OBRIN,nor=S29AL008D", 8 * 1024, norRead},
    {"veskar_nor_read", "chip=VESKAR,nor=EN29LV040A", 8 * 1024, veskarNorRead},
};

// One remote cable: a server on the board, reached through a relay with the given delay.
struct Cable {
  const char* name;
  size_t xvcVectorBytes;  // 0: remote_bitbang
  uint32_t tckNs = 0;     // the period asked for; the board's NOR then takes its stated worst case
};

const Cable kCables[] = {
    {"remote", 0}, {"xvc_32B", 32}, {"xvc_2KiB", 2048}, {"xvc_1MiB", 1u << 20}, {"xvc_2KiB_tck1000", 2048, 1000}};

struct RunCost {
  bool complete = false;
  double seconds = 0;
  uint64_t counted = 0;  // the cable's own count of its waits
  double holdMs = 0;     // what the relay really held each chunk
};

template <typename Server, typename Port, typename MakePort>
RunCost runOver(zorv::sim::Board& board, Server& server, MakePort makePort, const Workload& w,
                const std::string& image, uint32_t size, int delay) {
  server.listen(0);
  std::thread serving([&server] { server.serve(); });
  RunCost cost;
  {
    zorv::bench::DelayRelay relay(server.port(), delay);
    std::unique_ptr<Port> port = makePort(relay.port());
    zorv::restoreProductImages();
    const auto start = std::chrono::steady_clock::now();
    cost.complete = w.job(*port, image, size);
    cost.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    cost.counted = port->roundTrips();
    port.reset();
    cost.holdMs = relay.meanHoldMs();
  }
  server.stop();
  serving.join();
  (void)board;
  return cost;
}

RunCost runOnce(const Workload& w, const Cable& c, uint32_t size, int delay) {
  const std::string image = writeImage(size);
  const std::string tck = c.tckNs != 0 ? ",nortck=" + std::to_string(c.tckNs) : "";
  std::unique_ptr<zorv::sim::Board> boardHolder = zorv::sim::makeBoard(w.board + tck);
  zorv::sim::Board& board = *boardHolder;
  RunCost cost;
  if (c.xvcVectorBytes == 0) {
    zorv::sim::RemoteBitbangServer server(board);
    cost = runOver<zorv::sim::RemoteBitbangServer, zorv::RemoteBitbangLink>(
        board, server, [](uint16_t p) { return std::make_unique<zorv::RemoteBitbangLink>("127.0.0.1", p); }, w, image,
        size, delay);
  } else {
    zorv::sim::XvcServer server(board, c.xvcVectorBytes);
    cost = runOver<zorv::sim::XvcServer, zorv::XvcLink>(
        board, server, [&c](uint16_t p) { return std::make_unique<zorv::XvcLink>("127.0.0.1", p, c.tckNs); }, w,
        image, size, delay);
  }
  fs::remove(image);
  return cost;
}

void roundTrips(benchmark::State& state, const Workload& w, const Cable& c) {
  const int delay = delayMs();
  const uint32_t size = c.tckNs != 0 && w.timedSampleBytes != 0 ? w.timedSampleBytes : w.sampleBytes;
  for (auto _ : state) {
    const RunCost plain = runOnce(w, c, size, 0);
    const RunCost twice = runOnce(w, c, 2 * size, 0);
    const RunCost delayed = runOnce(w, c, size, delay);
    if (!plain.complete || !twice.complete || !delayed.complete) state.SkipWithError("the job did not complete");
    // A round trip is one hold each way; the relay's own wake-up time is in both runs.
    const double measured = (delayed.seconds - plain.seconds) / (2e-3 * (delayed.holdMs - plain.holdMs));
    const double perByte = (static_cast<double>(twice.counted) - static_cast<double>(plain.counted)) / size;
    const double once = static_cast<double>(plain.counted) - perByte * size;
    state.counters["sample_KiB"] = size / 1024.0;
    state.counters["rt_measured"] = measured;
    state.counters["rt_counted"] = static_cast<double>(delayed.counted);
    state.counters["rt_per_MiB"] = once + perByte * kMiB;
    state.counters["s_no_delay"] = plain.seconds;
    state.counters["hold_ms"] = delayed.holdMs;
  }
}

const bool kRegistered = [] {
  for (const Workload& w : kWorkloads) {
    for (const Cable& c : kCables) {
      benchmark::RegisterBenchmark((std::string("BM_RoundTrips/") + w.name + "/" + c.name).c_str(),
                                   [&w, &c](benchmark::State& s) { roundTrips(s, w, c); })
          ->Iterations(1)
          ->Unit(benchmark::kSecond)
          ->UseRealTime();
    }
  }
  return true;
}();

}  // namespace
