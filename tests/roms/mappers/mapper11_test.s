; Mapper 11 (Color Dreams Mapper): any write selects the 32 KB page with bits 0, 2 and 4 of the
; value (value AND $15); the CHR windows never move.
; 256 KB PRG (32 banks, the code in bank 3 of 32 KB page 0), 32 KB CHR (32 units), vertical
; mirroring in the header.

.include "nes.inc"

MAPPER      = 11
HEADER_BITS = INES_VERTICAL
PRG_BANKS   = 32
CODE_BANK   = 3
CHR_UNITS   = 32

.include "mapper_harness.s"

.segment "RAMCODE"
main:
    SNAP                    ; 0: power-on layout (32 KB page 0)
    POKE $8000, $0F         ; page 5
    SNAP                    ; 1
    POKE $FFFF, $02         ; page 0
    SNAP                    ; 2
    POKE $C000, $A4         ; page 4; the high bits select no CHR page
    SNAP                    ; 3
    POKE $8000, $0B         ; page 1
    SNAP                    ; 4
    jmp finish
