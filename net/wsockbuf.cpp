#include "net/wsockbuf.h"

#include <algorithm>
#include <cassert>
#include <cstring>

namespace qv {

TBuffer::TBuffer(int Size) {
  SetBufSize(Size);
}

void TBuffer::SetBufSize(int Size) {
  if (Size <= 0) Size = 1514;
  if (Size == bufSize_) return;
  assert(Size >= wrCount_ && "TBuffer: capacity below the pending data");
  auto block = std::make_unique<std::uint8_t[]>(std::size_t(Size));
  if (wrCount_ > 0) std::memcpy(block.get(), buf_.get(), std::size_t(wrCount_));
  buf_ = std::move(block);
  bufSize_ = Size;
}

int TBuffer::Write(const void* Data, int Len) {
  const int n = std::max(0, std::min(Len, bufSize_ - wrCount_));
  if (n > 0) std::memcpy(buf_.get() + wrCount_, Data, std::size_t(n));
  wrCount_ += n;
  return n;
}

const std::uint8_t* TBuffer::Peek(int& Len) const {
  Len = wrCount_ - rdCount_;
  if (Len <= 0) {
    Len = 0;
    return nullptr;
  }
  return buf_.get() + rdCount_;
}

int TBuffer::Remove(int Len) {
  const int n = std::max(0, std::min(Len, wrCount_ - rdCount_));
  rdCount_ += n;
  if (rdCount_ >= wrCount_) rdCount_ = wrCount_ = 0;
  return n;
}

}  // namespace qv
