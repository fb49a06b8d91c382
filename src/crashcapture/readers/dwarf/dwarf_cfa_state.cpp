#include "crashcapture/readers/dwarf/dwarf_cfa_state.h"

#include "crashcapture/readers/dwarf/dwarf_expression.h"

namespace tlcrash::async {
namespace {

// DWARF call-frame instructions.
enum : std::uint8_t {
  DW_CFA_advance_loc = 0x40,
  DW_CFA_offset = 0x80,
  DW_CFA_restore = 0xC0,
  DW_CFA_nop = 0x00,
  DW_CFA_set_loc = 0x01,
  DW_CFA_advance_loc1 = 0x02,
  DW_CFA_advance_loc2 = 0x03,
  DW_CFA_advance_loc4 = 0x04,
  DW_CFA_offset_extended = 0x05,
  DW_CFA_restore_extended = 0x06,
  DW_CFA_undefined = 0x07,
  DW_CFA_same_value = 0x08,
  DW_CFA_register = 0x09,
  DW_CFA_remember_state = 0x0A,
  DW_CFA_restore_state = 0x0B,
  DW_CFA_def_cfa = 0x0C,
  DW_CFA_def_cfa_register = 0x0D,
  DW_CFA_def_cfa_offset = 0x0E,
  DW_CFA_def_cfa_expression = 0x0F,
  DW_CFA_expression = 0x10,
  DW_CFA_offset_extended_sf = 0x11,
  DW_CFA_def_cfa_sf = 0x12,
  DW_CFA_def_cfa_offset_sf = 0x13,
  DW_CFA_val_offset = 0x14,
  DW_CFA_val_offset_sf = 0x15,
  DW_CFA_val_expression = 0x16,
};

bool isRegisterRule(dwarf_cfa_rule_kind kind) {
  return kind == dwarf_cfa_rule_kind::registerUnsigned ||
         kind == dwarf_cfa_rule_kind::registerSigned;
}

}  // namespace

template <typename machine_ptr>
dwarf_cfa_state<machine_ptr>::dwarf_cfa_state() noexcept {
  for (std::size_t i = 0; i < kRules; ++i) {
    entries_[i] = {};
    entries_[i].next = static_cast<std::uint8_t>(i + 1 < kRules ? i + 1 : kNone);
  }
  free_ = 0;
  for (Level& level : levels_) {
    level.cfa = {};
    level.count = 0;
    for (std::uint8_t& bucket : level.buckets)
      bucket = kNone;
  }
  level_ = 0;
}

template <typename machine_ptr>
std::uint8_t* dwarf_cfa_state<machine_ptr>::find(std::uint32_t reg) noexcept {
  std::uint8_t* link = &levels_[level_].buckets[reg % kBuckets];
  while (*link != kNone) {
    if (entries_[*link].reg == reg) return link;
    link = &entries_[*link].next;
  }
  return nullptr;
}

template <typename machine_ptr>
bool dwarf_cfa_state<machine_ptr>::set_register(std::uint32_t reg,
                                                tlcrash_dwarf_cfa_reg_rule_t type,
                                                machine_ptr value) noexcept {
  if (std::uint8_t* link = find(reg)) {
    entries_[*link].type = type;
    entries_[*link].value = value;
    return true;
  }
  if (free_ == kNone) return false;
  const std::uint8_t index = free_;
  free_ = entries_[index].next;
  entries_[index] = {reg, type, kNone, value};
  // Appended at the tail of its bucket's chain.
  std::uint8_t* link = &levels_[level_].buckets[reg % kBuckets];
  while (*link != kNone)
    link = &entries_[*link].next;
  *link = index;
  ++levels_[level_].count;
  return true;
}

template <typename machine_ptr>
bool dwarf_cfa_state<machine_ptr>::get_register_rule(std::uint32_t reg,
                                                     tlcrash_dwarf_cfa_reg_rule_t* type,
                                                     machine_ptr* value) const noexcept {
  const std::uint8_t* link = const_cast<dwarf_cfa_state*>(this)->find(reg);
  if (link == nullptr) return false;
  *type = entries_[*link].type;
  *value = entries_[*link].value;
  return true;
}

template <typename machine_ptr>
void dwarf_cfa_state<machine_ptr>::remove_register(std::uint32_t reg) noexcept {
  std::uint8_t* link = find(reg);
  if (link == nullptr) return;
  const std::uint8_t index = *link;
  *link = entries_[index].next;
  entries_[index].next = free_;
  free_ = index;
  --levels_[level_].count;
}

template <typename machine_ptr>
std::size_t dwarf_cfa_state<machine_ptr>::get_register_count() const noexcept {
  return levels_[level_].count;
}

template <typename machine_ptr>
void dwarf_cfa_state<machine_ptr>::set_cfa_register(std::uint32_t reg,
                                                    machine_ptr offset) noexcept {
  levels_[level_].cfa = {dwarf_cfa_rule_kind::registerUnsigned, reg, offset, 0, 0};
}

template <typename machine_ptr>
void dwarf_cfa_state<machine_ptr>::set_cfa_register_signed(
    std::uint32_t reg, std::make_signed_t<machine_ptr> offset) noexcept {
  levels_[level_].cfa = {dwarf_cfa_rule_kind::registerSigned, reg, static_cast<machine_ptr>(offset),
                         0, 0};
}

template <typename machine_ptr>
void dwarf_cfa_state<machine_ptr>::set_cfa_expression(tlcrash_vm_address_t address,
                                                      tlcrash_vm_size_t length) noexcept {
  levels_[level_].cfa = {dwarf_cfa_rule_kind::expression, 0, 0, address, length};
}

template <typename machine_ptr>
dwarf_cfa_rule<machine_ptr> dwarf_cfa_state<machine_ptr>::get_cfa_rule() const noexcept {
  return levels_[level_].cfa;
}

template <typename machine_ptr>
void dwarf_cfa_state<machine_ptr>::clear_level(Level& level) noexcept {
  for (std::uint8_t& bucket : level.buckets) {
    while (bucket != kNone) {
      const std::uint8_t index = bucket;
      bucket = entries_[index].next;
      entries_[index].next = free_;
      free_ = index;
    }
  }
  level.count = 0;
  level.cfa = {};
}

template <typename machine_ptr>
bool dwarf_cfa_state<machine_ptr>::push_state() noexcept {
  if (level_ + 1u >= kLevels) return false;
  const Level& from = levels_[level_];
  Level& to = levels_[level_ + 1];
  to.cfa = from.cfa;
  to.count = 0;
  for (std::size_t bucket = 0; bucket < kBuckets; ++bucket) {
    std::uint8_t* tail = &to.buckets[bucket];
    *tail = kNone;
    for (std::uint8_t index = from.buckets[bucket]; index != kNone; index = entries_[index].next) {
      if (free_ == kNone) {
        clear_level(to);
        return false;
      }
      const std::uint8_t copy = free_;
      free_ = entries_[copy].next;
      entries_[copy] = entries_[index];
      entries_[copy].next = kNone;
      *tail = copy;
      tail = &entries_[copy].next;
      ++to.count;
    }
  }
  ++level_;
  return true;
}

template <typename machine_ptr>
bool dwarf_cfa_state<machine_ptr>::pop_state() noexcept {
  if (level_ == 0) return false;
  clear_level(levels_[level_]);
  --level_;
  return true;
}

template <typename machine_ptr>
tlcrash_error_t dwarf_cfa_state<machine_ptr>::eval_program(
    const dwarf_memory& section, machine_ptr target_pc, machine_ptr pc_start,
    const tlcrash_async_dwarf_cie_info* cie, const gnu_ehptr_reader<machine_ptr>& reader,
    const tlcrash_async_byteorder* byteorder, tlcrash_vm_address_t address, tlcrash_vm_off_t offset,
    tlcrash_vm_size_t length) noexcept {
  constexpr tlcrash_error_t kInvalid = tlcrash_error_t::invalidArgument;
  // The rules restore operations go back to.
  const dwarf_cfa_state initial = *this;

  dwarf_memory program;
  if (!section.sub_window(address, offset, length, &program)) return kInvalid;

  machine_ptr location = pc_start;
  if (target_pc != 0 && target_pc < pc_start) return tlcrash_error_t::success;

  const auto codeFactor = static_cast<machine_ptr>(cie->code_alignment_factor);
  const auto dataFactor = static_cast<std::uint64_t>(cie->data_alignment_factor);
  const std::uint8_t pointerEncoding = cie->has_eh_augmentation && cie->has_pointer_encoding
                                           ? cie->pointer_encoding
                                           : DW_EH_PE_absptr;

  tlcrash_vm_address_t position = program.address();
  tlcrash_error_t error = tlcrash_error_t::success;
  // Operand readers; each moves past what it read.
  auto readU8 = [&](std::uint8_t* value) {
    error = program.read_uint8(position, 0, value);
    if (error != tlcrash_error_t::success) return false;
    position += 1;
    return true;
  };
  auto readUleb = [&](std::uint64_t* value) {
    tlcrash_vm_size_t size = 0;
    error = tlcrash_async_dwarf_read_uleb128(program, position, 0, value, &size);
    if (error != tlcrash_error_t::success) return false;
    position += size;
    return true;
  };
  auto readSleb = [&](std::int64_t* value) {
    tlcrash_vm_size_t size = 0;
    error = tlcrash_async_dwarf_read_sleb128(program, position, 0, value, &size);
    if (error != tlcrash_error_t::success) return false;
    position += size;
    return true;
  };
  // A register operand (ULEB), which must fit in 32 bits.
  auto readReg = [&](std::uint32_t* reg) {
    std::uint64_t value = 0;
    if (!readUleb(&value)) return false;
    if (value > UINT32_MAX) {
      error = tlcrash_error_t::notSupported;
      return false;
    }
    *reg = static_cast<std::uint32_t>(value);
    return true;
  };
  auto setRule = [&](std::uint32_t reg, tlcrash_dwarf_cfa_reg_rule_t type, std::uint64_t value) {
    if (set_register(reg, type, static_cast<machine_ptr>(value))) return true;
    error = tlcrash_error_t::noMemory;
    return false;
  };
  auto restore = [&](std::uint32_t reg) {
    tlcrash_dwarf_cfa_reg_rule_t type{};
    machine_ptr value = 0;
    if (initial.get_register_rule(reg, &type, &value)) return setRule(reg, type, value);
    remove_register(reg);
    return true;
  };
  // An expression block: its ULEB length and that many bytes, skipped.
  auto skipBlock = [&](tlcrash_vm_address_t* start, std::uint64_t* blockLength) {
    if (!readUleb(blockLength)) return false;
    tlcrash_vm_address_t end = 0;
    if (*blockLength > static_cast<std::uint64_t>(INT64_MAX) ||
        !program.contains(position, static_cast<tlcrash_vm_off_t>(*blockLength), 0, &end)) {
      error = kInvalid;
      return false;
    }
    *start = position;
    position = end;
    return true;
  };
  // def_cfa_register and def_cfa_offset(_sf) change a register rule only.
  auto hasRegisterCfa = [&]() {
    if (isRegisterRule(get_cfa_rule().kind)) return true;
    error = kInvalid;
    return false;
  };

  while (position < program.end()) {
    std::uint8_t opcode = 0;
    if (!readU8(&opcode)) return error;
    const std::uint8_t operand = opcode & 0x3F;
    bool ok = true;
    switch (opcode & 0xC0) {
      case DW_CFA_advance_loc:
        location = static_cast<machine_ptr>(location + operand * codeFactor);
        break;
      case DW_CFA_offset: {
        std::uint64_t factored = 0;
        ok = readUleb(&factored) &&
             setRule(operand, tlcrash_dwarf_cfa_reg_rule_t::offset, factored * dataFactor);
        break;
      }
      case DW_CFA_restore:
        ok = restore(operand);
        break;
      default:
        switch (opcode) {
          case DW_CFA_nop:
            break;
          case DW_CFA_set_loc: {
            if (cie->segment_size != 0) return tlcrash_error_t::notSupported;
            machine_ptr newLocation = 0;
            tlcrash_vm_size_t size = 0;
            error = reader.read(program, position, 0, pointerEncoding, &newLocation, &size);
            if (error != tlcrash_error_t::success) return error;
            position += size;
            location = newLocation;
            break;
          }
          case DW_CFA_advance_loc1: {
            std::uint8_t delta = 0;
            ok = readU8(&delta);
            location = static_cast<machine_ptr>(location + delta * codeFactor);
            break;
          }
          case DW_CFA_advance_loc2: {
            std::uint16_t delta = 0;
            error = program.read_uint16(byteorder, position, 0, &delta);
            if (error != tlcrash_error_t::success) return error;
            position += 2;
            location = static_cast<machine_ptr>(location + delta * codeFactor);
            break;
          }
          case DW_CFA_advance_loc4: {
            std::uint32_t delta = 0;
            error = program.read_uint32(byteorder, position, 0, &delta);
            if (error != tlcrash_error_t::success) return error;
            position += 4;
            location = static_cast<machine_ptr>(location + delta * codeFactor);
            break;
          }
          case DW_CFA_offset_extended:
          case DW_CFA_val_offset: {
            std::uint32_t reg = 0;
            std::uint64_t factored = 0;
            const auto type = opcode == DW_CFA_offset_extended
                                  ? tlcrash_dwarf_cfa_reg_rule_t::offset
                                  : tlcrash_dwarf_cfa_reg_rule_t::valOffset;
            ok = readReg(&reg) && readUleb(&factored) && setRule(reg, type, factored * dataFactor);
            break;
          }
          case DW_CFA_offset_extended_sf:
          case DW_CFA_val_offset_sf: {
            std::uint32_t reg = 0;
            std::int64_t factored = 0;
            const auto type = opcode == DW_CFA_offset_extended_sf
                                  ? tlcrash_dwarf_cfa_reg_rule_t::offset
                                  : tlcrash_dwarf_cfa_reg_rule_t::valOffset;
            ok = readReg(&reg) && readSleb(&factored) &&
                 setRule(reg, type, static_cast<std::uint64_t>(factored) * dataFactor);
            break;
          }
          case DW_CFA_restore_extended: {
            std::uint32_t reg = 0;
            ok = readReg(&reg) && restore(reg);
            break;
          }
          case DW_CFA_undefined: {
            std::uint32_t reg = 0;
            ok = readReg(&reg);
            if (ok) remove_register(reg);
            break;
          }
          case DW_CFA_same_value: {
            std::uint32_t reg = 0;
            ok = readReg(&reg) && setRule(reg, tlcrash_dwarf_cfa_reg_rule_t::sameValue, 0);
            break;
          }
          case DW_CFA_register: {
            std::uint32_t reg = 0;
            std::uint32_t other = 0;
            ok = readReg(&reg) && readReg(&other) &&
                 setRule(reg, tlcrash_dwarf_cfa_reg_rule_t::reg, other);
            break;
          }
          case DW_CFA_remember_state:
            if (!push_state()) return tlcrash_error_t::noMemory;
            break;
          case DW_CFA_restore_state:
            if (!pop_state()) return kInvalid;
            break;
          case DW_CFA_def_cfa: {
            std::uint32_t reg = 0;
            std::uint64_t cfaOffset = 0;
            ok = readReg(&reg) && readUleb(&cfaOffset);
            if (ok) set_cfa_register(reg, static_cast<machine_ptr>(cfaOffset));
            break;
          }
          case DW_CFA_def_cfa_sf: {
            std::uint32_t reg = 0;
            std::int64_t factored = 0;
            ok = readReg(&reg) && readSleb(&factored);
            if (ok)
              set_cfa_register_signed(reg, static_cast<std::make_signed_t<machine_ptr>>(
                                               static_cast<std::uint64_t>(factored) * dataFactor));
            break;
          }
          case DW_CFA_def_cfa_register: {
            std::uint32_t reg = 0;
            ok = readReg(&reg) && hasRegisterCfa();
            if (ok) levels_[level_].cfa.reg = reg;  // offset and signedness kept
            break;
          }
          case DW_CFA_def_cfa_offset: {
            std::uint64_t cfaOffset = 0;
            ok = readUleb(&cfaOffset) && hasRegisterCfa();
            if (ok) set_cfa_register(get_cfa_rule().reg, static_cast<machine_ptr>(cfaOffset));
            break;
          }
          case DW_CFA_def_cfa_offset_sf: {
            std::int64_t factored = 0;
            ok = readSleb(&factored) && hasRegisterCfa();
            if (ok)
              set_cfa_register_signed(get_cfa_rule().reg,
                                      static_cast<std::make_signed_t<machine_ptr>>(
                                          static_cast<std::uint64_t>(factored) * dataFactor));
            break;
          }
          case DW_CFA_def_cfa_expression: {
            tlcrash_vm_address_t start = 0;
            std::uint64_t blockLength = 0;
            ok = skipBlock(&start, &blockLength);
            if (ok) set_cfa_expression(start, blockLength);
            break;
          }
          case DW_CFA_expression:
          case DW_CFA_val_expression: {
            std::uint32_t reg = 0;
            ok = readReg(&reg);
            // The rule keeps the address of the block's length field.
            const tlcrash_vm_address_t block = position;
            tlcrash_vm_address_t start = 0;
            std::uint64_t blockLength = 0;
            const auto type = opcode == DW_CFA_expression
                                  ? tlcrash_dwarf_cfa_reg_rule_t::expression
                                  : tlcrash_dwarf_cfa_reg_rule_t::valExpression;
            ok = ok && skipBlock(&start, &blockLength) && setRule(reg, type, block);
            break;
          }
          default:
            return tlcrash_error_t::notSupported;
        }
    }
    if (!ok) return error;
    if (target_pc != 0 && location > target_pc) break;
  }
  return tlcrash_error_t::success;
}

template <typename machine_ptr>
tlcrash_error_t dwarf_cfa_state<machine_ptr>::apply_state(
    const Task& task, const tlcrash_async_dwarf_cie_info* cie,
    const tlcrash_async_thread_state* current, const tlcrash_async_byteorder* byteorder,
    tlcrash_async_thread_state* next) const noexcept {
  tlcrash_async_thread_state_copy(next, current);
  tlcrash_async_thread_state_clear_volatile_regs(next);

  // Evaluates the expression whose ULEB length is at `address` (the form of
  // register rules).
  auto evalAt = [&](tlcrash_vm_address_t address, machine_ptr cfa, machine_ptr* value) {
    std::uint64_t length = 0;
    tlcrash_vm_size_t size = 0;
    tlcrash_error_t error = tlcrash_async_dwarf_read_task_uleb128(task, address, 0, &length, &size);
    if (error != tlcrash_error_t::success) return error;
    tlcrash_vm_address_t start = 0;
    if (!tlcrash_async_address_apply_offset(address, static_cast<tlcrash_vm_off_t>(size), &start))
      return tlcrash_error_t::invalidArgument;
    const dwarf_memory expression(task, start, length);
    if (expression.length() != length) return tlcrash_error_t::invalidArgument;
    return tlcrash_async_dwarf_expression_eval<machine_ptr>(expression, task, current, byteorder,
                                                            start, 0, length, &cfa, 1, value);
  };

  const dwarf_cfa_rule<machine_ptr> cfaRule = get_cfa_rule();
  machine_ptr cfa = 0;
  switch (cfaRule.kind) {
    case dwarf_cfa_rule_kind::registerUnsigned:
    case dwarf_cfa_rule_kind::registerSigned: {
      int reg = 0;
      if (!tlcrash_async_thread_state_map_dwarf_to_reg(current, cfaRule.reg, &reg))
        return tlcrash_error_t::notSupported;
      if (!tlcrash_async_thread_state_has_reg(current, reg)) return tlcrash_error_t::notFound;
      cfa = static_cast<machine_ptr>(tlcrash_async_thread_state_get_reg(current, reg) +
                                     cfaRule.offset);
      break;
    }
    case dwarf_cfa_rule_kind::expression: {
      const dwarf_memory expression(task, cfaRule.expression_address, cfaRule.expression_length);
      if (expression.length() != cfaRule.expression_length) return tlcrash_error_t::invalidArgument;
      const tlcrash_error_t error = tlcrash_async_dwarf_expression_eval<machine_ptr>(
          expression, task, current, byteorder, cfaRule.expression_address, 0,
          cfaRule.expression_length, nullptr, 0, &cfa);
      if (error != tlcrash_error_t::success) return error;
      break;
    }
    case dwarf_cfa_rule_kind::undefined:
      return tlcrash_error_t::invalidArgument;
  }
  tlcrash_async_thread_state_set_reg(next, TLCRASH_REG_SP, cfa);

  int returnReg = 0;
  const bool returnRegMaps = tlcrash_async_thread_state_map_dwarf_to_reg(
      current, cie->return_address_register, &returnReg);

  dwarf_cfa_state_iterator<machine_ptr> rules(this);
  std::uint32_t dwarfReg = 0;
  tlcrash_dwarf_cfa_reg_rule_t type{};
  machine_ptr ruleValue = 0;
  while (rules.next(&dwarfReg, &type, &ruleValue)) {
    int reg = 0;
    if (!tlcrash_async_thread_state_map_dwarf_to_reg(current, dwarfReg, &reg)) {
      if (dwarfReg != cie->return_address_register) return tlcrash_error_t::invalidArgument;
      reg = TLCRASH_REG_IP;
    }
    machine_ptr value = 0;
    tlcrash_error_t error = tlcrash_error_t::success;
    switch (type) {
      case tlcrash_dwarf_cfa_reg_rule_t::offset:
        error = dwarf_read_task_word(task, byteorder, static_cast<machine_ptr>(cfa + ruleValue),
                                     &value);
        break;
      case tlcrash_dwarf_cfa_reg_rule_t::valOffset:
        value = static_cast<machine_ptr>(cfa + ruleValue);
        break;
      case tlcrash_dwarf_cfa_reg_rule_t::reg: {
        int source = 0;
        if (!tlcrash_async_thread_state_map_dwarf_to_reg(current, ruleValue, &source))
          return tlcrash_error_t::invalidArgument;
        if (!tlcrash_async_thread_state_has_reg(current, source)) return tlcrash_error_t::notFound;
        value = static_cast<machine_ptr>(tlcrash_async_thread_state_get_reg(current, source));
        break;
      }
      case tlcrash_dwarf_cfa_reg_rule_t::sameValue:
        if (!tlcrash_async_thread_state_has_reg(current, reg)) return tlcrash_error_t::notFound;
        value = static_cast<machine_ptr>(tlcrash_async_thread_state_get_reg(current, reg));
        break;
      case tlcrash_dwarf_cfa_reg_rule_t::expression: {
        machine_ptr where = 0;
        error = evalAt(ruleValue, cfa, &where);
        if (error == tlcrash_error_t::success)
          error = dwarf_read_task_word(task, byteorder, where, &value);
        break;
      }
      case tlcrash_dwarf_cfa_reg_rule_t::valExpression:
        error = evalAt(ruleValue, cfa, &value);
        break;
    }
    if (error != tlcrash_error_t::success) return error;
    tlcrash_async_thread_state_set_reg(next, reg, value);
    if (dwarfReg == cie->return_address_register && returnRegMaps)
      tlcrash_async_thread_state_set_reg(next, TLCRASH_REG_IP, value);
  }

  if (!tlcrash_async_thread_state_has_reg(next, TLCRASH_REG_IP)) {
    if (!returnRegMaps || !tlcrash_async_thread_state_has_reg(current, returnReg))
      return tlcrash_error_t::invalidArgument;
    tlcrash_async_thread_state_set_reg(next, TLCRASH_REG_IP,
                                       tlcrash_async_thread_state_get_reg(current, returnReg));
  }
  return tlcrash_error_t::success;
}

template <typename machine_ptr>
bool dwarf_cfa_state_iterator<machine_ptr>::next(std::uint32_t* reg,
                                                 tlcrash_dwarf_cfa_reg_rule_t* type,
                                                 machine_ptr* value) noexcept {
  using State = dwarf_cfa_state<machine_ptr>;
  const auto& level = state_->levels_[state_->level_];
  if (started_ && entry_ != State::kNone) entry_ = state_->entries_[entry_].next;
  if (!started_) {
    started_ = true;
    entry_ = level.buckets[0];
  }
  while (entry_ == State::kNone) {
    if (++bucket_ >= State::kBuckets) return false;
    entry_ = level.buckets[bucket_];
  }
  const auto& rule = state_->entries_[entry_];
  *reg = rule.reg;
  *type = rule.type;
  *value = rule.value;
  return true;
}

template class dwarf_cfa_state<std::uint32_t>;
template class dwarf_cfa_state<std::uint64_t>;
template class dwarf_cfa_state_iterator<std::uint32_t>;
template class dwarf_cfa_state_iterator<std::uint64_t>;

}  // namespace tlcrash::async
