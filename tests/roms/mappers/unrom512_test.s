; Mapper 30 (UNROM 512) with the four-screen bit alone in the header: one register at
; $8000-$FFFF, bits 0-4 the 16 KB page at $8000 (the last page stays at $C000), bits 5-6 one of
; four banks of pattern RAM (which keep their bytes), bit 7 the screen of name-table memory
; shown in all four tables. At the end every page is shown once at $8000.
; 512 KB PRG (64 banks, the code in the last), pattern RAM.

.include "nes.inc"

MAPPER      = 30
HEADER_BITS = INES_FOUR_SCREEN
PRG_BANKS   = 64
CODE_BANK   = 63
CHR_UNITS   = 0
SCREEN_MARKS = 1
PATTERN_RAM_BANKS = 1

.include "mapper_harness.s"

.segment "RAMCODE"
main:
    SNAP                    ; 0: power-on layout: page 0, bank 0, the low screen
    MARK_SCREEN NAMETABLE_0, $11
    POKE $8000, $80         ; the high screen
    MARK_SCREEN NAMETABLE_0, $22
    SNAP                    ; 1
    POKE $C000, $20         ; pattern RAM bank 1, the low screen
    lda #8
    jsr mark_pattern_bank
    POKE $E000, $C0         ; bank 2, the high screen
    lda #16
    jsr mark_pattern_bank
    POKE $FFFF, $65         ; bank 3, page 5, the low screen
    lda #24
    jsr mark_pattern_bank
    SNAP                    ; 2
    POKE $8000, $BF         ; page 31, bank 1, the high screen
    SNAP                    ; 3
    POKE $A000, $1F         ; page 31, bank 0, the low screen
    SNAP                    ; 4
    ldx #0                  ; then the bank at $8000 for each page 0-31
sweep:
    stx $8000
    PRG_WINDOW $8000
    inx
    cpx #32
    bne sweep
    jmp finish
