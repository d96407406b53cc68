; Mapper 66 (GxROM): any write selects the 32 KB page with bits 4-5 and the 8 KB CHR page with
; bits 0-1; the other bits play no part. Every page of both is shown once.
; 128 KB PRG (16 banks, the code in bank 3 of 32 KB page 0), 32 KB CHR (32 units), vertical
; mirroring in the header.

.include "nes.inc"

MAPPER      = 66
HEADER_BITS = INES_VERTICAL
PRG_BANKS   = 16
CODE_BANK   = 3
CHR_UNITS   = 32

.include "mapper_harness.s"

.segment "RAMCODE"
main:
    SNAP                    ; 0: power-on layout (32 KB page 0, CHR page 0)
    POKE $8000, $13         ; page 1, CHR 3
    SNAP                    ; 1
    POKE $FFFF, $22         ; page 2, CHR 2
    SNAP                    ; 2
    POKE $A000, $31         ; page 3, CHR 1
    SNAP                    ; 3
    POKE $C000, $CC         ; bits 2-3 and 6-7 only: page 0, CHR 0
    SNAP                    ; 4
    jmp finish
