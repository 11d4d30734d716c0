#include "link/xvc_link.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "link/jtag_cable.h"

namespace zorv {
namespace {

// A loopback XVC server for one client: answers getinfo: with infoLine, settck: with
// grantedPeriod, and each shift: with its own TDI vector as TDO. It records everything the client
// sends. The behaviour picks how it goes wrong.
class ScriptedXvcServer {
 public:
  // SmallBuffers answers as Answer through socket buffers that hold little (a few KiB of answers):
  // it stops reading soon after its answers are no longer taken. ExtraByte puts one byte more
  // after every answer (LateExtraByte a moment after it). At the first shift FloodAtFirstShift
  // stops reading and sends bytes as fast as they go, TrickleAtFirstShift one every 50 ms.
  // TrickledGreeting says its greeting one byte every 100 ms. PauseAtFirstShift reads nothing for
  // half a second at the first shift, then answers as Answer.
  enum class Behaviour {
    Answer, CloseAtFirstShift, SilentAtFirstShift, Trickle, SmallBuffers, ExtraByte, LateExtraByte,
    FloodAtFirstShift, TrickleAtFirstShift, TrickledGreeting, PauseAtFirstShift
  };

  explicit ScriptedXvcServer(std::string infoLine, Behaviour behaviour = Behaviour::Answer, uint32_t grantedPeriod = 0)
      : infoLine_(std::move(infoLine)), behaviour_(behaviour), grantedPeriod_(grantedPeriod) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    EXPECT_EQ(::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), length), 0);
    EXPECT_EQ(::listen(listenFd_, 1), 0);
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    thread_ = std::thread([this] { run(); });
  }
  ~ScriptedXvcServer() {
    done_ = true;
    ::shutdown(listenFd_, SHUT_RDWR);
    thread_.join();
    ::close(listenFd_);
  }
  // Everything the client sent; call once the client has closed.
  std::string received() {
    thread_.join();
    thread_ = std::thread([] {});
    return received_;
  }

  uint16_t port = 0;

 private:
  bool take(int fd, char* data, size_t length) {
    if (::recv(fd, data, length, MSG_WAITALL) != static_cast<ssize_t>(length)) return false;
    received_.append(data, length);
    return true;
  }

  void run() {
    const int fd = ::accept(listenFd_, nullptr, nullptr);
    if (fd < 0) return;
    if (behaviour_ == Behaviour::SmallBuffers) {
      const int sendBytes = 4096, receiveBytes = 65536;
      ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &sendBytes, sizeof sendBytes);
      ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBytes, sizeof receiveBytes);
    }
    std::string command;
    char c;
    bool paused = false;
    while (take(fd, &c, 1)) {
      command += c;
      if (c != ':') continue;
      if (command == "getinfo:") {
        for (size_t i = 0; behaviour_ == Behaviour::TrickledGreeting && i < infoLine_.size() && !done_; ++i) {
          std::this_thread::sleep_for(std::chrono::milliseconds(100));
          ::send(fd, infoLine_.data() + i, 1, MSG_NOSIGNAL);
        }
        if (behaviour_ != Behaviour::TrickledGreeting) ::send(fd, infoLine_.data(), infoLine_.size(), MSG_NOSIGNAL);
      } else if (command == "settck:") {
        char period[4];
        if (!take(fd, period, 4)) break;
        for (int i = 0; i < 4; ++i) period[i] = static_cast<char>(grantedPeriod_ >> (8 * i));
        ::send(fd, period, 4, MSG_NOSIGNAL);
      } else if (command == "shift:") {
        if (behaviour_ == Behaviour::CloseAtFirstShift) break;
        if (behaviour_ == Behaviour::SilentAtFirstShift) {
          while (!done_ && ::recv(fd, &c, 1, 0) > 0) {
          }
          break;
        }
        if (behaviour_ == Behaviour::PauseAtFirstShift && !paused) {
          paused = true;
          std::this_thread::sleep_for(std::chrono::milliseconds(500));
        }
        if (behaviour_ == Behaviour::FloodAtFirstShift || behaviour_ == Behaviour::TrickleAtFirstShift) {
          const bool flood = behaviour_ == Behaviour::FloodAtFirstShift;
          const std::vector<char> bytes(flood ? 65536 : 1, '\0');
          while (!done_ && ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) > 0) {
            if (!flood) std::this_thread::sleep_for(std::chrono::milliseconds(50));
          }
          break;
        }
        char count[4];
        if (!take(fd, count, 4)) break;
        const uint32_t bits = static_cast<uint8_t>(count[0]) | static_cast<uint8_t>(count[1]) << 8;
        std::vector<char> vectors(2 * ((bits + 7) / 8));
        if (!take(fd, vectors.data(), vectors.size())) break;
        if (behaviour_ == Behaviour::Trickle) {  // one byte of the answer at a time, each in good time
          for (size_t i = vectors.size() / 2; i < vectors.size() && !done_; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(120));
            ::send(fd, vectors.data() + i, 1, MSG_NOSIGNAL);
          }
          command.clear();
          continue;
        }
        if (behaviour_ == Behaviour::ExtraByte) vectors.push_back('\xFF');
        ::send(fd, vectors.data() + vectors.size() / 2, vectors.size() - vectors.size() / 2, MSG_NOSIGNAL);
        if (behaviour_ == Behaviour::LateExtraByte) {
          std::this_thread::sleep_for(std::chrono::milliseconds(50));
          ::send(fd, "\xFF", 1, MSG_NOSIGNAL);
        }
      }
      command.clear();
    }
    ::close(fd);
  }

  std::string infoLine_;
  Behaviour behaviour_;
  uint32_t grantedPeriod_;
  std::string received_;
  std::atomic<bool> done_{false};
  int listenFd_;
  std::thread thread_;
};

