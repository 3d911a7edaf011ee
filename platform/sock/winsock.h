// Winsock-shaped sockets over non-blocking POSIX sockets, for the socket component.
// Calls keep the winsock names and conventions: SOCKET_ERROR plus a per-thread
// WSAGetLastError() with the Windows codes; WSAAsyncSelect turns readiness into messages
// posted to a window, with the Windows re-enabling rules (FD_READ again only after the
// next recv, FD_WRITE only after a send that would have blocked, FD_ACCEPT after accept,
// FD_CONNECT and FD_CLOSE once). Closing a socket drops its notifications still queued,
// and SOCKET values are handles that are never reused. A socket is used by the thread
// that registered it with WSAAsyncSelect.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/msg/messages.h"

namespace qv {

enum class SOCKET : std::intptr_t {};
inline constexpr SOCKET INVALID_SOCKET = SOCKET(-1);
inline constexpr int SOCKET_ERROR = -1;

inline constexpr long FD_READ = 1;
inline constexpr long FD_WRITE = 2;
inline constexpr long FD_OOB = 4;
inline constexpr long FD_ACCEPT = 8;
inline constexpr long FD_CONNECT = 16;
inline constexpr long FD_CLOSE = 32;

inline constexpr long FIONREAD_ = 0x4004667F;  // winsock's FIONREAD, for ioctlsocket
inline constexpr long FIONBIO_ = 0x8004667E;
inline constexpr unsigned long SIO_RCVALL = 0x98000001;

inline constexpr int WSAEINTR = 10004;
inline constexpr int WSAEBADF = 10009;
inline constexpr int WSAEACCES = 10013;
inline constexpr int WSAEFAULT = 10014;
inline constexpr int WSAEINVAL = 10022;
inline constexpr int WSAEMFILE = 10024;
inline constexpr int WSAEWOULDBLOCK = 10035;
inline constexpr int WSAEINPROGRESS = 10036;
inline constexpr int WSAEALREADY = 10037;
inline constexpr int WSAENOTSOCK = 10038;
inline constexpr int WSAEDESTADDRREQ = 10039;
inline constexpr int WSAEMSGSIZE = 10040;
inline constexpr int WSAEPROTOTYPE = 10041;
inline constexpr int WSAENOPROTOOPT = 10042;
inline constexpr int WSAEPROTONOSUPPORT = 10043;
inline constexpr int WSAESOCKTNOSUPPORT = 10044;
inline constexpr int WSAEOPNOTSUPP = 10045;
inline constexpr int WSAEPFNOSUPPORT = 10046;
inline constexpr int WSAEAFNOSUPPORT = 10047;
inline constexpr int WSAEADDRINUSE = 10048;
inline constexpr int WSAEADDRNOTAVAIL = 10049;
inline constexpr int WSAENETDOWN = 10050;
inline constexpr int WSAENETUNREACH = 10051;
inline constexpr int WSAENETRESET = 10052;
inline constexpr int WSAECONNABORTED = 10053;
inline constexpr int WSAECONNRESET = 10054;
inline constexpr int WSAENOBUFS = 10055;
inline constexpr int WSAEISCONN = 10056;
inline constexpr int WSAENOTCONN = 10057;
inline constexpr int WSAESHUTDOWN = 10058;
inline constexpr int WSAETOOMANYREFS = 10059;
inline constexpr int WSAETIMEDOUT = 10060;
inline constexpr int WSAECONNREFUSED = 10061;
inline constexpr int WSAELOOP = 10062;
inline constexpr int WSAENAMETOOLONG = 10063;
inline constexpr int WSAEHOSTDOWN = 10064;
inline constexpr int WSAEHOSTUNREACH = 10065;
inline constexpr int WSANOTINITIALISED = 10093;
inline constexpr int WSAHOST_NOT_FOUND = 11001;
inline constexpr int WSATRY_AGAIN = 11002;
inline constexpr int WSANO_RECOVERY = 11003;
inline constexpr int WSANO_DATA = 11004;

int WSAGetLastError();
void WSASetLastError(int code);
// The raw errno behind the last WSAEINVAL that stood for an errno without a winsock code.
int WSAGetLastErrno();

// errno (and getaddrinfo results) to winsock codes; anything unknown is WSAEINVAL.
int WSAErrorFromErrno(int err);
int WSAErrorFromGai(int gaiResult, int err);

// Library state: a use count with a loaded flag. Calls made while not started fail with
// WSANOTINITIALISED.
int WSAStartup(std::uint16_t versionRequested);
int WSACleanup();
[[nodiscard]] bool WSAIsStarted();

// Socket calls. Sockets are non-blocking and close-on-exec; sends never raise SIGPIPE.
SOCKET socket(int af, int type, int protocol);
int closesocket(SOCKET s);
int bind(SOCKET s, const sockaddr* addr, socklen_t len);
int listen(SOCKET s, int backlog);
SOCKET accept(SOCKET s, sockaddr* addr, socklen_t* len);
// A connect in progress fails with WSAEWOULDBLOCK, as on Windows.
int connect(SOCKET s, const sockaddr* addr, socklen_t len);
int send(SOCKET s, const void* buf, int len, int flags);
int sendto(SOCKET s, const void* buf, int len, int flags, const sockaddr* to, socklen_t tolen);
int recv(SOCKET s, void* buf, int len, int flags);
int recvfrom(SOCKET s, void* buf, int len, int flags, sockaddr* from, socklen_t* fromlen);
int shutdown(SOCKET s, int how);
int setsockopt(SOCKET s, int level, int name, const void* value, socklen_t len);
int getsockname(SOCKET s, sockaddr* addr, socklen_t* len);
int getpeername(SOCKET s, sockaddr* addr, socklen_t* len);
int ioctlsocket(SOCKET s, long cmd, unsigned long* arg);
// Only SIO_RCVALL is known, and it is not supported here (WSAEOPNOTSUPP).
int WSAIoctl(SOCKET s, unsigned long code, const void* in, unsigned long inLen, void* out,
             unsigned long outLen, unsigned long* bytesReturned);
// The descriptor behind a handle, or -1.
int SocketFd(SOCKET s);

// Posts `message` to `hwnd` (wParam the socket, lParam MAKELONG(event, error)) for the
// events in `mask`. A mask of 0 stops the notifications. Must be called on the thread
// that pumps the window's queue.
int WSAAsyncSelect(SOCKET s, HWND hwnd, UINT message, long mask);

}  // namespace qv
