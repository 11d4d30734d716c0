#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "cmsis_dap/dap_sequence_packer.h"
#include "cmsis_dap/dap_transport.h"
#include "link/jtag_link.h"

namespace zorv {

// The link as a CMSIS-DAP probe in JTAG mode. At grantAccess the probe is opened and asked for
// its packet size, packet count and capabilities (a probe without JTAG is refused), connected
// in JTAG mode, given the --tck rate and tried for nTRST. Every TMS run and data shift becomes
// DAP_JTAG_Sequence commands that fill the probe's packets; up to its packet count of them are
// in flight before the first answer is read, and the TDO bits asked for come back with their
// answers, at the latest at flush(). A probe that is unplugged, answers with an error status or
// out of step, answers short or not at all fails the link with the cause named; captures then
// read 0xFF. DAP_Disconnect goes out when the link closes, also after a stop or a failure,
// wherever the probe still listens.
class CmsisDapLink : public JtagLink {
 public:
  // tckPeriodNs 0 leaves the probe at its own rate.
  explicit CmsisDapLink(DapOpener opener, uint32_t tckPeriodNs = 0);
  ~CmsisDapLink() override;
  CmsisDapLink(const CmsisDapLink&) = delete;
  CmsisDapLink& operator=(const CmsisDapLink&) = delete;

  // Opens and connects the probe unless it is connected and working. Always true: a probe that
  // cannot be opened shows as a cable that does not answer, its cause in linkFailure().
  bool grantAccess() override;
  // Disconnects and closes the probe at a job's end, for another program to open.
  void release() override { close(); }
  bool detect() override { return live(); }
  void clockTms(uint32_t tmsBits, int count, bool tdi) override;
  void shiftBits(const char* tdi, uint32_t length, bool exitOnLast, const TdoCapture& capture) override;
  void flush() override;
  // Every flush is a USB round trip: reads are worth gathering into runs.
  bool answersLate() const override { return true; }
  // A USB round trip per poll costs less than a write buffer's worst-case wait.
  bool pollsCheaply() const override { return true; }
  // Whether the probe showed, when it was connected, that it drives nTRST (the pin read back low
  // while asserted and high once released); without it a pulse is five TMS-high clocks.
  bool hasTrst() const override { return hasTrst_; }
  void pulseTrst() override;
  bool setsTckPeriod() const override { return true; }
  // DAP_SWJ_Clock asks for a highest rate and its answer carries only a status: the period the
  // probe runs is never known.
  uint32_t tckPeriodNs() const override { return 0; }

  // What the probe reported (0 while not connected), and what crossed the USB.
  size_t packetSize() const { return packetSize_; }
  int packetCount() const { return packetCount_; }
  uint64_t packetsSent() const { return packetsSent_; }
  uint64_t answersRead() const { return answersRead_; }
  // Flushes that waited for answers (each a blocking round trip), and answers waited for before a
  // packet could go out because the probe's packets were all in flight.
  uint64_t flushWaits() const { return flushWaits_; }
  uint64_t windowWaits() const { return windowWaits_; }

  // The largest packet the link fills, whatever the probe reports.
  static constexpr size_t kMaxPacketBytes = 16384;
  static constexpr int kAnswerLimitMs = 5000;

 private:
  struct Capture {
    uint8_t* dest;
    uint32_t tdoBit;
  };
  struct InFlight {
    uint8_t command;
    size_t answerLength;
    uint64_t capturesEnd;  // the captures this answer resolves end here
    uint32_t clocks;
  };

  // Open and not failed; asked on every clock.
  bool live() const { return live_; }
  void connect();
  // One command and its answer, before any scan; false when the link failed.
  bool exchange(const uint8_t* command, size_t length, size_t answerLength);
  bool info(uint8_t id, size_t bytes, uint32_t& value);
  void addClock(bool tms, bool tdi, uint8_t* capture);
  // Sends the command being packed.
  void sendPacked();
  // Sends a command, first waiting for the oldest answer while the probe's packets are all in
  // flight.
  bool sendCommand(const uint8_t* command, size_t length, size_t answerLength, uint32_t clocks);
  // Waits for the oldest answer in flight and hands its TDO to the captures. A stop ends the wait
  // only where stopMayEnd (a flush: the scans before it are whole on the wire).
  bool readAnswer(bool stopMayEnd);
  void fail(const std::string& cause);
  // Waits for what is still in flight, without looking at it, and disconnects the probe.
  void close();

  DapOpener opener_;
  uint32_t tckPeriodNs_;
  std::shared_ptr<DapTransport> transport_;
  bool live_ = false;
  bool transportBroken_ = false;  // the probe no longer listens: nothing more is sent
  size_t packetSize_ = 0;
  int packetCount_ = 0;
  bool hasTrst_ = false;
  std::unique_ptr<dap::SequencePacker> packerStorage_;
  dap::SequencePacker* packer_ = nullptr;  // packerStorage_, taken once for the path of every clock
  std::unique_ptr<uint8_t[]> answer_;

  static constexpr size_t kMaxCaptures = 65536;
  static constexpr int kMaxInFlight = 256;
  std::unique_ptr<Capture[]> captureStorage_;
  Capture* captures_;
  uint64_t capturesQueued_ = 0;
  uint64_t capturesDone_ = 0;
  InFlight inFlight_[kMaxInFlight] = {};
  int oldest_ = 0;
  int inFlightCount_ = 0;

  uint64_t packetsSent_ = 0;
  uint64_t answersRead_ = 0;
  uint64_t flushWaits_ = 0;
  uint64_t windowWaits_ = 0;
};

}  // namespace zorv
