#include "cmsis_dap/cmsis_dap_link.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>

#include "cable_choice/simulated_cmsis_dap.h"
#include "link/jtag_cable.h"
#include "sim/board.h"

namespace zorv {
namespace {

using Misbehaviour = SimulatedCmsisDap::Misbehaviour;

// A board behind the modelled probe, reached through the link.
struct ProbeRig {
  std::shared_ptr<SimulatedCmsisDap> probe;
  std::unique_ptr<CmsisDapLink> link;

  explicit ProbeRig(sim::DapProbe::Config config, uint32_t tckPeriodNs = 0) {
    probe = std::make_shared<SimulatedCmsisDap>(sim::makeBoard("chip=TQR2400,nand=none,nor=none"), config);
    link = std::make_unique<CmsisDapLink>([this](std::string&) -> std::shared_ptr<DapTransport> { return probe; },
                                          tckPeriodNs);
  }
  sim::Board& board() { return probe->board(); }
};

sim::DapProbe::Config probeOf(uint16_t packetSize, uint8_t packetCount) {
  sim::DapProbe::Config config;
  config.packetSize = packetSize;
  config.packetCount = packetCount;
  return config;
}

// Bits of a pattern no packing lines up with.
std::string pattern(size_t length) {
  std::string bits(length, '0');
  for (size_t i = 0; i < length; ++i) bits[i] = ((i * 7 + i / 13) % 3 == 0) ? '1' : '0';
  return bits;
}

// With BYPASS selected, TDO is TDI one clock late: a shift of any length comes back delayed by one
// bit, whatever packets and sequences carried it. The modelled probe refuses any packet that does
// not follow the documentation, and more packets in flight than its count.
TEST(CmsisDapLink, ShiftsOfEveryLengthComeBackWholeThroughEveryPacketShape) {
  for (const auto& [size, count] : {std::pair<uint16_t, uint8_t>{64, 1}, {64, 4}, {512, 1}, {512, 4}}) {
    for (const size_t length : {size_t{1}, size_t{63}, size_t{64}, size_t{65}, size_t{5000}}) {
      SCOPED_TRACE(std::to_string(size) + " bytes, " + std::to_string(count) + " packets, " + std::to_string(length) +
                   " clocks");
      ProbeRig rig(probeOf(size, count));
      JtagCable cable(*rig.link);
      ASSERT_TRUE(cable.grantPortAccess());
      cable.resetTap();
      cable.shiftIr("1111", 4);  // BYPASS
      const std::string in = pattern(length);
      std::string out(length, ' ');
      const uint64_t packetsBefore = rig.link->packetsSent();
      cable.shiftDrCapture(in.data(), out.data(), static_cast<int>(length));
      EXPECT_EQ(rig.link->linkFailure(), "");
      std::string expected(1, '0');
      expected.append(in, 0, length - 1);
      EXPECT_EQ(out, expected);
      // Packets are filled: a 64-byte packet carries 440 clocks, a 512-byte one 3,640 (six or
      // fifty-six full sequences and a shorter one), and the answers fit.
      const uint64_t clocksPerPacket = size == 64 ? 440 : 3640;
      EXPECT_LE(rig.link->packetsSent() - packetsBefore, (length + 2 + 5) / clocksPerPacket + 2);
    }
  }
}

// A TMS run keeps TDI at the level asked for on every clock; captures spread over many packets
// and many flushes still land each in its place, and with room for several packets the probe
// gets them before the first answer is read.
TEST(CmsisDapLink, TmsRunsHoldTdiAndCapturesLandAcrossPacketsInFlight) {
  ProbeRig rig(probeOf(64, 4));
  JtagCable cable(*rig.link);
  cable.grantPortAccess();
  cable.resetTap();
  cable.shiftIr("1111", 4);
  rig.link->clockTms(0b001, 3, false);  // Run-Test/Idle... Select-DR, Capture-DR, Shift-DR
  rig.link->clockTms(0, 20, true);      // twenty clocks in Shift-DR with TDI held high
  uint8_t first[4] = {};
  rig.link->shiftBits("\0\0\0\0", 4, false, TdoCapture{first, 0, 4});
  rig.link->flush();
  EXPECT_EQ(first[0], kTdoCaptured);  // the last TDI the run held
  EXPECT_EQ(first[1], 0);
  // Thousands of deferred one-bit captures, each in a scan of its own.
  const std::string in = pattern(3000);
  std::string raw(3000, '\x55');
  for (size_t i = 0; i < in.size(); ++i) {
    rig.link->shiftBits(&in[i], 1, false, TdoCapture{reinterpret_cast<uint8_t*>(&raw[i]), 0, 1});
    if (i % 1000 == 999) rig.link->flush();
  }
  rig.link->flush();
  for (size_t i = 1; i < in.size(); ++i) {
    ASSERT_EQ(raw[i] == static_cast<char>(kTdoCaptured), in[i - 1] == '1') << i;
  }
  EXPECT_EQ(rig.link->linkFailure(), "");
  // Four packets go out before the first answer is waited for, after every flush.
  EXPECT_EQ(rig.link->flushWaits(), 4u);
  EXPECT_LE(rig.link->windowWaits(), rig.link->packetsSent() - 4);

  // Every other clock captured: one-clock sequences, more than the 255 a command can count.
  ProbeRig large(probeOf(1024, 4));
  JtagCable cable2(*large.link);
  cable2.grantPortAccess();
  cable2.resetTap();
  cable2.shiftIr("1111", 4);
  large.link->clockTms(0b001, 3, false);
  std::string every(600, '\x55');
  for (size_t i = 0; i < every.size(); ++i) {
    uint8_t* dest = i % 2 == 0 ? reinterpret_cast<uint8_t*>(&every[i]) : nullptr;
    large.link->shiftBits(&in[i], 1, false, TdoCapture{dest, 0, 1});
  }
  large.link->flush();
  EXPECT_EQ(large.link->linkFailure(), "");
  for (size_t i = 2; i < every.size(); i += 2) {
    ASSERT_EQ(every[i] == static_cast<char>(kTdoCaptured), in[i - 1] == '1') << i;
  }
}

}  // namespace
}  // namespace zorv

