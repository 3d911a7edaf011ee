// Preloaded into a program by a test: before the program's own initialisation runs, waits
// until the test has written a byte into the FIFO named by QV_TEST_HOLD. The test opening
// the FIFO to write knows that the program has started and stands here.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

namespace {

[[gnu::constructor]] void HoldStart() {
  const char* fifo = std::getenv("QV_TEST_HOLD");
  if (fifo == nullptr) return;
  const int fd = ::open(fifo, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  char byte = 0;
  while (::read(fd, &byte, 1) < 0) {
  }
  ::close(fd);
}

}  // namespace
