; Mapper 10 (MMC4): the default PRG layout, the 16 KB $A000 PRG register, the CHR registers
; (with both latches fixed at $FE only $C000 and $E000 take effect), the ignored $8000/$9000 and
; mirroring.
; 128 KB PRG (16 banks), 32 KB CHR (32 units), horizontal mirroring in the header.

.include "nes.inc"

MAPPER      = 10
HEADER_BITS = 0
PRG_BANKS   = 16
CODE_BANK   = 15
CHR_UNITS   = 32

.include "mapper_harness.s"

.segment "RAMCODE"
main:
    SNAP                    ; 0: power-on layout
    POKE $A000, 3           ; 16 KB page 3 at $8000
    SNAP                    ; 1
    POKE $B000, 2           ; latch 0 is $FE: no effect
    SNAP                    ; 2
    POKE $CFFF, 5           ; 4 KB CHR page 5 at $0000
    SNAP                    ; 3
    POKE $D000, 1           ; latch 1 is $FE: no effect
    SNAP                    ; 4
    POKE $E000, 6           ; 4 KB CHR page 6 at $1000
    SNAP                    ; 5
    POKE $F000, 0           ; vertical
    SNAP                    ; 6
    POKE $8000, 1           ; ignored
    POKE $9FFF, 1           ; ignored
    SNAP                    ; 7
    jmp finish
