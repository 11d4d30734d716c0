#pragma once

// Every job on every product, run once as the parallel port drives the board and once through a
// USB adapter's model, so that an adapter can be held to leave exactly what the parallel port
// leaves: the same log and boxes, the same file read, the same flash contents and pins.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "link/jtag_link.h"
#include "link/parallel_port_link.h"
#include "page/job_page.h"
#include "targets/board_chip.h"
#include "sim/board.h"
#include "sim/nand_device.h"
#include "sim/nor_attach.h"

namespace zorv::jobrig {

using Bytes = std::vector<uint8_t>;

// A USB adapter's model between the jobs and the board.
class Adapter {
 public:
  virtual ~Adapter() = default;
  virtual JtagLink& link() = 0;
  // Ends the link (it sends what it still holds) and returns the fault its model saw, if any.
  virtual std::string close() = 0;
};
// Builds an adapter on a board; the index of the job case lets adapters vary their settings.
using AdapterMaker = std::function<std::unique_ptr<Adapter>(std::unique_ptr<sim::Board> board, size_t caseIndex)>;

// A board with its flash, driven either as the parallel port the jobs were written for, or
// through an adapter.
struct Rig {
  std::unique_ptr<sim::Board> ownBoard;
  std::unique_ptr<ParallelPortLink> boardLink;
  std::unique_ptr<Adapter> adapter;
  sim::Board* board = nullptr;
  sim::NandDevice* nand = nullptr;
  sim::AttachedNor nor;

  // maker null: the parallel port.
  Rig(const std::string& options, uint8_t nandCode, const AdapterMaker* maker, size_t caseIndex = 0);
  JtagLink& port() { return adapter ? adapter->link() : static_cast<JtagLink&>(*boardLink); }
  // Everything a job can leave behind on the board.
  std::vector<std::string> state() const;
};

struct JobCase {
  std::string name;
  std::string options;
  uint8_t nandCode;  // 0: a NOR board
  // Prepares the board's old contents (same on both boards) and runs the job; the files given
  // are the image to write and the output to read into.
  std::function<void(Rig&, JobPage&, JtagLink&, const std::filesystem::path& image,
                     const std::filesystem::path& output)>
      run;
};

// The board chip each case's settings carry for its product; none (the default), or null from it:
// the product as compiled.
using BoardOfProduct = std::function<std::shared_ptr<const BoardChip>(int product)>;

// Every job on every product: identification, toggling, NAND and NOR downloads, read-back.
std::vector<JobCase> allJobs(const BoardOfProduct& boardOf = {});

struct Outcome {
  std::string log;
  std::vector<std::string> boxes;
  Bytes output;
  std::vector<std::string> board;
};

// Runs a case on a fresh board; adapterFault receives the fault the adapter's model saw.
Outcome runOn(const JobCase& c, const AdapterMaker* maker, size_t caseIndex, std::string& adapterFault);
// Runs a case through the adapter and on the parallel port and expects the same outcome.
void expectSameAsParallelPort(size_t caseIndex, const AdapterMaker& maker);

Bytes imageOf(size_t size, unsigned seed);
void writeFile(const std::filesystem::path& path, const Bytes& bytes);

}  // namespace zorv::jobrig
