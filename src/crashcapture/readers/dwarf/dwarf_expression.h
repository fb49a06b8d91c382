#pragma once

// The evaluator of DWARF expressions (the stack machine of DW_OP_*), as call-
// frame rules use them, for 32- and 64-bit targets.
// Crash path: async-signal-safe; the stack is a fixed array and the number of
// operations one evaluation may run is bounded, so a looping expression ends
// with an error.

#include <cstddef>
#include <cstdint>

#include "crashcapture/platform/mach_types.h"
#include "crashcapture/platform/task.h"
#include "crashcapture/readers/core/crash_error.h"
#include "crashcapture/readers/core/memory.h"
#include "crashcapture/readers/core/thread_state.h"
#include "crashcapture/readers/dwarf/dwarf_memory.h"

namespace tlcrash::async {

// Entries of the expression stack.
inline constexpr std::size_t kDwarfExpressionStackSize = 100;
// Operations one evaluation may run (branches can loop).
inline constexpr std::size_t kDwarfExpressionMaxOperations = 10000;

// Evaluates the `length` bytes at `address` + `offset` (which must lie inside
// `memory`) with `initial` pushed first (initial[0] at the bottom). Words
// read with deref come from `task`; registers (breg) from `state`. The result
// is the top entry at the end.
//
// Errors: internal for more than 100 initial values or a push onto a full
// stack (invalidArgument for dup); too few entries: invalidArgument for dup,
// drop, over, pick, swap, rot, xderef, xderef_size and the result, internal
// for the other operations; invalidArgument for an operand, branch target or
// size outside the expression, a division by zero, or more than
// kDwarfExpressionMaxOperations operations; notSupported for an unsupported
// operation or a register without a DWARF mapping; notFound for a register
// not valid in `state`; failed memory reads as they come.
template <typename machine_ptr>
tlcrash_error_t tlcrash_async_dwarf_expression_eval(
    const dwarf_memory& memory, const Task& task, const tlcrash_async_thread_state* state,
    const tlcrash_async_byteorder* byteorder, tlcrash_vm_address_t address, tlcrash_vm_off_t offset,
    tlcrash_vm_size_t length, const machine_ptr* initial, std::size_t initial_count,
    machine_ptr* result) noexcept;

}  // namespace tlcrash::async
