; Mapper 9 (MMC2): the PRG layout after set-up (bank 0 at $8000, the last three banks above),
; the $A000 PRG register, the CHR registers (with the latches fixed at $FE, $B000/$C000 and $E000
; take effect and $D000 never does), the ignored $8000/$9000 and mirroring.
; 128 KB PRG (16 banks), 32 KB CHR (32 units), horizontal mirroring in the header.

.include "nes.inc"

MAPPER      = 9
HEADER_BITS = 0
PRG_BANKS   = 16
CODE_BANK   = 15
CHR_UNITS   = 32

.include "mapper_harness.s"

.segment "RAMCODE"
main:
    SNAP                    ; 0: layout after set-up
    POKE $A000, 5           ; bank 5 at $8000
    SNAP                    ; 1
    POKE $AFFF, 7           ; decoded as $A000
    SNAP                    ; 2
    POKE $8000, 3           ; ignored
    POKE $9000, 3           ; ignored
    SNAP                    ; 3
    POKE $B000, 2           ; 4 KB CHR page 2 at $0000
    SNAP                    ; 4
    POKE $C000, 4           ; 4 KB CHR page 4 at $0000
    SNAP                    ; 5
    POKE $D000, 6           ; latch is $FE: no effect
    SNAP                    ; 6
    POKE $EFFF, 3           ; 4 KB CHR page 3 at $1000
    SNAP                    ; 7
    POKE $F000, 0           ; vertical
    SNAP                    ; 8
    POKE $F000, 1           ; horizontal
    SNAP                    ; 9
    jmp finish
