#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "cable/port_io.h"

namespace zorv {

// The cable as a remote_bitbang client over TCP: each data-port byte becomes the protocol's pin
// commands, each status read an 'R' whose answer lands on bit 6. Writes wait in a fixed buffer
// and deferred reads are collected by flush() in one round trip, so a plain scan costs no round
// trip and a capturing scan exactly one. While no server answers, the port answers as absent.
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
  void readDeferred(uint16_t port, uint8_t* dest) override;
  void flush() override;

  bool connected() const { return fd_ >= 0; }
  // Times the port has waited for the server's answers.
  uint64_t roundTrips() const { return roundTrips_; }

 private:
  bool connect();
  void disconnect();
  bool sendAll(const char* data, size_t length);
  void sendBuffered();
  void failPendingReads();

  static constexpr size_t kBufferSize = 16384;
  static constexpr size_t kMaxPendingReads = 4096;

  std::string host_;
  uint16_t tcpPort_;
  int fd_ = -1;
  uint64_t roundTrips_ = 0;

  uint8_t lastData_ = 0xFF;
  bool trstSent_ = false;  // false: the next data byte states nTRST whatever the previous one was

  char out_[kBufferSize];
  size_t outLength_ = 0;
  uint8_t* pending_[kMaxPendingReads];
  size_t pendingCount_ = 0;
};

}  // namespace zorv
