#pragma once

// TCP sockets the same way on POSIX and on Windows (Winsock), for the remote cables and the
// virtual board's servers. A socket is an int on both; every socket opened here is non-blocking
// and closed on exec, and sending never raises SIGPIPE.

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstddef>
#include <string>
#include <sys/types.h>

namespace zorv::net {

// Flags for send and recv that never wait. Winsock has no such flag; its sockets are all made
// non-blocking when opened instead.
#ifdef _WIN32
inline constexpr int kNoWait = 0;
inline constexpr int kNoSignal = 0;
#else
inline constexpr int kNoWait = MSG_DONTWAIT;
inline constexpr int kNoSignal = MSG_NOSIGNAL;
#endif

// -1 on failure, with the cause in lastError().
int openSocket(int family, int type, int protocol);
void closeSocket(int fd);
// 0 when connected; -1 with lastError() EINPROGRESS while a connection is under way.
int connectSocket(int fd, const sockaddr* address, size_t length);
// The outcome of a connection that was under way: 0 or the errno-style cause.
int connectError(int fd);
int acceptClient(int listenFd);
void setNoDelay(int fd);
void setReuseAddress(int fd);

ssize_t sendSome(int fd, const void* data, size_t length, int flags);
ssize_t receiveSome(int fd, void* data, size_t length, int flags);

// Waits up to timeoutMs (-1: for good) for events on fd; 1 ready (revents set when given), 0 none,
// -1 failed.
int pollSocket(int fd, short events, int timeoutMs, short* revents = nullptr);

// The cause of the last failed socket call, as an errno value (EWOULDBLOCK, EINPROGRESS, EINTR and
// the connection errors keep their POSIX names on Windows too).
int lastError();
// The words for such a cause, the same on every system (the Windows C library has none for the
// socket errors).
std::string errorText(int error);

}  // namespace zorv::net
