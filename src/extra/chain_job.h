#pragma once

#include <memory>
#include <string>

#include "chain/chain_description.h"
#include "link/jtag_link.h"
#include "link/parallel_port_link.h"
#include "page/job_page.h"
#include "targets/board_chip.h"

namespace zorv {

struct ChainListSettings {
  // Where BSDL files are looked for to name the devices found (a file that cannot be read is passed
  // over); empty: none.
  std::string bsdlDir;
  // When given, the chain found is checked against it; its target is product's.
  ChainDescription chain;
  int product = -1;  // none
  std::shared_ptr<const BoardChip> board;  // a board file's chip, which stands for product
};

// Lists what answers on the cable without any description: how many devices, each one's IDCODE
// (or that it has none) with the products and BSDL entities that answer it, and the total
// instruction length. A chain that is not the one described, or a cable that answers as no chain
// does, fails the job. Returns 0, as a thread body does.
int runChainJob(JobPage& page, JtagLink& link, const ChainListSettings& settings);
inline int runChainJob(JobPage& page, PortIo& port, const ChainListSettings& settings) {
  ParallelPortLink link(port);
  return runChainJob(page, link, settings);
}

}  // namespace zorv
