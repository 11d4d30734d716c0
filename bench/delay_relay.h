#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace zorv::bench {

// A loopback TCP relay in front of a server that holds every chunk it carries for a fixed delay
// in each direction, as a network with that one-way latency would. Each blocking round trip a
// client makes then costs twice the delay in wall time, so the time difference between a run
// with and one without delay counts the round trips a job really waits for. One client.
class DelayRelay {
 public:
  DelayRelay(uint16_t serverPort, int delayMs) : serverPort_(serverPort), delay_(delayMs) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(listenFd_, 1) != 0 ||
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      throw std::runtime_error("relay cannot listen");
    }
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { acceptOne(); });
  }
  ~DelayRelay() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    changed_.notify_all();
    ::shutdown(listenFd_, SHUT_RDWR);
    acceptor_.join();
    for (std::thread& t : pumps_) t.join();
    for (int fd : {listenFd_, clientFd_, serverFd_}) {
      if (fd >= 0) ::close(fd);
    }
  }
  DelayRelay(const DelayRelay&) = delete;
  DelayRelay& operator=(const DelayRelay&) = delete;

  uint16_t port() const { return port_; }
  // How long a chunk was held on average, in ms, waking late included: what one direction of a
  // round trip really cost.
  double meanHoldMs() {
    std::lock_guard<std::mutex> lock(mutex_);
    return chunks_ == 0 ? 0 : heldSeconds_ * 1e3 / static_cast<double>(chunks_);
  }

 private:
  using Clock = std::chrono::steady_clock;
  struct Chunk {
    Clock::time_point due;
    std::vector<char> bytes;  // empty: the sender closed its side
  };
  struct Direction {
    int from = -1;
    int to = -1;
    std::deque<Chunk> queue;
  };

  static void noDelay(int fd) {
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  }

  void acceptOne() {
    clientFd_ = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (clientFd_ < 0) return;
    serverFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(serverPort_);
    if (::connect(serverFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return;
    noDelay(clientFd_);
    noDelay(serverFd_);
    up_.from = clientFd_;
    up_.to = serverFd_;
    down_.from = serverFd_;
    down_.to = clientFd_;
    for (Direction* d : {&up_, &down_}) {
      pumps_.emplace_back([this, d] { receive(*d); });
      pumps_.emplace_back([this, d] { deliver(*d); });
    }
  }

  void receive(Direction& d) {
    std::vector<char> buffer(1 << 16);
    for (;;) {
      pollfd waiting{d.from, POLLIN, 0};
      if (::poll(&waiting, 1, 50) == 0) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_) return;
        continue;
      }
      const ssize_t got = ::recv(d.from, buffer.data(), buffer.size(), 0);
      std::lock_guard<std::mutex> lock(mutex_);
      Chunk chunk{Clock::now() + delay_, {}};
      if (got > 0) chunk.bytes.assign(buffer.data(), buffer.data() + got);
      d.queue.push_back(std::move(chunk));
      changed_.notify_all();
      if (got <= 0) return;
    }
  }

  void deliver(Direction& d) {
    ::prctl(PR_SET_TIMERSLACK, 1UL);  // wake on time, not up to 50 us late
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      changed_.wait(lock, [&] { return stopping_ || !d.queue.empty(); });
      if (d.queue.empty()) return;
      Chunk chunk = std::move(d.queue.front());
      d.queue.pop_front();
      lock.unlock();
      std::this_thread::sleep_until(chunk.due);
      const double held = std::chrono::duration<double>(Clock::now() - (chunk.due - delay_)).count();
      if (chunk.bytes.empty()) {
        ::shutdown(d.to, SHUT_WR);
        return;
      }
      size_t sent = 0;
      while (sent < chunk.bytes.size()) {
        const ssize_t n = ::send(d.to, chunk.bytes.data() + sent, chunk.bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return;
        sent += static_cast<size_t>(n);
      }
      lock.lock();
      heldSeconds_ += held;
      ++chunks_;
    }
  }

  uint16_t serverPort_;
  std::chrono::milliseconds delay_;
  int listenFd_ = -1;
  int clientFd_ = -1;
  int serverFd_ = -1;
  uint16_t port_ = 0;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool stopping_ = false;
  double heldSeconds_ = 0;
  uint64_t chunks_ = 0;
  Direction up_;
  Direction down_;
  std::thread acceptor_;
  std::vector<std::thread> pumps_;
};

}  // namespace zorv::bench
