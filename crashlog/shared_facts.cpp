#include "crashlog/shared_facts.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "crashlog/module_options.h"
#include "crashlog/trace_log.h"
#include "platform/base/streams.h"

namespace qv {
namespace {

// Larger data is not another logger's: options and two texts stay far below.
constexpr uint32_t MaxSharedData = 1u << 20;

std::mutex publish_lock;
// The names of the objects this module made, for ReleaseSharedFacts (fixed buffers: it
// may run in a signal handler).
char module_name[64];
char except_name[64];

void Remember(char (&slot)[64], const std::string& name) {
  std::lock_guard guard(publish_lock);
  std::snprintf(slot, sizeof slot, "%s", name.c_str());
}

// Whether the object is one this process can have made: a file of its own user, no larger
// than any data of ours. Anyone may create a name under /dev/shm first, with data of their
// choosing, and open it to everyone.
bool OwnObject(const struct stat& st) {
  return S_ISREG(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 077) == 0 &&
         st.st_size <= off_t(4 + MaxSharedData);
}

bool WriteAll(int fd, const uint8_t* data, std::size_t size, off_t at) {
  while (size > 0) {
    const ssize_t n = ::pwrite(fd, data, size, at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= std::size_t(n);
    at += n;
  }
  return true;
}

// Replaces the object's data. It only ever grows: a module reading it meanwhile never finds
// its end moved before the size it was told.
bool WriteObject(const std::string& name, const std::vector<uint8_t>& data) {
  if (data.size() > MaxSharedData) return false;
  const int fd = ::shm_open(name.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0 && OwnObject(st);
  const off_t needed = off_t(4 + data.size());
  if (ok && st.st_size < needed) ok = ::ftruncate(fd, needed) == 0;
  std::vector<uint8_t> all(4 + data.size());
  const auto size = uint32_t(data.size());
  std::memcpy(all.data(), &size, 4);
  if (!data.empty()) std::memcpy(all.data() + 4, data.data(), data.size());
  ok = ok && WriteAll(fd, all.data(), all.size(), 0);
  ::close(fd);
  return ok;
}

// The data of an object, bounded by its stated size and its real one.
bool ReadObject(const std::string& name, std::vector<uint8_t>& data, int* keep_fd = nullptr) {
  const int fd =
      ::shm_open(name.c_str(), (keep_fd ? O_RDWR : O_RDONLY) | O_NOFOLLOW | O_CLOEXEC, 0);
  if (fd < 0) return false;
  struct stat st {};
  uint32_t size = 0;
  bool ok = ::fstat(fd, &st) == 0 && OwnObject(st) && st.st_size >= 4 &&
            ::pread(fd, &size, 4, 0) == 4 && size <= MaxSharedData && size <= st.st_size - 4;
  if (ok) {
    data.resize(size);
    ok = size == 0 || ::pread(fd, data.data(), size, 4) == ssize_t(size);
  }
  if (ok && keep_fd != nullptr) {
    *keep_fd = fd;
  } else {
    ::close(fd);
  }
  return ok;
}

void PutText(std::vector<uint8_t>& out, std::string text) {
  // A text that ends in its only line end is stored without it.
  if (text.size() > 1 && text.find("\r\n") == text.size() - 2) text.resize(text.size() - 2);
  const auto length = uint32_t(text.size());
  const auto* bytes = reinterpret_cast<const uint8_t*>(&length);
  out.insert(out.end(), bytes, bytes + 4);
  out.insert(out.end(), text.begin(), text.end());
}

bool GetText(const std::vector<uint8_t>& in, std::size_t& at, std::string& text) {
  uint32_t length = 0;
  if (in.size() - at < 4) return false;
  std::memcpy(&length, in.data() + at, 4);
  at += 4;
  if (in.size() - at < length) return false;
  text.assign(reinterpret_cast<const char*>(in.data() + at), length);
  at += length;
  return true;
}

std::mutex published_lock;
uintptr_t published_handle = 0;
const TOstrelModuleOptions* published_options = nullptr;

}  // namespace

void SetPublishedModuleOptions(uintptr_t handle, const TOstrelModuleOptions* options) {
  {
    std::lock_guard guard(published_lock);
    published_handle = handle;
    published_options = options;
  }
  RepublishModuleOptions();
}

void RepublishModuleOptions() {
  std::lock_guard guard(published_lock);
  if (published_handle != 0 && published_options != nullptr)
    PublishModuleOptions(published_handle, *published_options);
}

std::string SharedMappingName(const char* prefix, pid_t process, uintptr_t handle) {
  char name[64];
  std::snprintf(name, sizeof name, "/%s%08X%08llX", prefix, unsigned(process),
                static_cast<unsigned long long>(handle));
  return name;
}

void PublishModuleOptions(uintptr_t handle, const TOstrelModuleOptions& options) {
  TraceLog("PublishModuleOptions", {reinterpret_cast<const void*>(handle)}, 2);
  TMemoryStream stream;
  const uint8_t used = 1;
  stream.WriteBuffer(&used, 1);
  options.SaveToStream(stream);
  const std::string name = SharedMappingName("MODULE", ::getpid(), handle);
  const bool ok = WriteObject(name, stream.Bytes());
  if (ok) Remember(module_name, name);
  TraceText(std::string("PublishModuleOptions=") + (ok ? "True" : "False"), -2);
}

bool ModuleHasSharedOptions(uintptr_t handle) {
  std::vector<uint8_t> data;
  return ReadObject(SharedMappingName("MODULE", ::getpid(), handle), data) && !data.empty() &&
         data[0] != 0;
}

bool LoadSharedModuleOptions(uintptr_t handle, TOstrelModuleOptions& options) {
  TraceLog("LoadSharedModuleOptions", {reinterpret_cast<const void*>(handle)}, 2);
  std::vector<uint8_t> data;
  bool ok = ReadObject(SharedMappingName("MODULE", ::getpid(), handle), data) && !data.empty() &&
            data[0] != 0;
  if (ok) {
    try {
      TMemoryStream stream;
      stream.WriteBuffer(data.data() + 1, int64_t(data.size() - 1));
      stream.Seek(0, soBeginning);
      // Published in the current form, whatever the form of the last logger data read.
      options.LoadFromStream(stream, OstrelCurrentDataVersion);
    } catch (const std::exception&) {
      ok = false;  // a damaged stream leaves the options as they were
    }
  }
  TraceText(std::string("LoadSharedModuleOptions=") + (ok ? "True" : "False"), -2);
  return ok;
}

void PublishExceptionFacts(uintptr_t handle, bool has_object, const std::string& class_name,
                           bool has_message, const std::string& message) {
  TraceLog("PublishExceptionFacts", {reinterpret_cast<const void*>(handle), class_name}, 2);
  std::vector<uint8_t> data{1};
  PutText(data, has_object && !class_name.empty() ? class_name : "Unknown exception type.");
  PutText(data, has_object && has_message ? message : "Unknown error message.");
  const std::string name = SharedMappingName("EXCEPT", ::getpid(), handle);
  bool ok = false;
  {
    std::lock_guard guard(publish_lock);
    ok = WriteObject(name, data);
  }
  if (ok) Remember(except_name, name);
  TraceText(std::string("PublishExceptionFacts=") + (ok ? "True" : "False"), -2);
}

bool TakeExceptionFacts(uintptr_t handle, std::string& class_name, std::string& message) {
  TraceLog("TakeExceptionFacts", {reinterpret_cast<const void*>(handle)}, 2);
  std::vector<uint8_t> data;
  int fd = -1;
  bool ok = ReadObject(SharedMappingName("EXCEPT", ::getpid(), handle), data, &fd) &&
            !data.empty() && data[0] != 0;
  std::size_t at = 1;
  std::string name, text;
  ok = ok && GetText(data, at, name) && GetText(data, at, text);
  if (ok) {
    class_name = name;
    message = text;
    const uint8_t read = 0;
    ok = ::pwrite(fd, &read, 1, 4) == 1;
  }
  if (fd >= 0) ::close(fd);
  TraceText(std::string("TakeExceptionFacts=") + (ok ? "True" : "False"), -2);
  return ok;
}

void ReleaseProcessSharedFacts() {
  // Straight system calls into fixed buffers: this runs on the way out of a fault.
  const int folder = ::open("/dev/shm", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) return;
  char prefix[2][16];
  const unsigned pid = unsigned(::getpid());
  std::snprintf(prefix[0], sizeof prefix[0], "MODULE%08X", pid);
  std::snprintf(prefix[1], sizeof prefix[1], "EXCEPT%08X", pid);
  alignas(8) char buffer[4096];
  for (;;) {
    const long n = ::syscall(SYS_getdents64, folder, buffer, sizeof buffer);
    if (n <= 0) break;
    for (long at = 0; at < n;) {
      struct Entry {
        uint64_t inode;
        int64_t offset;
        unsigned short length;
        unsigned char type;
        char name[1];
      };
      const auto* entry = reinterpret_cast<const Entry*>(buffer + at);
      if (entry->length == 0) break;
      for (const char* p : prefix) {
        if (std::strncmp(entry->name, p, 14) == 0) ::unlinkat(folder, entry->name, 0);
      }
      at += entry->length;
    }
  }
  ::close(folder);
}

void ReleaseStaleSharedFacts() {
  TraceScope trace("ReleaseStaleSharedFacts", {});
  DIR* folder = ::opendir("/dev/shm");
  if (folder == nullptr) return;
  int removed = 0;
  while (const dirent* entry = ::readdir(folder)) {
    const std::string_view name = entry->d_name;
    if (name.size() < 14 || (!name.starts_with("MODULE") && !name.starts_with("EXCEPT"))) continue;
    unsigned pid = 0;
    if (std::sscanf(entry->d_name + 6, "%8X", &pid) != 1 || pid == 0) continue;
    // Only a process that no longer exists leaves its objects to others.
    if (::kill(pid_t(pid), 0) == 0 || errno != ESRCH) continue;
    if (::unlinkat(::dirfd(folder), entry->d_name, 0) == 0) ++removed;
  }
  ::closedir(folder);
  trace.Result(removed);
}

void ReleaseSharedFacts() {
  if (module_name[0] != 0) ::shm_unlink(module_name);
  if (except_name[0] != 0) ::shm_unlink(except_name);
  module_name[0] = except_name[0] = 0;
}

}  // namespace qv
