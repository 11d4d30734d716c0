#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "cable/port_io.h"

namespace zorv {

// The cable as a remote_bitbang client over TCP: each data-port byte becomes the protocol's pin
// commands, each status read an 'R' whose answer lands on bit 6. Writes wait in a fixed buffer
// and deferred reads are collected by flush(), so a plain scan costs no round trip and any number
// of capturing scans between two flushes exactly one; answers that arrive while commands are still
// being sent are taken in on the way. While no server answers, the port answers as absent; a link
// that fails mid-job (lost, silent, or answering outside the protocol) is kept in linkFailure().
class RemoteBitbangPort : public PortIo {
 public:
  RemoteBitbangPort(std::string host, uint16_t tcpPort);
  ~RemoteBitbangPort() override;
  RemoteBitbangPort(const RemoteBitbangPort&) = delete;
  RemoteBitbangPort& operator=(const RemoteBitbangPort&) = delete;

  // Connects when not connected (again, if the server went away since). Always true: a server
  // that cannot be reached shows as a port that does not answer, which the presence test reports.
  bool grantAccess() override;
  void write(uint16_t port, uint8_t value) override;
  uint8_t read(uint16_t port) override;
  // dest may be null: the read is still made, its answer is dropped.
  void readDeferred(uint16_t port, uint8_t* dest) override;
  void flush() override;

  bool connected() const { return fd_ >= 0; }
  // Times the port has waited for the server's answers.
  uint64_t roundTrips() const { return roundTrips_; }

  // How long a server may stay silent while answers are owed before the link counts as lost.
  static constexpr int kReplyTimeoutMs = 5000;

 private:
  // Answers still owed: `skipped` dropped ones, then `length` kept ones for dest[0..length).
  struct PendingRun {
    uint8_t* dest;
    uint32_t length;
    uint32_t skipped;
  };

  enum class Fault { Lost, OutsideProtocol, Silent, Stopped };

  bool connect();
  void disconnect();
  // Keeps the cause and answers as absent from here on.
  void fail(Fault fault);
  bool sendAll(const char* data, size_t length);
  void sendBuffered();
  // Takes in whatever answers have arrived; false when the link failed meanwhile.
  bool receiveAvailable();
  bool acceptAnswers(const char* data, size_t length);
  void failPendingReads();
  std::string where() const;

  static constexpr size_t kBufferSize = 16384;
  static constexpr size_t kMaxPendingRuns = 4096;

  std::string host_;
  uint16_t tcpPort_;
  int fd_ = -1;
  uint64_t roundTrips_ = 0;

  uint8_t lastData_ = 0xFF;
  bool trstSent_ = false;  // false: the next data byte states nTRST whatever the previous one was

  char out_[kBufferSize];
  size_t outLength_ = 0;
  PendingRun pending_[kMaxPendingRuns];
  size_t pendingHead_ = 0;
  size_t pendingCount_ = 0;
  uint64_t owed_ = 0;         // answers asked for and not yet received
  uint32_t skippedTail_ = 0;  // dropped answers asked for after the last run
};

}  // namespace zorv
