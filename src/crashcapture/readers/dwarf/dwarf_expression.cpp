#include "crashcapture/readers/dwarf/dwarf_expression.h"

#include <type_traits>

#include "crashcapture/readers/dwarf/dwarf_encoding.h"

namespace tlcrash::async {
namespace {

// DWARF expression operations.
enum : std::uint8_t {
  DW_OP_deref = 0x06,
  DW_OP_const1u = 0x08,
  DW_OP_const1s = 0x09,
  DW_OP_const2u = 0x0A,
  DW_OP_const2s = 0x0B,
  DW_OP_const4u = 0x0C,
  DW_OP_const4s = 0x0D,
  DW_OP_const8u = 0x0E,
  DW_OP_const8s = 0x0F,
  DW_OP_constu = 0x10,
  DW_OP_consts = 0x11,
  DW_OP_dup = 0x12,
  DW_OP_drop = 0x13,
  DW_OP_over = 0x14,
  DW_OP_pick = 0x15,
  DW_OP_swap = 0x16,
  DW_OP_rot = 0x17,
  DW_OP_xderef = 0x18,
  DW_OP_abs = 0x19,
  DW_OP_and = 0x1A,
  DW_OP_div = 0x1B,
  DW_OP_minus = 0x1C,
  DW_OP_mod = 0x1D,
  DW_OP_mul = 0x1E,
  DW_OP_neg = 0x1F,
  DW_OP_not = 0x20,
  DW_OP_or = 0x21,
  DW_OP_plus = 0x22,
  DW_OP_plus_uconst = 0x23,
  DW_OP_shl = 0x24,
  DW_OP_shr = 0x25,
  DW_OP_shra = 0x26,
  DW_OP_xor = 0x27,
  DW_OP_bra = 0x28,
  DW_OP_eq = 0x29,
  DW_OP_ge = 0x2A,
  DW_OP_gt = 0x2B,
  DW_OP_le = 0x2C,
  DW_OP_lt = 0x2D,
  DW_OP_ne = 0x2E,
  DW_OP_skip = 0x2F,
  DW_OP_lit0 = 0x30,
  DW_OP_lit31 = 0x4F,
  DW_OP_breg0 = 0x70,
  DW_OP_breg31 = 0x8F,
  DW_OP_bregx = 0x92,
  DW_OP_deref_size = 0x94,
  DW_OP_xderef_size = 0x95,
  DW_OP_nop = 0x96,
};

template <typename machine_ptr>
class Stack {
 public:
  std::size_t depth() const { return depth_; }
  bool push(machine_ptr value) {
    if (depth_ == kDwarfExpressionStackSize) return false;
    entries_[depth_++] = value;
    return true;
  }
  bool pop(machine_ptr* value) {
    if (depth_ == 0) return false;
    *value = entries_[--depth_];
    return true;
  }
  // The entry `index` places below the top (0 is the top).
  machine_ptr peek(std::size_t index) const { return entries_[depth_ - 1 - index]; }
  machine_ptr& at(std::size_t index) { return entries_[depth_ - 1 - index]; }

