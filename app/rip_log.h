// The ripper's debug log: "Quorvel.log" in the current folder, one line per step, each
// starting with the routine's name and " : ". Lines are written only while `FDebug` is on.
// The file is truncated at start, but only by the process that holds its lock: a second
// copy of the program never empties the first one's log (it logs nothing instead).
// Thread-safe: the outputs' worker threads log their failures through the same object.
#pragma once

#include <atomic>
#include <mutex>
#include <string>

namespace qv {

inline constexpr const char* kLogFileName = "Quorvel.log";

class TRipLog {
 public:
  TRipLog() = default;
  TRipLog(const TRipLog&) = delete;
  TRipLog& operator=(const TRipLog&) = delete;
  ~TRipLog() { CloseLog(); }

  // Creates or truncates `FileName`; false (and the log stays off, with the reason in
  // `Reason`) when it cannot be created, is no regular file (a link included) or another
  // process holds it.
  bool OpenLog(const std::string& FileName = kLogFileName, std::string* Reason = nullptr);
  void CloseLog();
  [[nodiscard]] bool IsOpen() const;

  // Appends `Msg` and a line break when `FDebug` is on and the log is open; write errors are
  // ignored.
  void WriteLog(const std::string& Msg);
  // As WriteLog, but also without `FDebug`: for failures, which must never pass unseen.
  void Report(const std::string& Msg);

  std::atomic<bool> FDebug{false};

 private:
  void Append(const std::string& Msg);

  mutable std::mutex lock_;
  int FLogHandle = -1;
};

}  // namespace qv
