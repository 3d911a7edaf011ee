// Redirecting routines to the logger's replacements without their callers' help.
//
// HookProcedure writes a 5-byte relative jump over a routine's entry; the jump reaches a
// stub in a hook block allocated within 2 GiB of the routine, which jumps on to the
// replacement. The instructions the jump covers are moved into the block's trampoline,
// their relative operands adjusted to reach what they reached before, followed by a jump
// to the first instruction after them: the replacement calls the hooked routine through
// the trampoline, and the patch stays in place throughout, so other threads may call the
// routine at any time. A routine cannot be hooked when those instructions cannot be moved:
// it ends within the patch's bytes, or a branch anywhere in it (found by decoding it up to
// its end, within a bound) lands inside them. Our own hookable code begins with a 5-byte
// NOP pad (`__attribute__((noinline, patchable_function_entry(5, 0)))`), which moves trivially.
//
// HookImport rewrites the import slots (GOT entries named by the dynamic relocations) of
// the listed modules. All functions are thread-safe; hooks are meant to be set while no
// other thread runs the routine's entry.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/base/exception.h"

namespace qv {

class EHookError : public Exception {
 public:
  using Exception::Exception;
};
// "Cannot hook a null procedure ("<name>")."
class EProcNull : public EHookError {
 public:
  explicit EProcNull(std::string_view name);
};
// "Cannot hook the module "<module>" located into the shared-area." Kept for its text:
// 64-bit Linux has no shared area.
class ESharedArea : public EHookError {
 public:
  explicit ESharedArea(std::string_view module);
};
// "Cannot hook the procedure "<name>"."
class EHookingError : public EHookError {
 public:
  explicit EHookingError(std::string_view name);
};

// The address that counts for `address`: the routine an import stub (a PLT entry) jumps
// through its slot to, or `address` itself.
[[nodiscard]] void* ResolveImportStub(void* address);

// Returns the trampoline through which the replacement calls the hooked routine. Throws
// EProcNull for a missing routine or replacement, EHookingError when no block can be placed
// near the routine or its code cannot be written.
void* HookProcedure(void* hooked, void* replacement, std::string_view name);
// Restores the saved entry bytes and drops the block; nothing happens for an unknown or
// null trampoline. The block's memory stays mapped, since a thread may still be inside it.
// Hooks of one routine are undone latest first: while a later hook on the same routine is
// in place, EHookingError is thrown and nothing changes.
void UnhookProcedure(void* trampoline);

// For each module in `modules` that is loaded (matched by file name; the program itself by
// its executable's name), points the import slots of `library`'s `routine` at
// `replacement`. Returns true when a slot was changed, with the routine's former address
// in `former`. None changed: false when quiet, else EHookingError.
bool HookImport(const std::vector<std::string>& modules, std::string_view library,
                std::string_view routine, void* replacement, bool quiet, void** former = nullptr);

// Undoes every hook, latest first, and every import patch still in place (run at exit as
// well).
void FinalizeHooks();

// Writes code or read-only data: the bytes are made writable for the write (and stay
// executable only when they were), the previous protection is restored and the
// instruction cache flushed.
// Returns false when the pages could not be made writable.
bool WriteCode(void* address, const void* bytes, std::size_t count);

}  // namespace qv
