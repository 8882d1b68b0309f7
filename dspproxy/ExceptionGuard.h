// Runs a call into another library so that a hardware fault inside it (an
// access violation, an illegal instruction, a division by zero) ends only that
// call: the guard reports the fault by value and the caller goes on.
//
// How it works. GCC has no __try, and the i686 build unwinds C++ exceptions
// with DWARF tables that stop at the other library's frames, so neither
// language nor compiler can catch a structured exception raised there. The
// guard therefore works at the operating system's level, the same way in the
// i686 and the x86_64 build: before the call it records where to resume (the
// frame, stack and resume address that GCC's __builtin_setjmp saves), and a
// vectored exception handler, which Windows runs before any frame-based
// handler, rewrites the faulting thread's context to that point and continues
// execution there. Only threads inside a guard are touched, and only for the
// fault codes below; every other exception (C++ exceptions of the other
// library included, which it catches itself) passes on untouched.
//
// What this gives up: a frame-based handler of the called library (or of a
// system function it calls) never sees a fault that happens inside a guard,
// because the vectored handler runs first. The fault still ends only the
// guarded call. A stack overflow is not caught: its guard page must be
// re-armed before the stack may be used again, which a resume cannot do.
#pragma once

namespace qv {

using GuardBody = void (*)(void* context);

// Calls body(context), which must not throw. Returns true when it returned
// normally, false when a hardware fault inside it was caught; the body's work
// then ends where it faulted. Guards may nest; each thread has its own.
bool RunGuarded(GuardBody body, void* context) noexcept;

// The same for a callable, which passes any result out through its captures.
// A C++ exception out of it also counts as a failure.
template <class F> bool CallGuarded(F& call) noexcept {
    struct Call {
        F& call;
        bool threw = false;
    } state{call};
    const bool returned = RunGuarded(
        [](void* context) {
            auto& state = *static_cast<Call*>(context);
            try {
                state.call();
            } catch (...) {
                state.threw = true;
            }
        },
        &state);
    return returned && !state.threw;
}

// Whether the handler is installed (it is installed on the first guard and
// stays until the library unloads). For tests.
bool GuardHandlerInstalled() noexcept;

} // namespace qv
