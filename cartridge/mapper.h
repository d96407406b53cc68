// Bank switching: the operations that rewrite the page tables, the mapper selection and the
// per-scanline hook of the counting mappers.
#pragma once

#include <cstdint>
#include <vector>

#include "core/cpu_state.h"

namespace vexalo {

struct Machine;

// Page numbers past the end of a store wrap modulo the store's size, so every window designates
// bytes inside its store.
void SwitchPrg8K(Machine& m, uint16_t window, int page);
void SwitchPrg16K(Machine& m, uint16_t window, int page);
void SwitchPrg32K(Machine& m, int page);
void SwitchChr1K(Machine& m, uint16_t window, int page);
void SwitchChr4K(Machine& m, uint16_t window, int page);
void SwitchChr8K(Machine& m, int page);
void SetMirroring(Machine& m, int bit);

void DefaultBankLayout(Machine& m);

// Selects the mapper by its iNES number; false (with its log line) when it is not supported.
bool MapperSetup(Machine& m, int number);

// Whether the cartridge's program changes its own PRG-ROM in memory (the self-flashing board of
// mapper 30), so a saved machine must hold it.
bool MapperWritesPrgRom(const Machine& m);

// The iNES numbers of every supported mapper, in ascending order.
std::vector<int> SupportedMappers();

// Lines 8-231: may turn None into Irq for the counting mappers.
InterruptRequest MapperScanline(Machine& m, InterruptRequest signal);

}  // namespace vexalo
