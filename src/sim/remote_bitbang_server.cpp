#include "sim/remote_bitbang_server.h"

#include <cerrno>

#include "cable/socket_io.h"

namespace zorv::sim {
namespace {

constexpr size_t kChunk = 4096;

}  // namespace

RemoteBitbangServer::RemoteBitbangServer(PortIo& board) : board_(board) {}

void RemoteBitbangServer::serve() {
  listener_.serve([this](int fd) { serveConnection(fd); });
}

// A message is the commands up to a read ('R', which the client waits on) or kChunk commands,
// whichever comes first: each has one idle limit to arrive, from when it is awaited.
void RemoteBitbangServer::serveConnection(int fd) {
  char in[kChunk];
  char replies[kChunk];
  bool open = true;
  LoopbackListener::Deadline until = listener_.messageDeadline();
  size_t commands = 0;
  while (open && listener_.waitFor(fd, POLLIN, until)) {
    const ssize_t got = net::receiveSome(fd, in, sizeof in, 0);
    if (got < 0 && net::lastError() == EINTR) continue;
    if (got <= 0) return;
    size_t replyLength = 0;
    for (ssize_t i = 0; i < got && open; ++i) {
      open = execute(in[i], replies, replyLength);
      if (in[i] == 'R' || ++commands == kChunk) {
        until = listener_.messageDeadline();
        commands = 0;
      }
    }
    if (replyLength > 0 && !listener_.sendAll(fd, replies, replyLength, listener_.messageDeadline())) return;
  }
}

bool RemoteBitbangServer::execute(char command, char* reply, size_t& replyLength) {
  switch (command) {
    case '0': case '1': case '2': case '3': case '4': case '5': case '6': case '7':
      pins_ = static_cast<uint8_t>((pins_ & kTrst) | (command - '0'));
      board_.write(kLptDataPort, pins_);
      break;
    case 'R':
      reply[replyLength++] = (board_.read(kLptStatusPort) & kTdo) ? '1' : '0';
      break;
    case 'r':
    case 's':  // srst is not wired on the board
      pins_ |= kTrst;
      board_.write(kLptDataPort, pins_);
      break;
    case 't':
    case 'u':
      pins_ &= static_cast<uint8_t>(~kTrst);
      board_.write(kLptDataPort, pins_);
      break;
    case 'Q': return false;
    default: break;  // 'B', 'b' (the LED) and anything unknown
  }
  return true;
}

}  // namespace zorv::sim
