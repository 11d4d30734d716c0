#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "link/remote_bitbang_link.h"
#include "nor/flash_types.h"
#include "nor/nor_job.h"
#include "page/recording_page.h"
#include "sim/board.h"
#include "sim/nor_attach.h"
#include "sim/remote_bitbang_server.h"
#include "targets/catalogue.h"
#include "text/number_text.h"

namespace zorv {
namespace {

struct RemoteCase {
  const char* board;
  int product;
  int type;
  int width;
  const char* block;
  uint32_t start;  // bus offset of the block
  uint32_t size;
};

// A download of every flash type through the remote_bitbang protocol on loopback, to a board whose
// devices behave as their data sheets say; what lands in the flash is compared byte for byte.
TEST(NorOverRemoteCable, EveryFlashTypeWritesExactly) {
  const RemoteCase cases[] = {
      {"chip=TQR2400,nor=EN29LV010A", Tqr2400, En29lv010a, 8, "1", 0x4000, 100},
      {"chip=IKA,nor=EN29LV040A", Ika, En29lv040a, 8, "1", 0x10000, 100},
      {"chip=OBRIN,nor=AM29LV040B", Obrin, Am29lv040b, 8, "2", 0x20000, 100},
      {"chip=TQR2400,nor=S29AL004D", Tqr2400, S29al004d, 16, "7", 0x70000, 100},
      {"chip=IKA,nor=S29AL008D", Ika, S29al008d, 16, "16", 0xF8000, 100},
      {"chip=OBRIN,nor=S29GL064M", Obrin, S29gl064m, 16, "1", 0x10000, 100},
      {"chip=TQR2400,nor=S29GL128M", Tqr2400, S29gl128m, 16, "2", 0x40000, 100},
      {"chip=IKA,nor=K8D6316", Ika, K8d6316, 16, "8", 0x10000, 100},
      // Past the first 4 KB of its 64 KB block, which only the block erase clears.
      {"chip=OBRIN,nor=SST39VF6401", Obrin, Sst39vf6401, 16, "1", 0x10000, 0x1000 + 64},
  };
  const std::string path = ::testing::TempDir() + "nor_remote_" + std::to_string(getpid()) + ".bin";
  for (const RemoteCase& c : cases) {
    SCOPED_TRACE(c.board);
    restoreProductImages();
    std::vector<uint8_t> image(c.size);
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7 + c.type);
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));

    sim::BoardOptions options = sim::parseBoardOptions(c.board);
    sim::Board board(options);
    sim::AttachedNor nor = sim::attachNorDevice(board, options);
    // Old contents over the whole block, so that an erase that misses part of it shows.
    for (uint32_t o = 0; o < c.size + 0x100; ++o) nor.setBusByte(c.start + o, 0x5A);
    sim::RemoteBitbangServer server(board);
    server.listen(0);
    std::thread serving([&server] { server.serve(); });

    RecordingPage page;
    NorSettings settings;
    settings.product = c.product;
    settings.flashType = c.type;
    settings.width = c.width;
    settings.block = readSectorText(c.block);
    settings.imagePath = path;
    {
      RemoteBitbangLink port("127.0.0.1", server.port());
      runNorJob(page, port, settings);
    }
    server.stop();
    serving.join();

    EXPECT_EQ(page.boxes, std::vector<std::string>{"Download Complete."}) << page.log;
    EXPECT_NE(page.log.find(flashTypeLogName(c.type)), std::string::npos) << page.log;
    for (uint32_t o = 0; o < c.size + 0x100; ++o) {
      ASSERT_EQ(nor.busByte(c.start + o), o < c.size ? image[o] : 0xFF) << std::hex << "offset 0x" << c.start + o;
    }
    EXPECT_TRUE(board.violations().empty()) << board.violations().front();
  }
  unlink(path.c_str());
}

}  // namespace
}  // namespace zorv
