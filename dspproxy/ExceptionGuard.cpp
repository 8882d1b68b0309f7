#include "dspproxy/ExceptionGuard.h"

#include <windows.h>

namespace qv {
namespace {

// Where a guarded call resumes: the three words __builtin_setjmp stores
// (frame pointer, resume address, stack pointer, in that order on both
// architectures; the two spare words are its own).
struct TGuardFrame {
    void* jump[5] = {};
    TGuardFrame* previous = nullptr;
};

bool IsHardwareFault(DWORD code) {
    switch (code) {
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_IN_PAGE_ERROR:
    case EXCEPTION_ILLEGAL_INSTRUCTION:
    case EXCEPTION_PRIV_INSTRUCTION:
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
    case EXCEPTION_INT_OVERFLOW:
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
    case EXCEPTION_DATATYPE_MISALIGNMENT:
    case EXCEPTION_FLT_DENORMAL_OPERAND:
    case EXCEPTION_FLT_DIVIDE_BY_ZERO:
    case EXCEPTION_FLT_INEXACT_RESULT:
    case EXCEPTION_FLT_INVALID_OPERATION:
    case EXCEPTION_FLT_OVERFLOW:
    case EXCEPTION_FLT_STACK_CHECK:
    case EXCEPTION_FLT_UNDERFLOW:
        return true;
    default:
        return false;
    }
}

// Points the thread's context at the guard's resume address, as
// __builtin_longjmp would. Values the faulting code left on the x87 register
// stack are dropped, so that the caller's floating-point code starts with
// the empty stack it expects.
void ResumeAt(const TGuardFrame& frame, CONTEXT& context) {
    const auto word = [&frame](int i) { return reinterpret_cast<DWORD_PTR>(frame.jump[i]); };
#if defined(_M_X64) || defined(__x86_64__)
    context.Rbp = word(0);
    context.Rip = word(1);
    context.Rsp = word(2);
    if ((context.ContextFlags & CONTEXT_FLOATING_POINT) == CONTEXT_FLOATING_POINT) {
        context.FltSave.TagWord = 0;    // abridged tags: 0 marks every register empty
        context.FltSave.StatusWord = 0; // no pending exception, top of stack 0
    }
#else
    context.Ebp = word(0);
    context.Eip = word(1);
    context.Esp = word(2);
    if ((context.ContextFlags & CONTEXT_FLOATING_POINT) == CONTEXT_FLOATING_POINT) {
        context.FloatSave.TagWord = 0xFFFF;
        context.FloatSave.StatusWord = 0;
    }
#endif
}

LONG CALLBACK FaultHandler(EXCEPTION_POINTERS* info);

// Installed once, with the thread slot that holds each thread's innermost
// guard; both are released when the library (and this object) goes, so that
// no handler is left pointing into an unloaded library. A plain TLS slot,
// not thread_local: the handler may run on any thread at any time and must
// not allocate.
class TFaultHandlerRegistration {
public:
    TFaultHandlerRegistration() : slot_(TlsAlloc()) {
        if (slot_ != TLS_OUT_OF_INDEXES)
            handle_ = AddVectoredExceptionHandler(1, FaultHandler);
    }
    TFaultHandlerRegistration(const TFaultHandlerRegistration&) = delete;
    TFaultHandlerRegistration& operator=(const TFaultHandlerRegistration&) = delete;
    ~TFaultHandlerRegistration() {
        if (handle_ != nullptr)
            RemoveVectoredExceptionHandler(handle_);
        if (slot_ != TLS_OUT_OF_INDEXES)
            TlsFree(slot_);
    }
    bool Installed() const { return handle_ != nullptr; }
    TGuardFrame* Innermost() const { return static_cast<TGuardFrame*>(TlsGetValue(slot_)); }
    void SetInnermost(TGuardFrame* frame) const { TlsSetValue(slot_, frame); }

private:
    DWORD slot_;
    void* handle_ = nullptr;
};

TFaultHandlerRegistration& Registration() {
    static TFaultHandlerRegistration registration;
    return registration;
}

LONG CALLBACK FaultHandler(EXCEPTION_POINTERS* info) {
    const DWORD savedError = GetLastError();
    TGuardFrame* const frame = Registration().Innermost();
    SetLastError(savedError);
    if (frame == nullptr || info == nullptr || info->ExceptionRecord == nullptr ||
        info->ContextRecord == nullptr || !IsHardwareFault(info->ExceptionRecord->ExceptionCode))
        return EXCEPTION_CONTINUE_SEARCH;
    // Leave the guard before resuming, so that a fault at the resume point
    // cannot loop back here.
    Registration().SetInnermost(frame->previous);
    ResumeAt(*frame, *info->ContextRecord);
    return EXCEPTION_CONTINUE_EXECUTION;
}

} // namespace

// Not inlined: __builtin_setjmp saves this function's own frame, which must
// still be live when the handler resumes into it.
__attribute__((noinline)) bool RunGuarded(GuardBody body, void* context) noexcept {
    if (!Registration().Installed()) {
        body(context);
        return true;
    }
    const TFaultHandlerRegistration& registration = Registration();
    TGuardFrame frame;
    frame.previous = registration.Innermost();
    registration.SetInnermost(&frame);
    if (__builtin_setjmp(frame.jump) != 0) {
        registration.SetInnermost(frame.previous);
        return false;
    }
    body(context);
    registration.SetInnermost(frame.previous);
    return true;
}

bool GuardHandlerInstalled() noexcept {
    return Registration().Installed();
}

} // namespace qv
