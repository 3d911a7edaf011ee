// Line mode and the synchronous wait of the socket component.
#include <algorithm>
#include <chrono>
#include <cstring>

#include "net/wsocket.h"
#include "platform/msg/message_queue.h"
#include "platform/msg/pump.h"

namespace qv {

TCustomLineWSocket::TCustomLineWSocket(TComponent* AOwner) : TCustomSocksWSocket(AOwner) {}
TCustomLineWSocket::~TCustomLineWSocket() = default;

void TCustomLineWSocket::SetLineMode(bool Value) {
  if (Value == lineMode_) return;
  lineMode_ = Value;
  if (rcvdCnt_ > 0 || lineLength_ > 0) {
    lineSearchFromStart_ = true;
    PostMessage(handle_, WM_TRIGGER_DATA_AVAILABLE, 0, 0);
  }
}

int TCustomLineWSocket::GetRcvdCount() {
  if (lineMode_ && !LineEnd.empty()) return lineLength_;
  if (rcvdCnt_ > 0) return int(rcvdCnt_);
  return TCustomSocksWSocket::GetRcvdCount();
}

int TCustomLineWSocket::DoRecv(void* Buffer, int Size, int Flags) {
  if (Size <= 0) return 0;
  if (lineMode_ && lineLength_ > 0) {
    const int n = std::min(Size, lineLength_);
    std::memcpy(Buffer, rcvdBuf_.data(), std::size_t(n));
    std::memmove(rcvdBuf_.data(), rcvdBuf_.data() + n, std::size_t(lineLength_ - n));
    lineLength_ -= n;
    return n;
  }
  if (!lineMode_ && rcvdCnt_ > 0) {
    const std::size_t n = std::min(std::size_t(Size), rcvdCnt_);
    std::memcpy(Buffer, rcvdBuf_.data(), n);
    std::memmove(rcvdBuf_.data(), rcvdBuf_.data() + n, rcvdCnt_ - n);
    rcvdCnt_ -= n;
    if (LineLimit <= 0 || rcvdCnt_ <= std::size_t(LineLimit)) lineDataKept_ = false;
    return int(n);
  }
  // In line mode without a complete line the bytes stay in order in the buffer.
  if (lineMode_ && !LineEnd.empty() && rcvdCnt_ > 0) return 0;
  return TCustomSocksWSocket::DoRecv(Buffer, Size, Flags);
}

int TCustomLineWSocket::SendLine(const std::string& Str) {
  if (Str.empty()) return 0;
  if (Send(Str.data(), int(Str.size())) < 0) return -1;
  if (SendStr(LineEnd) < 0) return -1;
  return int(Str.size() + LineEnd.size());
}

void TCustomLineWSocket::TriggerLineLimitExceeded(int Cnt, bool& ClearData) {
  if (OnLineLimitExceeded) OnLineLimitExceeded(this, Cnt, ClearData);
}

void TCustomLineWSocket::EditLine(int& Len) {
  // The new bytes sit behind rcvdCnt_; a backspace may reach into older ones.
  std::string out(rcvdBuf_.data(), rcvdCnt_);
  std::size_t earliest = rcvdCnt_;
  std::string echo;
  for (int i = 0; i < Len; ++i) {
    const char c = rcvdBuf_[rcvdCnt_ + std::size_t(i)];
    if (c == '\t') {
      do {
        out += ' ';
        if (LineEcho) echo += ' ';
      } while (out.size() % 8 != 0);
    } else if (c == '\b') {
      if (!out.empty()) {
        out.pop_back();
        earliest = std::min(earliest, out.size());
        if (LineEcho) echo += "\b \b";
      }
    } else {
      out += c;
      if (LineEcho) echo += c;
    }
  }
  if (rcvdBuf_.size() < out.size() + 1) rcvdBuf_.resize(out.size() + 1);
  std::memcpy(rcvdBuf_.data(), out.data(), out.size());
  rcvdCnt_ = earliest;
  Len = int(out.size() - earliest);
  if (!echo.empty()) SendStr(echo);
}

bool TCustomLineWSocket::TriggerDataAvailable(std::uint16_t Error) {
  if (!lineMode_ || LineEnd.empty() || SocksState() != 0) {
    return TCustomSocksWSocket::TriggerDataAvailable(Error);
  }
  // A kept over-long line: read nothing more until it is consumed.
  if (lineDataKept_ && LineLimit > 0 && rcvdCnt_ > std::size_t(LineLimit)) return true;
  int count = TCustomSocksWSocket::GetRcvdCount();
  if (count < 0) return true;
  if (count == 0) count = 255;
  if (LineLimit > 0) {
    // Never buffer more than one byte past the limit, whatever is waiting.
    const std::size_t room =
        std::size_t(LineLimit) + 1 - std::min(rcvdCnt_, std::size_t(LineLimit));
    count = int(std::min(std::size_t(count), room));
  }
  if (rcvdBuf_.size() < rcvdCnt_ + std::size_t(count) + 1) {
    rcvdBuf_.resize(rcvdCnt_ + std::size_t(count) + 1);
  }
  int n = TCustomSocksWSocket::DoRecv(rcvdBuf_.data() + rcvdCnt_, count, 0);
  if (n < 1) {
    if (n < 0) lastError_ = WSAGetLastError();
    if (rcvdCnt_ == 0) return true;
    n = 0;
  }
  if (n > 0) {
    if (LineEdit) {
      EditLine(n);
    } else if (LineEcho) {
      Send(rcvdBuf_.data() + rcvdCnt_, n);
    }
  }
  std::size_t start = rcvdCnt_ > LineEnd.size() ? rcvdCnt_ - LineEnd.size() : 0;
  if (lineSearchFromStart_) {
    start = 0;
    lineSearchFromStart_ = false;
  }
  rcvdCnt_ += std::size_t(n);
  rcvdBuf_[rcvdCnt_] = '\0';
  DeliverLines(start);
  if (LineLimit > 0 && rcvdCnt_ > std::size_t(LineLimit)) {
    lineClearData_ = true;
    TriggerLineLimitExceeded(int(rcvdCnt_), lineClearData_);
    if (lineClearData_) {
      rcvdCnt_ = 0;
      lineLength_ = 0;
      lineDataKept_ = false;
    } else {
      lineDataKept_ = true;
    }
  }
  return true;
}

void TCustomLineWSocket::DeliverLines(std::size_t start) {
  while (lineMode_ && rcvdCnt_ > 0) {
    const char* base = rcvdBuf_.data();
    const auto* found = std::search(base + start, base + rcvdCnt_, LineEnd.begin(), LineEnd.end());
    if (found == base + rcvdCnt_) break;
    const std::size_t end = std::size_t(found - base) + LineEnd.size();
    lineLength_ = int(end);
    lineFound_ = lineReceived_ = true;
    lineClearData_ = false;  // a cleared over-long line ends here; what follows is new
    while (lineMode_ && lineLength_ > 0) {
      const int before = lineLength_;
      if (!TCustomSocksWSocket::TriggerDataAvailable(0)) lineLength_ = 0;
      // A handler that reads nothing would get the same line forever: it is dropped.
      if (lineLength_ == before) lineLength_ = 0;
      if (hSocket_ == INVALID_SOCKET && rcvdCnt_ == 0) return;
    }
    if (rcvdCnt_ < end) return;  // the buffer was emptied by the handler (session end)
    const std::size_t rest = rcvdCnt_ - end;
    std::memmove(rcvdBuf_.data() + lineLength_, rcvdBuf_.data() + end, rest);
    rcvdCnt_ = std::size_t(lineLength_) + rest;
    lineLength_ = 0;
    rcvdBuf_[rcvdCnt_] = '\0';
    start = 0;
  }
  // After a switch out of line mode the rest goes on raw, in the same pass.
  while (!lineMode_ && rcvdCnt_ > 0) {
    const std::size_t before = rcvdCnt_;
    if (!TCustomSocksWSocket::TriggerDataAvailable(0)) {
      rcvdCnt_ = 0;
      break;
    }
    if (rcvdCnt_ == before) break;
  }
}

void TCustomLineWSocket::Redeliver() {
  int pass = 0;
  while (rcvdCnt_ > 0) {
    ++pass;
    lineReceived_ = false;
    const std::size_t before = rcvdCnt_;
    if (!lineMode_) {
      if (!TCustomSocksWSocket::TriggerDataAvailable(0)) break;
    } else {
      lineSearchFromStart_ = true;
      TriggerDataAvailable(0);
    }
    if (rcvdCnt_ == 0) break;
    if (lineMode_ && pass > 3 && !lineReceived_) break;
    if (!lineMode_ && rcvdCnt_ == before) break;
  }
  // Bytes still waiting in the socket get no new notification until something reads
  // them (a kept over-long line stopped reading): read on now.
  if (rcvdCnt_ == 0 && hSocket_ != INVALID_SOCKET && !Paused()) {
    unsigned long waiting = 0;
    if (ioctlsocket(hSocket_, FIONREAD_, &waiting) == 0 && waiting > 0) ReceiveLoop(false);
  }
}

LRESULT TCustomLineWSocket::WndProc(UINT Msg, WPARAM WParam, LPARAM LParam) {
  if (Msg != WM_TRIGGER_DATA_AVAILABLE) return TCustomSocksWSocket::WndProc(Msg, WParam, LParam);
  try {
    Redeliver();
  } catch (const std::exception& e) {
    HandleBackGroundException(e);
  }
  return 0;
}

void TCustomLineWSocket::TriggerSessionClosed(std::uint16_t Error) {
  lineFound_ = true;
  if (!rcvdBuf_.empty()) {
    if (lineMode_ && rcvdCnt_ > 0 && !lineClearData_) {
      // What is left forms a last line without its line end.
      lineLength_ = int(rcvdCnt_);
      while (lineMode_ && lineLength_ > 0) {
        const int before = lineLength_;
        if (!TCustomSocksWSocket::TriggerDataAvailable(0) || lineLength_ == before) break;
      }
    }
    rcvdBuf_.clear();
    rcvdBuf_.shrink_to_fit();
    rcvdCnt_ = 0;
    lineLength_ = 0;
    lineDataKept_ = false;
  }
  lineClearData_ = false;  // the next session starts clean
  TCustomSocksWSocket::TriggerSessionClosed(Error);
}

int TCustomSyncWSocket::Synchronize(const std::function<void()>& Proc, bool& DoneFlag) {
  DoneFlag = false;
  if (Proc) Proc();
  return WaitUntilReady(DoneFlag);
}

int TCustomSyncWSocket::WaitUntilReady(bool& DoneFlag) {
  std::optional<std::chrono::steady_clock::time_point> deadline;
  if (Timeout > 0) deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(Timeout);
  if (DoneFlag) return 0;
  if (Terminated() || qv::Terminated()) return 12001;
  const PumpResult r = PumpUntil([&DoneFlag] { return DoneFlag; }, deadline);
  return r == PumpResult::Done ? 0 : 12001;
}

}  // namespace qv
