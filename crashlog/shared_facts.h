// Facts that the logger of one module shares with the loggers of the other modules of the
// same process, in POSIX shared memory objects named after a prefix, the process id and
// the module handle ("/MODULE" + 8 hex digits of the process id + the handle in at least
// 8 hex digits). The first 4 bytes of an object hold the size of the data that follows.
// - "MODULE": the module's option stream, one byte 1 in front;
// - "EXCEPT": the last exception the module recorded: one byte (1 = not read yet), its
//   class name and its message, each a 32-bit length and the bytes.
// Every read is bounded by the object's real size: another module's data is not trusted.
// A module's objects are removed when its logger ends (and before the process ends after
// a report).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace qv {

class TOstrelModuleOptions;

[[nodiscard]] std::string SharedMappingName(const char* prefix, pid_t process, uintptr_t handle);

// Publishes the options of `handle`'s module (the module whose logger calls it) in its
// "MODULE" object, replacing what it held.
void PublishModuleOptions(uintptr_t handle, const TOstrelModuleOptions& options);
// The options that this module publishes now and again whenever they change (their
// Changed call, RepublishModuleOptions); a handle of 0 stops that.
void SetPublishedModuleOptions(uintptr_t handle, const TOstrelModuleOptions* options);
void RepublishModuleOptions();
// Whether the module has a "MODULE" object, i.e. carries a running logger of its own.
[[nodiscard]] bool ModuleHasSharedOptions(uintptr_t handle);
// Loads `options` from the module's "MODULE" object when it exists and its first data byte
// is not 0; false (options unchanged) otherwise.
bool LoadSharedModuleOptions(uintptr_t handle, TOstrelModuleOptions& options);

// Writes the facts of an exception the module recorded into its "EXCEPT" object.
// `has_object` false gives the class "Unknown exception type.", `has_message` false the
// message "Unknown error message.".
void PublishExceptionFacts(uintptr_t handle, bool has_object, const std::string& class_name,
                           bool has_message, const std::string& message);
// Reads another module's unread facts and marks them read (the first byte set to 0); false
// when it has none.
bool TakeExceptionFacts(uintptr_t handle, std::string& class_name, std::string& message);

// Removes the objects that processes which no longer run left behind (a process killed
// outright removes nothing).
void ReleaseStaleSharedFacts();
// Removes the objects this module published. Only async-signal-safe calls: it may run on
// the way out of a fault.
void ReleaseSharedFacts();
// Removes the objects of every module of the process: the process ends now, and the
// other modules' loggers get no chance to.
void ReleaseProcessSharedFacts();

}  // namespace qv
