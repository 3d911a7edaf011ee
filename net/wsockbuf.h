// One block of a socket's send queue: data is written behind what is pending and
// removed from the front; an emptied block starts over at its beginning so it is reused.
// Owned by the socket's queue, used on the socket's thread.
#pragma once

#include <cstdint>
#include <memory>

namespace qv {

class TBuffer {
 public:
  explicit TBuffer(int Size);
  TBuffer(const TBuffer&) = delete;
  TBuffer& operator=(const TBuffer&) = delete;

  [[nodiscard]] int BufSize() const { return bufSize_; }
  // A new capacity keeps the pending bytes; it may not be below WrCount.
  void SetBufSize(int Size);
  // Copies what fits behind the pending data; returns that count (0 when full).
  int Write(const void* Data, int Len);
  // The pending bytes, or nullptr and 0.
  const std::uint8_t* Peek(int& Len) const;
  // Drops up to Len bytes from the front; returns how many.
  int Remove(int Len);

  [[nodiscard]] int WrCount() const { return wrCount_; }
  [[nodiscard]] int RdCount() const { return rdCount_; }
  [[nodiscard]] const std::uint8_t* Buf() const { return buf_.get(); }

 private:
  std::unique_ptr<std::uint8_t[]> buf_;
  int bufSize_ = 0;
  int wrCount_ = 0;
  int rdCount_ = 0;
};

}  // namespace qv