std::string shiftMessage(const std::vector<std::pair<bool, bool>>& tmsTdi) {
  const size_t bytes = (tmsTdi.size() + 7) / 8;
  std::string tms(bytes, '\0'), tdi(bytes, '\0');
  for (size_t i = 0; i < tmsTdi.size(); ++i) {
    if (tmsTdi[i].first) tms[i / 8] = static_cast<char>(tms[i / 8] | (1 << (i % 8)));
    if (tmsTdi[i].second) tdi[i / 8] = static_cast<char>(tdi[i / 8] | (1 << (i % 8)));
  }
  std::string count(4, '\0');
  count[0] = static_cast<char>(tmsTdi.size());
  return "shift:" + count + tms + tdi;
}

TEST(XvcLinkTest, ClocksBecomeShiftsWithinTheServersLengthAndTdoReachesTheCaptures) {
  ScriptedXvcServer server("xvcServer_v1.0:4\n");  // two bytes of TMS and two of TDI per shift
  std::vector<std::pair<bool, bool>> bits(5, {true, false});  // the nTRST pulse XVC has not
  std::vector<uint8_t> tdo(20, 0xAA);
  {
    XvcLink link("127.0.0.1", server.port);
    ASSERT_TRUE(link.grantAccess());
    ASSERT_EQ(link.shiftBytes(), 2u);
    ASSERT_TRUE(link.detect());
    EXPECT_FALSE(link.hasTrst());
    link.pulseTrst();
    for (int i = 0; i < 20; ++i) {
      const bool tms = i % 3 == 0, tdi = i % 2 == 1;
      const char bit = tdi ? '1' : '0';
      link.shiftBits(&bit, 1, tms, {&tdo[i], 0, 1});
      bits.emplace_back(tms, tdi);
    }
    EXPECT_EQ(tdo[0], 0xAA);
    link.flush();
    EXPECT_EQ(link.roundTrips(), 1u) << "the two shifts travel before either answer is read";
    for (int i = 0; i < 20; ++i) EXPECT_EQ(tdo[i], i % 2 == 1 ? 0x40 : 0x00) << i;
    link.release();  // a job's end: the server is free for the next client
    EXPECT_FALSE(link.connected());
  }
  const std::vector<std::pair<bool, bool>> first(bits.begin(), bits.begin() + 16), rest(bits.begin() + 16, bits.end());
  EXPECT_EQ(server.received(), "getinfo:" + shiftMessage(first) + shiftMessage(rest));
}

TEST(XvcLinkTest, TckPeriodIsAskedWhenWantedAndTheGrantedOneReported) {
  ScriptedXvcServer server("xvcServer_v1.0:2048\n", ScriptedXvcServer::Behaviour::Answer, 125);
  {
    XvcLink link("127.0.0.1", server.port, 100);
    testing::internal::CaptureStderr();
    link.grantAccess();
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(link.tckPeriodNs(), 125u);
    EXPECT_NE(log.find("period of 125 ns (100 ns asked)"), std::string::npos) << log;
  }
  EXPECT_EQ(server.received(), std::string("getinfo:settck:d\0\0\0", 19));
}

