// A loaded module's file as the logger reads it: its ELF section headers and names, the
// logger data section or the older block at the file's end, the version section, and what
// the block then holds. A user can name any file as a module's library, so whatever the
// bytes, reading ends without a fault, a hang or an unbounded allocation.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "crashlog/call_stack.h"
#include "crashlog/debug_info.h"

namespace {

// The input as a file of this process (opened by name, as a module's file is).
const std::string& InputFile(const uint8_t* data, size_t size) {
  static const int fd = ::memfd_create("module", MFD_CLOEXEC);
  static const std::string path = "/proc/self/fd/" + std::to_string(fd);
  if (fd < 0 || ::ftruncate(fd, 0) != 0 || ::pwrite(fd, data, size, 0) != ssize_t(size))
    __builtin_trap();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& path = InputFile(data, size);
  (void)qv::IsOstrelLogModule(path, nullptr);
  (void)qv::IsOstrelLogModule_Old(path, nullptr);
  (void)qv::GetModuleDescription(path);
  std::vector<uint8_t> block;
  for (const bool old_only : {false, true}) {
    bool old_form = false;
    if (!qv::ReadLoggerBlock(path, block, old_form, old_only)) continue;
    // As a module's data is loaded (its line tables left packed), then unpacked whole.
    qv::TOstrelLoggerData logger;
    qv::TOstrelModuleOptions options;
    if (!qv::ParseLoggerHead(block.data(), block.size(), logger, options, old_form)) continue;
    qv::TOstrelModuleEntry module;
    module.data_version = logger.data_version;
    module.debug = logger.debug;
    module.packed = logger.packed;
    (void)qv::FindDebugProcAddress(module.debug, module.data_version, 0, "Main.Go");
    (void)qv::UnpackedDebugStream(module);
    if (!qv::ParseLoggerData(block.data(), block.size(), logger, options, old_form)) continue;
    const auto index = qv::BuildLineIndex(logger.debug, logger.data_version);
    qv::TOstrelStackEntry entry;
    for (uintptr_t address : {0x1000u, 0x1104u, 0x2000u})
      (void)qv::FindSourceLocation(logger.debug, logger.data_version, 0, address, entry,
                                   index.get());
  }
  return 0;
}
