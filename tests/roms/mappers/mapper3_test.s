; Mapper 3 (VROM Switch): any write selects the 8 KB CHR page, masked with the page count less
; one; PRG does not move.
; 32 KB PRG (4 banks), 32 KB CHR (32 units), horizontal mirroring in the header.

.include "nes.inc"

MAPPER      = 3
HEADER_BITS = 0
PRG_BANKS   = 4
CODE_BANK   = 3
CHR_UNITS   = 32

.include "mapper_harness.s"

.segment "RAMCODE"
main:
    SNAP                    ; 0: power-on layout
    POKE $8000, 1
    SNAP                    ; 1
    POKE $FFFF, 3
    SNAP                    ; 2
    POKE $A000, 6           ; masked with 3: page 2
    SNAP                    ; 3
    POKE $C000, $FC         ; masked: page 0
    SNAP                    ; 4
    jmp finish