namespace zorv {
namespace {

// At grantAccess the probe tells its packets and what it has; --tck becomes DAP_SWJ_Clock, whose
// answer names no rate; nTRST is pulsed through DAP_SWJ_Pins where the probe drives it, else by
// five TMS-high clocks; a probe without JTAG is refused by name; DAP_Disconnect ends it all.
TEST(CmsisDapLink, OpeningLearnsTheProbeAndClosingDisconnectsIt) {
  for (const bool trst : {true, false}) {
    SCOPED_TRACE(trst ? "nTRST wired" : "no nTRST");
    sim::DapProbe::Config config = probeOf(512, 8);
    config.trstWired = trst;
    ProbeRig rig(config, 1000);  // 1 MHz
    testing::internal::CaptureStderr();
    rig.link->grantAccess();
    EXPECT_NE(testing::internal::GetCapturedStderr().find("TCK asked at 1000000 Hz"), std::string::npos);
    EXPECT_EQ(rig.link->linkFailure(), "");
    EXPECT_EQ(rig.link->packetSize(), 512u);
    EXPECT_EQ(rig.link->packetCount(), 8);
    EXPECT_EQ(rig.probe->probe().clockHz(), 1000000u);
    EXPECT_EQ(rig.link->tckPeriodNs(), 0u);
    EXPECT_EQ(rig.link->hasTrst(), trst);
    rig.link->clockTms(0b001, 3, false);  // Run-Test/Idle... Shift-DR
    const uint64_t pulses = rig.probe->probe().trstPulses();
    rig.link->pulseTrst();
    rig.link->flush();
    EXPECT_EQ(rig.board().tapState(), sim::TapState::TestLogicReset);
    EXPECT_EQ(rig.probe->probe().trstPulses(), pulses + (trst ? 1 : 0));
    rig.link.reset();
    EXPECT_EQ(rig.probe->probe().disconnects(), 1u);
    EXPECT_FALSE(rig.probe->probe().connected());
  }
  sim::DapProbe::Config swdOnly = probeOf(64, 4);
  swdOnly.jtag = false;
  ProbeRig rig(swdOnly);
  rig.link->grantAccess();
  EXPECT_NE(rig.link->linkFailure().find("has no JTAG"), std::string::npos) << rig.link->linkFailure();
  EXPECT_FALSE(rig.link->detect());
}

// A probe that is unplugged, answers a sequence with an error status, answers short or not at all
// fails the link with that cause; every capture waiting reads as absent, nothing more is sent or
// waited for, and a probe that still listens gets its DAP_Disconnect.
TEST(CmsisDapLink, EveryProbeFaultFailsTheLinkNamingIt) {
  const std::pair<Misbehaviour, const char*> faults[] = {
      {Misbehaviour::Unplugged, "the CMSIS-DAP probe was unplugged"},
      {Misbehaviour::ErrorStatus, "the CMSIS-DAP probe answered DAP_JTAG_Sequence with error status 0xFF"},
      {Misbehaviour::ShortAnswer, "the CMSIS-DAP probe's answer to DAP_JTAG_Sequence is 56 bytes, 57 expected"},
      {Misbehaviour::Silent, "the CMSIS-DAP probe gave no answer to DAP_JTAG_Sequence within 5 s"},
  };
  for (const auto& [how, cause] : faults) {
    SCOPED_TRACE(cause);
    ProbeRig rig(probeOf(64, 4));
    std::string raw(4000, '\x55');
    {
      JtagCable cable(*rig.link);
      cable.grantPortAccess();
      rig.probe->misbehaveAfter(3, how);  // three answers into the scans
      cable.resetTap();
      cable.shiftIr("1111", 4);
      for (int i = 0; i < 4; ++i) {
        cable.shiftDrCaptureDeferred(pattern(1000).data(), 1000, 0, 1000, reinterpret_cast<uint8_t*>(&raw[i * 1000]));
      }
      cable.collectCaptures();
      // Failed, the link neither sends nor waits again until the next job opens it.
      const uint64_t transfers = rig.probe->transfers();
      cable.shiftDrCaptureDeferred(pattern(1000).data(), 1000, 0, 1000, reinterpret_cast<uint8_t*>(&raw[3000]));
      cable.collectCaptures();
      EXPECT_EQ(rig.probe->transfers(), transfers);
    }
    EXPECT_EQ(rig.link->linkFailure(), cause);
    EXPECT_EQ(raw.substr(3000), std::string(1000, '\xFF'));
    EXPECT_FALSE(rig.link->detect());
    rig.link.reset();
    // A silent probe's buffer is full of answers nobody could read: it takes no more commands.
    const bool listens = how == Misbehaviour::ErrorStatus || how == Misbehaviour::ShortAnswer;
    EXPECT_EQ(rig.probe->probe().disconnects(), listens ? 1u : 0u);
  }
}

// A stop ends the wait of a flush at once (the scans before it are whole on the wire) but never a
// wait inside a scan: a probe that answers late still gets every sequence of the scan, and its
// DAP_Disconnect at the end.
TEST(CmsisDapLink, AStopEndsAFlushWaitButNeverCutsAScan) {
  ProbeRig rig(probeOf(64, 1));
  std::atomic<int> stop{0};
  rig.link->watchStopFlag(&stop);
  {
    JtagCable cable(*rig.link);
    cable.grantPortAccess();
    cable.resetTap();
    cable.shiftIr("1111", 4);
    rig.link->flush();
    rig.probe->misbehaveAfter(0, Misbehaviour::Slow);
    stop = 1;
    const uint64_t clocks = rig.board().tckCount();
    cable.shiftDr(pattern(5000).data(), 5000);
    EXPECT_EQ(rig.link->linkFailure(), "");
    rig.link->flush();
    EXPECT_EQ(rig.link->linkFailure(), "stopped while waiting for the CMSIS-DAP probe");
    EXPECT_EQ(rig.board().tckCount(), clocks + 4 + 5000 + 2);
    EXPECT_EQ(rig.board().tapState(), sim::TapState::RunTestIdle);
  }
  rig.link.reset();  // what was still in flight is taken in, and the probe let go
  EXPECT_EQ(rig.probe->probe().disconnects(), 1u);
}

}  // namespace
}  // namespace zorv
