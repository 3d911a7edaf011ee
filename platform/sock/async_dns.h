// Name look-ups for the socket component: blocking ones, and asynchronous ones that run
// on worker threads and post their answer to a window (wParam the request handle,
// lParam MAKELONG(0, error)). Both go through a replaceable resolver, so tests can
// answer names without any packet leaving the machine.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/msg/messages.h"

namespace qv {

using WSAHANDLE = std::uintptr_t;

// What a look-up found. The worker fills it (under its lock) only when the request was
// not cancelled, before it posts the answer; the requester reads it after the answer.
struct HostEntry {
  std::string Name;
  std::vector<in_addr> Addresses;
};

// Forward: 0 and at least one IPv4 address, or a winsock code (WSAHOST_NOT_FOUND ...).
using HostResolver = std::function<int(const std::string& name, std::vector<in_addr>& out)>;
// Reverse: 0 and the name, or a winsock code.
using AddrResolver = std::function<int(const in_addr& addr, std::string& name)>;

// Replace the resolvers (an empty function restores the system's); the previous one is
// returned. Safe from any thread.
HostResolver SetHostResolver(HostResolver resolver);
AddrResolver SetAddrResolver(AddrResolver resolver);

// Blocking look-ups through the current resolvers; 0 or a winsock code.
int ResolveHostName(const std::string& name, std::vector<in_addr>& out);
int ResolveHostAddr(const in_addr& addr, std::string& name);

// Starts a look-up; 0 (and WSAGetLastError) when it cannot start.
WSAHANDLE WSAAsyncGetHostByName(HWND hwnd, UINT message, const std::string& name,
                                std::shared_ptr<HostEntry> result);
WSAHANDLE WSAAsyncGetHostByAddr(HWND hwnd, UINT message, const in_addr& addr,
                                std::shared_ptr<HostEntry> result);
// Drops a pending look-up: its answer is neither stored nor posted. SOCKET_ERROR with
// WSAEINVAL when the handle is unknown or already answered.
int WSACancelAsyncRequest(WSAHANDLE handle);

}  // namespace qv
