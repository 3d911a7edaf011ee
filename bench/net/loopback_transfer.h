// A listening socket component and a client connected to it on 127.0.0.1, both served by
// this thread's message queue; the accepted end counts the bytes it receives. Used by the
// transfer benchmark.
#pragma once

#include <cstddef>
#include <memory>

#include "net/wsocket.h"

namespace qv::test {

struct LoopbackTransfer {
  // Listens and starts connecting; pump messages until Ready().
  LoopbackTransfer() {
    server.SetAddr("127.0.0.1");
    server.SetPort("0");
    server.OnSessionAvailable = [this](TCustomWSocket* s, std::uint16_t) {
      peer = std::make_unique<TWSocket>();
      peer->OnDataAvailable = [this](TCustomWSocket* p, std::uint16_t) {
        char buf[65536];
        const int n = p->Receive(buf, sizeof buf);
        if (n > 0) received += std::size_t(n);
      };
      peer->Dup(s->Accept());
    };
    server.Listen();
    client.OnSessionConnected = [this](TCustomWSocket*, std::uint16_t e) { connected = e == 0; };
    client.BufSize = 65536;
    client.SetAddr("127.0.0.1");
    client.SetPort(server.GetXPort());
    client.Connect();
  }
  LoopbackTransfer(const LoopbackTransfer&) = delete;
  LoopbackTransfer& operator=(const LoopbackTransfer&) = delete;

  [[nodiscard]] bool Ready() const { return connected && peer != nullptr; }

  TWSocket server;
  std::unique_ptr<TWSocket> peer;  // the accepted end
  std::size_t received = 0;        // bytes `peer` has taken
  TWSocket client;
  bool connected = false;
};

}  // namespace qv::test
