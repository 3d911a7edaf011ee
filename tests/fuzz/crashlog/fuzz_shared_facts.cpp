// Any bytes as a module's shared object under /dev/shm: the first byte picks the kind
// ("MODULE" options or "EXCEPT" facts, bit 0) and whether the object is open to others
// (bit 1); the rest is the object itself, its size field included. An object others could
// have written is never read; the facts are taken at most once; options that load can be
// published and load again the same.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "crashlog/module_options.h"
#include "crashlog/shared_facts.h"
#include "platform/base/streams.h"

namespace {

// A handle that no module of this process has.
constexpr uintptr_t kHandle = 0xF0220000;

void Put(const std::string& name, const std::uint8_t* data, std::size_t size, mode_t mode) {
  ::shm_unlink(name.c_str());
  const int fd = ::shm_open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) std::abort();
  if (size > 0 && ::write(fd, data, size) != ssize_t(size)) std::abort();
  if (::fchmod(fd, mode) != 0) std::abort();
  ::close(fd);
}

std::string Saved(const qv::TOstrelModuleOptions& options) {
  qv::TMemoryStream stream;
  options.SaveToStream(stream);
  const auto& bytes = stream.Bytes();
  return std::string(bytes.begin(), bytes.end());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const bool facts = data[0] & 1;
  const bool open = data[0] & 2;
  const std::string name = qv::SharedMappingName(facts ? "EXCEPT" : "MODULE", ::getpid(), kHandle);
  Put(name, data + 1, size - 1, open ? 0666 : 0600);
  if (facts) {
    std::string class_name, message;
    const bool taken = qv::TakeExceptionFacts(kHandle, class_name, message);
    if (taken && open) std::abort();
    if (taken && qv::TakeExceptionFacts(kHandle, class_name, message)) std::abort();
  } else {
    qv::TOstrelModuleOptions options;
    const std::string untouched = Saved(options);
    const bool loaded = qv::LoadSharedModuleOptions(kHandle, options);
    if (open && qv::ModuleHasSharedOptions(kHandle)) std::abort();
    if (open && (loaded || Saved(options) != untouched)) std::abort();
    if (loaded) {
      ::shm_unlink(name.c_str());
      qv::PublishModuleOptions(kHandle, options);
      qv::TOstrelModuleOptions again;
      if (!qv::LoadSharedModuleOptions(kHandle, again) || Saved(again) != Saved(options))
        std::abort();
    }
  }
  ::shm_unlink(name.c_str());
  return 0;
}
