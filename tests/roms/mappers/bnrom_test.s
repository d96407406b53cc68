; Mapper 34 as BNROM (pattern RAM): any write at $8000-$FFFF selects the 32 KB page with its
; whole value, wrapping inside the PRG-ROM; NINA-001's register addresses are plain cartridge
; RAM here. Every page is shown once.
; 128 KB PRG (16 banks, the code in bank 3 of 32 KB page 0), pattern RAM, horizontal mirroring
; in the header.

.include "nes.inc"

MAPPER      = 34
HEADER_BITS = 0
PRG_BANKS   = 16
CODE_BANK   = 3
CHR_UNITS   = 0

.include "mapper_harness.s"

.segment "RAMCODE"
main:
    SNAP                    ; 0: power-on layout (32 KB page 0)
    POKE $8000, 1
    SNAP                    ; 1
    POKE $FFFF, 2
    SNAP                    ; 2
    POKE $C000, 3
    SNAP                    ; 3
    POKE $A000, 6           ; page 6 of 4 wraps to 2
    SNAP                    ; 4
    POKE $7FFD, 1           ; cartridge RAM only
    POKE $7FFE, 1
    SNAP                    ; 5
    jmp finish
