// A chain of exported routines for the call-stack test: f1 calls f2, which calls f3, which
// calls back into the test with the stack as it stands.
extern "C" {
using StackCallback = void (*)(void*);

[[gnu::noinline]] int f3(StackCallback callback, void* context) {
  callback(context);
  asm volatile("" ::: "memory");
  return 3;
}
[[gnu::noinline]] int f2(StackCallback callback, void* context) {
  const int r = f3(callback, context);
  asm volatile("" ::: "memory");
  return r + 2;
}
[[gnu::noinline]] int f1(StackCallback callback, void* context) {
  const int r = f2(callback, context);
  asm volatile("" ::: "memory");
  return r + 1;
}
}

// A routine the symbol table gives no size, so the logger estimates it: up to the return
// after its frame teardown (55 48 89 E5 90 5D C3).
asm(".text\n"
    ".globl f_unsized\n"
    ".type f_unsized, @function\n"
    "f_unsized:\n"
    "  push %rbp\n"
    "  mov %rsp, %rbp\n"
    "  nop\n"
    "  pop %rbp\n"
    "  ret\n"
    "  int3\n");
