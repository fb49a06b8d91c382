#pragma once

// The rule table of DWARF call-frame information: how to find the canonical
// frame address (CFA) and each saved register of a frame, built by running a
// CIE's and an FDE's call-frame programs up to a PC, then applied to a frame's
// registers to give its caller's.
// Crash path: async-signal-safe; the table has fixed sizes (6 levels for
// remember/restore_state, 100 register rules shared by all levels) and lives
// on the stack.

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "crashcapture/platform/mach_types.h"
#include "crashcapture/platform/task.h"
#include "crashcapture/readers/core/crash_error.h"
#include "crashcapture/readers/core/memory.h"
#include "crashcapture/readers/core/thread_state.h"
#include "crashcapture/readers/dwarf/dwarf_encoding.h"
#include "crashcapture/readers/dwarf/dwarf_entries.h"
#include "crashcapture/readers/dwarf/dwarf_memory.h"

namespace tlcrash::async {

// How a register of the caller is found.
enum class tlcrash_dwarf_cfa_reg_rule_t : std::uint8_t {
  offset = 0,         // saved at CFA + N
  valOffset = 1,      // the value is CFA + N
  reg = 2,            // held in register R
  expression = 3,     // saved at the address the expression at E computes
  valExpression = 4,  // the value is what the expression at E computes
  sameValue = 5,      // unchanged
};

// How the CFA is found.
enum class dwarf_cfa_rule_kind : std::uint8_t {
  undefined = 0,
  expression = 1,        // the expression at `expression_address`
  registerUnsigned = 2,  // register + unsigned offset
  registerSigned = 3,    // register + signed offset
};

template <typename machine_ptr>
struct dwarf_cfa_rule {
  dwarf_cfa_rule_kind kind = dwarf_cfa_rule_kind::undefined;
  std::uint32_t reg = 0;   // DWARF number
  machine_ptr offset = 0;  // two's complement when signed
  tlcrash_vm_address_t expression_address = 0;
  tlcrash_vm_size_t expression_length = 0;
};

template <typename machine_ptr>
class dwarf_cfa_state_iterator;

template <typename machine_ptr>
class dwarf_cfa_state {
 public:
  static constexpr std::size_t kLevels = 6;
  static constexpr std::size_t kRules = 100;
  static constexpr std::size_t kBuckets = 14;

  dwarf_cfa_state() noexcept;

  // Sets (or replaces) the rule of DWARF register `reg` at the current level.
  // False when the rule pool is exhausted.
  bool set_register(std::uint32_t reg, tlcrash_dwarf_cfa_reg_rule_t type,
                    machine_ptr value) noexcept;
  bool get_register_rule(std::uint32_t reg, tlcrash_dwarf_cfa_reg_rule_t* type,
                         machine_ptr* value) const noexcept;
  void remove_register(std::uint32_t reg) noexcept;
  // Rules at the current level.
  std::size_t get_register_count() const noexcept;

  void set_cfa_register(std::uint32_t reg, machine_ptr offset) noexcept;
  void set_cfa_register_signed(std::uint32_t reg, std::make_signed_t<machine_ptr> offset) noexcept;
  void set_cfa_expression(tlcrash_vm_address_t address, tlcrash_vm_size_t length) noexcept;
  dwarf_cfa_rule<machine_ptr> get_cfa_rule() const noexcept;

  // remember_state: a new level holding a copy of the current one. False at
  // the last level or when the pool cannot hold the copy.
  bool push_state() noexcept;
  // restore_state: back to the previous level, its rules returned to the
  // pool. False at level 0.
  bool pop_state() noexcept;

  // Runs the call-frame program of `length` bytes at `address` + `offset` in
  // `section` from location `pc_start` until the location passes a non-zero
  // `target_pc` (0 runs it all). The rules in force before it runs are the
  // ones restore operations go back to. notSupported for unsupported
  // operations (vendor ones among them), register numbers past 32 bits and
  // set_loc with a segment size; noMemory when the table is full;
  // invalidArgument for an operand outside the program, restore_state at
  // level 0 and a CFA change without a register to change.
  tlcrash_error_t eval_program(const dwarf_memory& section, machine_ptr target_pc,
                               machine_ptr pc_start, const tlcrash_async_dwarf_cie_info* cie,
                               const gnu_ehptr_reader<machine_ptr>& reader,
                               const tlcrash_async_byteorder* byteorder,
                               tlcrash_vm_address_t address, tlcrash_vm_off_t offset,
                               tlcrash_vm_size_t length) noexcept;

  // The caller's registers: `next` is `current` with the volatile registers
  // cleared, the stack pointer set to the CFA and each register with a rule
  // restored; the instruction pointer comes from the CIE's return-address
  // register.
  tlcrash_error_t apply_state(const Task& task, const tlcrash_async_dwarf_cie_info* cie,
                              const tlcrash_async_thread_state* current,
                              const tlcrash_async_byteorder* byteorder,
                              tlcrash_async_thread_state* next) const noexcept;

 private:
  friend class dwarf_cfa_state_iterator<machine_ptr>;
  static constexpr std::uint8_t kNone = 0xFF;

  struct Entry {
    std::uint32_t reg;
    tlcrash_dwarf_cfa_reg_rule_t type;
    std::uint8_t next;
    machine_ptr value;
  };
  struct Level {
    dwarf_cfa_rule<machine_ptr> cfa;
    std::uint8_t count;
    std::uint8_t buckets[kBuckets];
  };

  std::uint8_t* find(std::uint32_t reg) noexcept;
  void clear_level(Level& level) noexcept;

  Entry entries_[kRules];
  std::uint8_t free_;
  Level levels_[kLevels];
  std::uint8_t level_;
};

// Walks the current level's rules: buckets in order, each chain in the order
// its rules were added.
template <typename machine_ptr>
class dwarf_cfa_state_iterator {
 public:
  explicit dwarf_cfa_state_iterator(const dwarf_cfa_state<machine_ptr>* state) noexcept
      : state_(state) {}
  bool next(std::uint32_t* reg, tlcrash_dwarf_cfa_reg_rule_t* type, machine_ptr* value) noexcept;

 private:
  const dwarf_cfa_state<machine_ptr>* state_;
  std::size_t bucket_ = 0;
  std::uint8_t entry_ = dwarf_cfa_state<machine_ptr>::kNone;
  bool started_ = false;
};

extern template class dwarf_cfa_state<std::uint32_t>;
extern template class dwarf_cfa_state<std::uint64_t>;
extern template class dwarf_cfa_state_iterator<std::uint32_t>;
extern template class dwarf_cfa_state_iterator<std::uint64_t>;

}  // namespace tlcrash::async
