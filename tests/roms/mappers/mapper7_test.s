; Mapper 7 (Rom Switch): any write selects the 32 KB page with its low four bits and the
; name-table distance with bit 4 (1024 clear, 2048 set); the header's mirroring flag is left.
; 128 KB PRG (16 banks, the code in bank 3 of 32 KB page 0), pattern RAM, horizontal mirroring
; in the header.

.include "nes.inc"

MAPPER      = 7
HEADER_BITS = 0
PRG_BANKS   = 16
CODE_BANK   = 3
CHR_UNITS   = 0

.include "mapper_harness.s"

.segment "RAMCODE"
main:
    SNAP                    ; 0: power-on layout (32 KB page 0)
    POKE $8000, $13         ; page 3, distance 2048
    SNAP                    ; 1
    POKE $8000, $02         ; page 2, distance 1024
    SNAP                    ; 2
    POKE $E000, $11         ; page 1, distance 2048
    SNAP                    ; 3
    POKE $9876, $00         ; page 0, distance 1024
    SNAP                    ; 4
    POKE $8000, $10         ; page 0, distance 2048
    SNAP                    ; 5
    jmp finish
