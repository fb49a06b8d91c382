#pragma once

// Names of signals and of their codes, keyed by the host's own numbers
// (<signal.h>), for the signal section of a report.
// Crash path: async-signal-safe.

namespace tlcrash {

// "SIGSEGV" for SIGSEGV; null for a number without a name. Where two names
// share a number the first listed wins (SIGABRT before SIGIOT).
const char* tlcrash_async_signal_signame(int signal) noexcept;

// "SEGV_MAPERR" for (SIGSEGV, SEGV_MAPERR); null when the pair has no name.
// Code 0 of SIGILL, SIGFPE, SIGSEGV and SIGBUS is their "_NOOP" name, and of
// SIGTRAP and SIGABRT "#0".
const char* tlcrash_async_signal_sigcode(int signal, int code) noexcept;

}  // namespace tlcrash
