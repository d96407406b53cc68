; Mapper 2 (74HC161/74HC32): any write selects the 16 KB page at $8000 with the whole value;
; $C000 keeps the last page. Pattern RAM stays in place.
; 128 KB PRG (16 banks), pattern RAM, vertical mirroring in the header.

.include "nes.inc"

MAPPER      = 2
HEADER_BITS = INES_VERTICAL
PRG_BANKS   = 16
CODE_BANK   = 15
CHR_UNITS   = 0

.include "mapper_harness.s"

.segment "RAMCODE"
main:
    SNAP                    ; 0: power-on layout
    POKE $8000, 3
    SNAP                    ; 1
    POKE $FFFF, 5
    SNAP                    ; 2
    POKE $C123, 0
    SNAP                    ; 3
    POKE $A000, 7           ; the last page at both halves
    SNAP                    ; 4
    jmp finish