// The link answers as absent once it is gone, and keeps the cause for the job.
void expectAbsent(XvcLink& link) {
  uint8_t tdo = 0;
  const char bit = '0';
  link.shiftBits(&bit, 1, false, {&tdo, 0, 1});
  link.flush();
  EXPECT_EQ(tdo, 0xFF);
  EXPECT_FALSE(link.detect());
  EXPECT_FALSE(link.connected());
}

// One clock whose TDO is wanted, and the wait for it.
uint8_t captureOne(XvcLink& link) {
  uint8_t tdo = 0;
  const char bit = '0';
  link.shiftBits(&bit, 1, false, {&tdo, 0, 1});
  link.flush();
  return tdo;
}

TEST(XvcLinkTest, UnreachableOrForeignServerIsALostLink) {
  uint16_t closedPort;
  {
    ScriptedXvcServer gone("");
    closedPort = gone.port;
  }
  XvcLink refused("127.0.0.1", closedPort);
  JtagCable cable(refused);
  EXPECT_TRUE(cable.grantPortAccess());
  EXPECT_NE(cable.detectPort(), 0);
  EXPECT_EQ(refused.linkFailure(), "cannot connect to 127.0.0.1:" + std::to_string(closedPort) + " (Connection refused)");
  expectAbsent(refused);

  ScriptedXvcServer foreign("HTTP/1.1 400 Bad Request\n");
  XvcLink link("127.0.0.1", foreign.port);
  link.grantAccess();
  EXPECT_EQ(link.linkFailure(), "127.0.0.1:" + std::to_string(foreign.port) + " does not answer as an XVC server");
  expectAbsent(link);
}