 private:
  machine_ptr entries_[kDwarfExpressionStackSize];
  std::size_t depth_ = 0;
};

// Reads a zero-extended value of `size` bytes (1, 2, 4 or 8) from the task.
template <typename machine_ptr>
tlcrash_error_t readSized(const Task& task, const tlcrash_async_byteorder* byteorder,
                          machine_ptr address, std::uint8_t size, machine_ptr* result) {
  tlcrash_error_t error = tlcrash_error_t::invalidArgument;
  switch (size) {
    case 1: {
      std::uint8_t value = 0;
      error = tlcrash_async_task_read_uint8(task, address, 0, &value);
      *result = value;
      break;
    }
    case 2: {
      std::uint16_t value = 0;
      error = tlcrash_async_task_read_uint16(task, byteorder, address, 0, &value);
      *result = value;
      break;
    }
    case 4: {
      std::uint32_t value = 0;
      error = tlcrash_async_task_read_uint32(task, byteorder, address, 0, &value);
      *result = static_cast<machine_ptr>(value);
      break;
    }
    case 8: {
      std::uint64_t value = 0;
      error = tlcrash_async_task_read_uint64(task, byteorder, address, 0, &value);
      *result = static_cast<machine_ptr>(value);
      break;
    }
    default:
      break;
  }
  return error;
}

}  // namespace

template <typename machine_ptr>
tlcrash_error_t tlcrash_async_dwarf_expression_eval(
    const dwarf_memory& memory, const Task& task, const tlcrash_async_thread_state* state,
    const tlcrash_async_byteorder* byteorder, tlcrash_vm_address_t address, tlcrash_vm_off_t offset,
    tlcrash_vm_size_t length, const machine_ptr* initial, std::size_t initial_count,
    machine_ptr* result) noexcept {
  using machine_ptr_s = std::make_signed_t<machine_ptr>;
  constexpr tlcrash_error_t kInvalid = tlcrash_error_t::invalidArgument;
  constexpr tlcrash_error_t kInternal = tlcrash_error_t::internal;

  dwarf_memory expression;
  if (!memory.sub_window(address, offset, length, &expression)) return kInvalid;

  Stack<machine_ptr> stack;
  if (initial_count > kDwarfExpressionStackSize) return kInternal;
  for (std::size_t i = 0; i < initial_count; ++i)
    stack.push(initial[i]);

  tlcrash_vm_address_t pc = expression.address();
  std::size_t operations = 0;
  // Reads an operand at pc and moves past it.
  auto readU8 = [&](std::uint8_t* value) {
    if (expression.read_uint8(pc, 0, value) != tlcrash_error_t::success) return false;
    pc += 1;
    return true;
  };
  auto readU16 = [&](std::uint16_t* value) {
    if (expression.read_uint16(byteorder, pc, 0, value) != tlcrash_error_t::success) return false;
    pc += 2;
    return true;
  };
  auto readU32 = [&](std::uint32_t* value) {
    if (expression.read_uint32(byteorder, pc, 0, value) != tlcrash_error_t::success) return false;
    pc += 4;
    return true;
  };
  auto readU64 = [&](std::uint64_t* value) {
    if (expression.read_uint64(byteorder, pc, 0, value) != tlcrash_error_t::success) return false;
    pc += 8;
    return true;
  };
  auto readUleb = [&](std::uint64_t* value) {
    tlcrash_vm_size_t size = 0;
    if (tlcrash_async_dwarf_read_uleb128(expression, pc, 0, value, &size) !=
        tlcrash_error_t::success)
      return false;
    pc += size;
    return true;
  };
  auto readSleb = [&](std::int64_t* value) {
    tlcrash_vm_size_t size = 0;
    if (tlcrash_async_dwarf_read_sleb128(expression, pc, 0, value, &size) !=
        tlcrash_error_t::success)
      return false;
    pc += size;
    return true;
  };
  auto registerValue = [&](std::uint64_t dwarfReg, machine_ptr* value) {
    int reg = 0;
    if (!tlcrash_async_thread_state_map_dwarf_to_reg(state, dwarfReg, &reg))
      return tlcrash_error_t::notSupported;
    if (!tlcrash_async_thread_state_has_reg(state, reg)) return tlcrash_error_t::notFound;
    *value = static_cast<machine_ptr>(tlcrash_async_thread_state_get_reg(state, reg));
    return tlcrash_error_t::success;
  };
  // The second entry and the top, popped, for a binary operation.
  machine_ptr a = 0;
  machine_ptr b = 0;
  auto popTwo = [&]() { return stack.pop(&b) && stack.pop(&a); };

  while (pc < expression.end()) {
    if (++operations > kDwarfExpressionMaxOperations) return kInvalid;
    std::uint8_t opcode = 0;
    if (!readU8(&opcode)) return kInvalid;

    if (opcode >= DW_OP_lit0 && opcode <= DW_OP_lit31) {
      if (!stack.push(opcode - DW_OP_lit0)) return kInternal;
      continue;
    }
    if (opcode >= DW_OP_breg0 && opcode <= DW_OP_breg31) {
      std::int64_t delta = 0;
      if (!readSleb(&delta)) return kInvalid;
      machine_ptr value = 0;
      const tlcrash_error_t error = registerValue(opcode - DW_OP_breg0, &value);
      if (error != tlcrash_error_t::success) return error;
      if (!stack.push(static_cast<machine_ptr>(value + static_cast<machine_ptr>(delta))))
        return kInternal;
      continue;
    }

    switch (opcode) {
      case DW_OP_deref: {
        machine_ptr where = 0;
        if (!stack.pop(&where)) return kInternal;
        machine_ptr value = 0;
        const tlcrash_error_t error = dwarf_read_task_word(task, byteorder, where, &value);
        if (error != tlcrash_error_t::success) return error;
        if (!stack.push(value)) return kInternal;
        break;
      }
      case DW_OP_const1u:
      case DW_OP_const1s: {
        std::uint8_t value = 0;
        if (!readU8(&value)) return kInvalid;
        const machine_ptr pushed = opcode == DW_OP_const1s
                                       ? static_cast<machine_ptr>(static_cast<std::int8_t>(value))
                                       : value;
        if (!stack.push(pushed)) return kInternal;
        break;
      }
      case DW_OP_const2u:
      case DW_OP_const2s: {
        std::uint16_t value = 0;
        if (!readU16(&value)) return kInvalid;
        const machine_ptr pushed = opcode == DW_OP_const2s
                                       ? static_cast<machine_ptr>(static_cast<std::int16_t>(value))
                                       : value;
        if (!stack.push(pushed)) return kInternal;
        break;
      }
      case DW_OP_const4u:
      case DW_OP_const4s: {
        std::uint32_t value = 0;
        if (!readU32(&value)) return kInvalid;
        const machine_ptr pushed = opcode == DW_OP_const4s
                                       ? static_cast<machine_ptr>(static_cast<std::int32_t>(value))
                                       : static_cast<machine_ptr>(value);
        if (!stack.push(pushed)) return kInternal;
        break;
      }
      case DW_OP_const8u:
      case DW_OP_const8s: {
        std::uint64_t value = 0;
        if (!readU64(&value)) return kInvalid;
        if (!stack.push(static_cast<machine_ptr>(value))) return kInternal;
        break;
      }
      case DW_OP_constu: {
        std::uint64_t value = 0;
        if (!readUleb(&value)) return kInvalid;
        if (!stack.push(static_cast<machine_ptr>(value))) return kInternal;
        break;
      }
      case DW_OP_consts: {
        std::int64_t value = 0;
        if (!readSleb(&value)) return kInvalid;
        if (!stack.push(static_cast<machine_ptr>(value))) return kInternal;
        break;
      }
      case DW_OP_dup:
        if (stack.depth() < 1) return kInvalid;
        if (!stack.push(stack.peek(0))) return kInvalid;
        break;
      case DW_OP_drop:
        if (!stack.pop(&a)) return kInvalid;
        break;
      case DW_OP_over:
        if (stack.depth() < 2) return kInvalid;
        if (!stack.push(stack.peek(1))) return kInternal;
        break;
      case DW_OP_pick: {
        std::uint8_t index = 0;
        if (!readU8(&index)) return kInvalid;
        if (index >= stack.depth()) return kInvalid;
        if (!stack.push(stack.peek(index))) return kInternal;
        break;
      }
      case DW_OP_swap:
        if (stack.depth() < 2) return kInvalid;
        a = stack.at(0);
        stack.at(0) = stack.at(1);
        stack.at(1) = a;
        break;
      case DW_OP_rot: {
        // The top moves to third place, the second to the top, the third to
        // second.
        if (stack.depth() < 3) return kInvalid;
        const machine_ptr top = stack.at(0);
        stack.at(0) = stack.at(1);
        stack.at(1) = stack.at(2);
        stack.at(2) = top;
        break;
      }
      case DW_OP_xderef:
      case DW_OP_xderef_size:
      case DW_OP_deref_size: {
        std::uint8_t size = sizeof(machine_ptr);
        if (opcode != DW_OP_xderef && !readU8(&size)) return kInvalid;
        if (size != 1 && size != 2 && size != 4 && size != 8) return kInvalid;
        machine_ptr where = 0;
        if (opcode == DW_OP_deref_size) {
          if (!stack.pop(&where)) return kInternal;
        } else {
          machine_ptr space = 0;  // the address-space id is ignored
          if (!stack.pop(&where) || !stack.pop(&space)) return kInvalid;
        }
        machine_ptr value = 0;
        const tlcrash_error_t error = readSized(task, byteorder, where, size, &value);
        if (error != tlcrash_error_t::success) return error;
        if (!stack.push(value)) return kInternal;
        break;
      }
      case DW_OP_abs: {
        if (!stack.pop(&a)) return kInternal;
        if (static_cast<machine_ptr_s>(a) < 0) a = static_cast<machine_ptr>(0 - a);
        stack.push(a);
        break;
      }
      case DW_OP_neg:
        if (!stack.pop(&a)) return kInternal;
        stack.push(static_cast<machine_ptr>(0 - a));
        break;
      case DW_OP_not:
        if (!stack.pop(&a)) return kInternal;
        stack.push(static_cast<machine_ptr>(~a));
        break;
      case DW_OP_plus_uconst: {
        std::uint64_t value = 0;
        if (!readUleb(&value)) return kInvalid;
        if (!stack.pop(&a)) return kInternal;
        stack.push(static_cast<machine_ptr>(a + static_cast<machine_ptr>(value)));
        break;
      }
      case DW_OP_and:
      case DW_OP_div:
      case DW_OP_minus:
      case DW_OP_mod:
      case DW_OP_mul:
      case DW_OP_or:
      case DW_OP_plus:
      case DW_OP_shl:
      case DW_OP_shr:
      case DW_OP_shra:
      case DW_OP_xor:
      case DW_OP_eq:
      case DW_OP_ge:
      case DW_OP_gt:
      case DW_OP_le:
      case DW_OP_lt:
      case DW_OP_ne: {
        if (!popTwo()) return kInternal;
        const auto sa = static_cast<machine_ptr_s>(a);
        const auto sb = static_cast<machine_ptr_s>(b);
        const unsigned shift = static_cast<unsigned>(b % 64);
        machine_ptr value = 0;
        switch (opcode) {
          case DW_OP_and:
            value = a & b;
            break;
          case DW_OP_div:
            if (b == 0) return kInvalid;
            // The one quotient that does not fit wraps to itself.
            if (sb == -1)
              value = static_cast<machine_ptr>(0 - a);
            else
              value = static_cast<machine_ptr>(sa / sb);
            break;
          case DW_OP_minus:
            value = static_cast<machine_ptr>(a - b);
            break;
          case DW_OP_mod:
            if (b == 0) return kInvalid;
            value = a % b;
            break;
          case DW_OP_mul:
            value = static_cast<machine_ptr>(a * b);
            break;
          case DW_OP_or:
            value = a | b;
            break;
          case DW_OP_plus:
            value = static_cast<machine_ptr>(a + b);
            break;
          case DW_OP_shl:
            value = static_cast<machine_ptr>(static_cast<std::uint64_t>(a) << shift);
            break;
          case DW_OP_shr:
            value = static_cast<machine_ptr>(static_cast<std::uint64_t>(a) >> shift);
            break;
          case DW_OP_shra:
            // Shifted in 64 bits so that counts of 32 to 63 keep their
            // meaning on 32-bit words.
            value = static_cast<machine_ptr>(static_cast<std::int64_t>(sa) >> shift);
            break;
          case DW_OP_xor:
            value = a ^ b;
            break;
          case DW_OP_eq:
            value = sa == sb;
            break;
          case DW_OP_ge:
            value = sa >= sb;
            break;
          case DW_OP_gt:
            value = sa > sb;
            break;
          case DW_OP_le:
            value = sa <= sb;
            break;
          case DW_OP_lt:
            value = sa < sb;
            break;
          case DW_OP_ne:
            value = sa != sb;
            break;
          default:
            break;
        }
        stack.push(value);
        break;
      }
      case DW_OP_bra:
      case DW_OP_skip: {
        std::uint16_t raw = 0;
        if (!readU16(&raw)) return kInvalid;
        bool taken = true;
        if (opcode == DW_OP_bra) {
          if (!stack.pop(&a)) return kInternal;
          taken = a != 0;
        }
        if (taken) {
          // A target at the very end finishes the expression.
          tlcrash_vm_address_t target = 0;
          if (!expression.contains(pc, static_cast<std::int16_t>(raw), 0, &target)) return kInvalid;
          pc = target;
        }
        break;
      }
      case DW_OP_bregx: {
        std::uint64_t dwarfReg = 0;
        std::int64_t delta = 0;
        if (!readUleb(&dwarfReg) || !readSleb(&delta)) return kInvalid;
        machine_ptr value = 0;
        const tlcrash_error_t error = registerValue(dwarfReg, &value);
        if (error != tlcrash_error_t::success) return error;
        if (!stack.push(static_cast<machine_ptr>(value + static_cast<machine_ptr>(delta))))
          return kInternal;
        break;
      }
      case DW_OP_nop:
        break;
      default:
        return tlcrash_error_t::notSupported;
    }
  }

  if (!stack.pop(result)) return kInvalid;
  return tlcrash_error_t::success;
}

template tlcrash_error_t tlcrash_async_dwarf_expression_eval<std::uint32_t>(
    const dwarf_memory&, const Task&, const tlcrash_async_thread_state*,
    const tlcrash_async_byteorder*, tlcrash_vm_address_t, tlcrash_vm_off_t, tlcrash_vm_size_t,
    const std::uint32_t*, std::size_t, std::uint32_t*) noexcept;
template tlcrash_error_t tlcrash_async_dwarf_expression_eval<std::uint64_t>(
    const dwarf_memory&, const Task&, const tlcrash_async_thread_state*,
    const tlcrash_async_byteorder*, tlcrash_vm_address_t, tlcrash_vm_off_t, tlcrash_vm_size_t,
    const std::uint64_t*, std::size_t, std::uint64_t*) noexcept;

}  // namespace tlcrash::async
