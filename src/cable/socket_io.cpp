#include "cable/socket_io.h"

#include <cstring>

#ifndef _WIN32
#include <fcntl.h>
#endif

namespace zorv::net {

#ifdef _WIN32

namespace {

// Winsock answers nothing until started; once per process, before any socket or name look-up.
struct WinsockStart {
  WinsockStart() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
  }
  ~WinsockStart() { WSACleanup(); }
};
const WinsockStart winsockStart;

SOCKET handle(int fd) { return static_cast<SOCKET>(fd); }

}  // namespace

// Socket handles are kernel handles, whose values Windows keeps within 32 bits.
int openSocket(int family, int type, int protocol) {
  const SOCKET s = ::WSASocketW(family, type, protocol, nullptr, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET) return -1;
  u_long on = 1;
  ::ioctlsocket(s, static_cast<long>(FIONBIO), &on);
  return static_cast<int>(s);
}

void closeSocket(int fd) { ::closesocket(handle(fd)); }

int connectSocket(int fd, const sockaddr* address, size_t length) {
  if (::connect(handle(fd), address, static_cast<int>(length)) == 0) return 0;
  // A non-blocking connect under way is a "would block" in Winsock.
  if (WSAGetLastError() == WSAEWOULDBLOCK) WSASetLastError(WSAEINPROGRESS);
  return -1;
}

int connectError(int fd) {
  int error = 0;
  int length = sizeof error;
  ::getsockopt(handle(fd), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length);
  if (error == 0) return 0;
  WSASetLastError(error);
  return lastError();
}

int acceptClient(int listenFd) {
  const SOCKET s = ::accept(handle(listenFd), nullptr, nullptr);
  return s == INVALID_SOCKET ? -1 : static_cast<int>(s);
}

void setNoDelay(int fd) {
  const BOOL on = TRUE;
  ::setsockopt(handle(fd), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
}

// Winsock's SO_REUSEADDR would let another program take the port from under the server; its
// default already allows a quick restart.
void setReuseAddress(int) {}

ssize_t sendSome(int fd, const void* data, size_t length, int flags) {
  const int chunk = length > 0x40000000 ? 0x40000000 : static_cast<int>(length);
  return ::send(handle(fd), static_cast<const char*>(data), chunk, flags);
}

ssize_t receiveSome(int fd, void* data, size_t length, int flags) {
  const int chunk = length > 0x40000000 ? 0x40000000 : static_cast<int>(length);
  return ::recv(handle(fd), static_cast<char*>(data), chunk, flags);
}

int pollSocket(int fd, short events, int timeoutMs, short* revents) {
  WSAPOLLFD entry{handle(fd), events, 0};
  const int ready = ::WSAPoll(&entry, 1, timeoutMs);
  if (revents != nullptr) *revents = entry.revents;
  return ready < 0 ? -1 : (ready > 0 ? 1 : 0);
}

int lastError() {
  switch (WSAGetLastError()) {
    case WSAEWOULDBLOCK: return EWOULDBLOCK;
    case WSAEINPROGRESS: return EINPROGRESS;
    case WSAEINTR: return EINTR;
    case WSAECONNREFUSED: return ECONNREFUSED;
    case WSAECONNRESET: return ECONNRESET;
    case WSAETIMEDOUT: return ETIMEDOUT;
    case WSAEHOSTUNREACH: return EHOSTUNREACH;
    case WSAENETUNREACH: return ENETUNREACH;
    case WSAEADDRINUSE: return EADDRINUSE;
    case WSAEACCES: return EACCES;
    default: return EIO;
  }
}

#else

int openSocket(int family, int type, int protocol) {
  return ::socket(family, type | SOCK_CLOEXEC | SOCK_NONBLOCK, protocol);
}

void closeSocket(int fd) { ::close(fd); }

int connectSocket(int fd, const sockaddr* address, size_t length) {
  return ::connect(fd, address, static_cast<socklen_t>(length));
}

int connectError(int fd) {
  int error = 0;
  socklen_t length = sizeof error;
  ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
  return error;
}

int acceptClient(int listenFd) { return ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC); }

void setNoDelay(int fd) {
  const int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

void setReuseAddress(int fd) {
  const int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
}

ssize_t sendSome(int fd, const void* data, size_t length, int flags) { return ::send(fd, data, length, flags); }

ssize_t receiveSome(int fd, void* data, size_t length, int flags) { return ::recv(fd, data, length, flags); }

int pollSocket(int fd, short events, int timeoutMs, short* revents) {
  pollfd entry{fd, events, 0};
  const int ready = ::poll(&entry, 1, timeoutMs);
  if (revents != nullptr) *revents = entry.revents;
  return ready;
}

int lastError() { return errno; }

#endif

std::string errorText(int error) {
  switch (error) {
    case ECONNREFUSED: return "Connection refused";
    case ETIMEDOUT: return "Connection timed out";
    case ECONNRESET: return "Connection reset by peer";
    case EHOSTUNREACH: return "No route to host";
    case ENETUNREACH: return "Network is unreachable";
    case EADDRNOTAVAIL: return "Cannot assign requested address";
    default: return std::strerror(error);
  }
}

}  // namespace zorv::net