TEST(XvcLinkTest, ServerThatGoesAwayOrFallsSilentMidJobIsALostLink) {
  ScriptedXvcServer closing("xvcServer_v1.0:2048\n", ScriptedXvcServer::Behaviour::CloseAtFirstShift);
  XvcLink link("127.0.0.1", closing.port);
  JtagCable cable(link);
  cable.grantPortAccess();
  ASSERT_EQ(cable.detectPort(), 0);
  std::string id;
  EXPECT_EQ(cable.readIdCode(id), 0u);
  EXPECT_EQ(link.linkFailure(), "connection to 127.0.0.1:" + std::to_string(closing.port) + " lost");
  expectAbsent(link);

  ScriptedXvcServer silent("xvcServer_v1.0:2048\n", ScriptedXvcServer::Behaviour::SilentAtFirstShift);
  XvcLink waiting("127.0.0.1", silent.port, 0, 200);
  waiting.grantAccess();
  EXPECT_EQ(captureOne(waiting), 0xFF);
  EXPECT_EQ(waiting.linkFailure(), "no answer from 127.0.0.1:" + std::to_string(silent.port) + " within 200 ms");
  expectAbsent(waiting);

  // Each byte comes within the limit, the whole answer does not.
  ScriptedXvcServer trickling("xvcServer_v1.0:2048\n", ScriptedXvcServer::Behaviour::Trickle);
  XvcLink slow("127.0.0.1", trickling.port, 0, 200);
  slow.grantAccess();
  slow.clockTms(0, 31, false);
  EXPECT_EQ(captureOne(slow), 0xFF);
  EXPECT_EQ(slow.linkFailure(), "no answer from 127.0.0.1:" + std::to_string(trickling.port) + " within 200 ms");

  // Closing owes nobody an answer: it never waits for one.
  ScriptedXvcServer mute("xvcServer_v1.0:2048\n", ScriptedXvcServer::Behaviour::SilentAtFirstShift);
  const auto start = std::chrono::steady_clock::now();
  {
    XvcLink quitting("127.0.0.1", mute.port);
    quitting.grantAccess();
    quitting.clockTms(0, 1, false);
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST(XvcLinkTest, StopFlagEndsTheWaitOnASilentServer) {
  ScriptedXvcServer silent("xvcServer_v1.0:2048\n", ScriptedXvcServer::Behaviour::SilentAtFirstShift);
  std::atomic<int> stop{0};
  XvcLink link("127.0.0.1", silent.port);  // the full time-out: only the flag can end the wait soon
  link.watchStopFlag(&stop);
  link.grantAccess();
  std::thread stopper([&stop] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    stop = 1;
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(captureOne(link), 0xFF);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  stopper.join();
  EXPECT_EQ(link.linkFailure(), "stopped while waiting for 127.0.0.1:" + std::to_string(silent.port))
      << "the stop is kept as the cause, so the job ends as stopped instead of reading an absent port";
  EXPECT_FALSE(link.connected()) << "answers still owed must not reach the next job";
}

// Megabytes of shifts in flight to a server whose socket buffers hold a few KiB: the server stops
// reading while its answers wait, so the link must take them in as it sends; one wait at the end
// and every bit answered.
TEST(XvcLinkTest, AnswersBeyondTheSocketBuffersAreTakenInWhileSending) {
  ScriptedXvcServer server("xvcServer_v1.0:2048\n", ScriptedXvcServer::Behaviour::SmallBuffers);
  constexpr uint32_t kBits = 24u << 20;  // 3 MiB of answers, 6 MiB of vectors
  std::vector<char> tdi(kBits);
  for (uint32_t i = 0; i < kBits; ++i) tdi[i] = static_cast<char>((i * 7 / 3) & 1);
  std::vector<uint8_t> tdo(64, 0xAA);
  {
    XvcLink link("127.0.0.1", server.port, 0, 2000);
    ASSERT_TRUE(link.grantAccess());
    link.shiftBits(tdi.data(), kBits, false, {tdo.data(), kBits - 64, 64});
    link.flush();
    EXPECT_EQ(link.linkFailure(), "");
    EXPECT_EQ(link.roundTrips(), 1u);
  }
  for (uint32_t i = 0; i < 64; ++i) EXPECT_EQ(tdo[i], tdi[kBits - 64 + i] != 0 ? 0x40 : 0x00) << i;
}

// A byte beyond the answers asked for would shift every later capture by a byte: it ends the link,
// whether it comes with an answer or after the wait for it is over, before any later capture is
// taken from the stream.
TEST(XvcLinkTest, AServerThatAnswersOneByteTooManyIsOutsideTheProtocol) {
  for (const auto behaviour : {ScriptedXvcServer::Behaviour::ExtraByte, ScriptedXvcServer::Behaviour::LateExtraByte}) {
    SCOPED_TRACE(behaviour == ScriptedXvcServer::Behaviour::ExtraByte ? "with the answer" : "after the answer");
    ScriptedXvcServer server("xvcServer_v1.0:2048\n", behaviour);
    XvcLink link("127.0.0.1", server.port);
    link.grantAccess();
    captureOne(link);
    if (behaviour == ScriptedXvcServer::Behaviour::ExtraByte) {
      EXPECT_NE(link.linkFailure(), "") << "the wait that took the answer saw the byte after it";
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(150));  // the late byte is in
    EXPECT_EQ(captureOne(link), 0xFF) << "a capture from the byte too many";
    EXPECT_EQ(link.linkFailure(), "127.0.0.1:" + std::to_string(server.port) + " answered outside the XVC protocol");
  }
}

// A server that stops reading while it sends: a flood is more than was asked for, and bytes that
// trickle in while none of the link's go out are no sign of life; a stop ends the wait in any case.
TEST(XvcLinkTest, AServerThatSendsButNeverReadsEndsTheLinkInTime) {
  const auto sendMegabytes = [](XvcLink& link) {
    for (int i = 0; i < (1 << 20) && link.connected(); ++i) link.clockTms(0, 32, false);
    link.flush();
  };
  ScriptedXvcServer flooding("xvcServer_v1.0:2048\n", ScriptedXvcServer::Behaviour::FloodAtFirstShift);
  XvcLink flooded("127.0.0.1", flooding.port);
  flooded.grantAccess();
  sendMegabytes(flooded);
  EXPECT_EQ(flooded.linkFailure(), "127.0.0.1:" + std::to_string(flooding.port) + " answered outside the XVC protocol");

  ScriptedXvcServer trickling("xvcServer_v1.0:2048\n", ScriptedXvcServer::Behaviour::TrickleAtFirstShift);
  XvcLink trickled("127.0.0.1", trickling.port, 0, 400);
  trickled.grantAccess();
  sendMegabytes(trickled);
  EXPECT_EQ(trickled.linkFailure(), "no answer from 127.0.0.1:" + std::to_string(trickling.port) + " within 400 ms");

  ScriptedXvcServer stopped("xvcServer_v1.0:2048\n", ScriptedXvcServer::Behaviour::TrickleAtFirstShift);
  std::atomic<int> stop{0};
  XvcLink link("127.0.0.1", stopped.port);  // the full silence limit: only the stop ends it soon
  link.watchStopFlag(&stop);
  link.grantAccess();
  std::thread stopper([&stop] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    stop = 1;
  });
  const auto start = std::chrono::steady_clock::now();
  sendMegabytes(link);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(TcpConnection::kSilenceLimitMs / 2));
  stopper.join();
  EXPECT_EQ(link.linkFailure(), "stopped while waiting for 127.0.0.1:" + std::to_string(stopped.port));
}

// The clocks of every shift message the client sent, in order.
uint64_t clocksSent(const std::string& received) {
  uint64_t clocks = 0;
  for (size_t at = received.find("shift:"); at != std::string::npos; at = received.find("shift:", at)) {
    uint32_t bits = 0;
    for (int i = 0; i < 4; ++i) bits |= static_cast<uint32_t>(static_cast<uint8_t>(received[at + 6 + i])) << (8 * i);
    clocks += bits;
    at += 10 + 2 * ((bits + 7) / 8);
  }
  return clocks;
}

// A stop seen while the link waits to send the middle of a long scan: the scan goes out to its
// end in Run-Test/Idle, nothing after it does, and the connection closes once the server has
// answered every shift. A capture still unanswered when the caller waits for it reads as absent.
TEST(XvcLinkTest, AStopInTheMiddleOfAScanSendsTheScanToItsEndAndNothingMore) {
  ScriptedXvcServer server("xvcServer_v1.0:2048\n", ScriptedXvcServer::Behaviour::PauseAtFirstShift);
  constexpr uint32_t kBits = 40u << 20;  // 10 MiB of vectors: more than the socket buffers take
  const std::vector<char> tdi(kBits, '1');
  std::atomic<int> stop{0};
  {
    XvcLink link("127.0.0.1", server.port);
    link.watchStopFlag(&stop);
    ASSERT_TRUE(link.grantAccess());
    std::thread stopper([&stop] {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the server is not reading
      stop = 1;
    });
    link.clockTms(0b0010, 4, false);  // Run-Test/Idle to Shift-DR
    uint8_t tdo = 0;
    link.shiftBits(tdi.data(), kBits - 1, false, {&tdo, kBits - 2, 1});  // its last bit, not sent yet
    stopper.join();
    link.flush();
    EXPECT_EQ(tdo, 0xFF);
    link.shiftBits(tdi.data(), 1, true, {});
    link.clockTms(0b01, 2, false);  // Update-DR, Run-Test/Idle
    EXPECT_EQ(link.linkFailure(), "stopped while waiting for 127.0.0.1:" + std::to_string(server.port));
    EXPECT_FALSE(link.connected());
    link.clockTms(0b0010, 4, false);  // the next scan goes nowhere
    link.shiftBits(tdi.data(), 100, true, {});
    link.flush();
  }
  EXPECT_EQ(clocksSent(server.received()), 4u + kBits + 2u);
}

// A stop seen by a flush in the middle of a scan leaves that flush's short shift unanswered while
// the rest of the scan goes out as another short shift: each answer is taken as its own shift's
// (taken as one, 2 + 1 answer bytes for 9 + 3 clocks left a byte over and the link spun on it).
TEST(XvcLinkTest, TwoShortShiftsInFlightAfterAStopAreAnsweredEachAsItsOwn) {
  ScriptedXvcServer server("xvcServer_v1.0:2048\n", ScriptedXvcServer::Behaviour::PauseAtFirstShift);
  std::atomic<int> stop{0};
  {
    XvcLink link("127.0.0.1", server.port);
    link.watchStopFlag(&stop);
    ASSERT_TRUE(link.grantAccess());
    stop = 1;
    link.clockTms(0b0010, 4, false);  // Run-Test/Idle to Shift-DR
    uint8_t tdo[5] = {};
    link.shiftBits("10110", 5, false, {tdo, 0, 5});
    link.flush();
    link.shiftBits("1", 1, true, {});
    link.clockTms(0b01, 2, false);  // Update-DR, Run-Test/Idle: the scan's end
    EXPECT_EQ(link.linkFailure(), "stopped while waiting for 127.0.0.1:" + std::to_string(server.port));
    EXPECT_FALSE(link.connected());
  }
  EXPECT_EQ(clocksSent(server.received()), 4u + 5u + 1u + 2u);
}

// The greeting is one answer: its bytes coming one by one, each in time, do not stretch the limit.
TEST(XvcLinkTest, AGreetingTrickledPastTheSilenceLimitIsNoAnswer) {
  ScriptedXvcServer server("xvcServer_v1.0:2048\n", ScriptedXvcServer::Behaviour::TrickledGreeting);
  XvcLink link("127.0.0.1", server.port, 0, 400);
  link.grantAccess();
  EXPECT_EQ(link.linkFailure(), "no answer from 127.0.0.1:" + std::to_string(server.port) + " within 400 ms");
  EXPECT_FALSE(link.connected());
}

}  // namespace
}  // namespace zorv
