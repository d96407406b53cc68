; Mapper 71 (Camerica): $C000-$FFFF selects the 16 KB page at $8000 with bits 0-3, the last page
; stays at $C000; a write at $9000-$9FFF shows the low or the high screen of name-table memory
; in all four tables (bit 4), and the header's arrangement holds until then; $8000-$8FFF and
; $A000-$BFFF are no registers. Every page is shown once at $8000.
; 256 KB PRG (32 banks, the code in the last), pattern RAM, vertical mirroring in the header.

.include "nes.inc"

MAPPER      = 71
HEADER_BITS = INES_VERTICAL
PRG_BANKS   = 32
CODE_BANK   = 31
CHR_UNITS   = 0
SCREEN_MARKS = 1

.include "mapper_harness.s"

.segment "RAMCODE"
main:
    SNAP                    ; 0: power-on layout, vertical
    POKE $9000, $00         ; the low screen
    MARK_SCREEN NAMETABLE_0, $11
    POKE $9FFF, $10         ; the high screen
    MARK_SCREEN NAMETABLE_0, $22
    SNAP                    ; 1
    POKE $9000, $EF         ; bit 4 clear: the low screen again
    SNAP                    ; 2
    POKE $8000, $10         ; no register
    POKE $A000, $10         ; no register
    SNAP                    ; 3
    POKE $C000, 5
    SNAP                    ; 4: page 5
    POKE $FFFF, $FA         ; bits 0-3: page 10
    SNAP                    ; 5
    ldx #0                  ; then the bank at $8000 for each page 0-15
sweep:
    stx $C000
    PRG_WINDOW $8000
    inx
    cpx #16
    bne sweep
    jmp finish
