; Mapper 15 (100-in-1): the five registers at $8000, $8001, $8002, $8003 and $F001, compared by
; whole address, with their mirroring bits; any other address is ignored.
; 128 KB PRG (16 banks, the code in bank 3 of 32 KB page 0), pattern RAM, horizontal mirroring
; in the header.

.include "nes.inc"

MAPPER      = 15
HEADER_BITS = 0
PRG_BANKS   = 16
CODE_BANK   = 3
CHR_UNITS   = 0

.include "mapper_harness.s"

.segment "RAMCODE"
main:
    SNAP                    ; 0: power-on layout (32 KB page 0)
    POKE $8000, $45         ; vertical, 16 KB pages 5 and 6
    SNAP                    ; 1
    POKE $8000, $02         ; horizontal, 16 KB pages 2 and 3
    SNAP                    ; 2
    POKE $8001, $47         ; 16 KB page 7 at $C000; mirroring unchanged
    SNAP                    ; 3
    POKE $8002, $81         ; 8 KB bank 3 (value rotated left) in all four windows
    SNAP                    ; 4
    POKE $8002, $05         ; 8 KB bank 10 everywhere
    SNAP                    ; 5
    POKE $8003, $44         ; vertical, 16 KB page 4 at $C000
    SNAP                    ; 6
    POKE $F001, $82         ; bit 7 set: 8 KB bank 5 at $C000, bank 4 at $E000
    SNAP                    ; 7
    POKE $F001, $03         ; bit 7 clear: 16 KB page 3 at $C000
    SNAP                    ; 8
    POKE $9000, 0           ; none of these is a register
    POKE $8004, 0
    POKE $F000, 0
    POKE $F002, 0
    POKE $C001, 0
    SNAP                    ; 9
    jmp finish
