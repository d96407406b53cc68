; Mapper 28 (Action 53): a write at $5000-$5FFF selects a register by bits 7 and 0 of its value
; ($00 CHR bank, $01 inner PRG bank, $80 mode, $81 outer PRG bank) and writes at $8000-$FFFF go
; to it. The mode: bits 0-1 the mirroring (the low screen, the high screen, vertical,
; horizontal), bits 2-3 the PRG layout (32 KB; 16 KB with $8000 fixed; 16 KB with $C000 fixed),
; bits 4-5 the game size (32, 64, 128, 256 KB) that says how many low bits of the outer bank the
; inner bank replaces. In the single-screen modes bit 4 of a CHR or inner bank write picks the
; screen. Power-on: the last 32 KB, the low screen. The CHR register selects one of four banks
; of pattern RAM, which keep their bytes. At the end every 32 KB outer bank of the first 512 KB
; is shown once.
; 512 KB PRG (64 banks, the code in the last), pattern RAM, horizontal mirroring in the header.

.include "nes.inc"

MAPPER      = 28
HEADER_BITS = 0
PRG_BANKS   = 64
CODE_BANK   = 63
CHR_UNITS   = 0
SCREEN_MARKS = 1
PATTERN_RAM_BANKS = 1

.include "mapper_harness.s"

; Register select, then the value.
.macro REG select, value
    POKE $5000, select
    POKE $8000, value
.endmacro

.segment "RAMCODE"
main:
    SNAP                    ; 0: power-on layout
    MARK_SCREEN NAMETABLE_0, $11
    REG $80, $01            ; the high screen, 32 KB layout of a 32 KB game
    MARK_SCREEN NAMETABLE_0, $22
    SNAP                    ; 1
    REG $81, $02            ; outer bank 2: pages 4 and 5
    SNAP                    ; 2
    REG $80, $12            ; a 64 KB game, vertical
    REG $01, $01            ; inner bank 1: pages 6 and 7
    SNAP                    ; 3
    REG $01, $13            ; only bit 0 counts in a 64 KB game; bit 4 picks no screen here
    SNAP                    ; 4
    REG $80, $2F            ; $C000 fixed, a 128 KB game, horizontal
    REG $81, $07            ; outer bank 7: page 15 fixed
    REG $01, $05            ; $8000: page 8 + 5
    SNAP                    ; 5
    REG $80, $3A            ; $8000 fixed (page 14), a 256 KB game, vertical: $C000 page 5
    SNAP                    ; 6
    REG $01, $1B            ; bits 0-3: page 11 at $C000
    SNAP                    ; 7
    REG $80, $30            ; 32 KB layout of a 256 KB game, the low screen
    REG $81, $0B            ; outer 11: pages 16 + (inner 11 x 2 AND 15)
    SNAP                    ; 8
    REG $00, $10            ; a CHR write with bit 4: the high screen; CHR bank 0
    SNAP                    ; 9
    REG $01, $04            ; an inner bank write without it: the low screen; pages 24 and 25
    SNAP                    ; 10
    REG $00, 1              ; each pattern RAM bank gets its own marks
    lda #8
    jsr mark_pattern_bank
    REG $00, 2
    lda #16
    jsr mark_pattern_bank
    REG $00, 3
    lda #24
    jsr mark_pattern_bank
    SNAP                    ; 11
    REG $00, 1
    SNAP                    ; 12
    POKE $5FFF, $7E         ; bits 7 and 0 clear: the CHR register
    POKE $FFFF, $04         ; bits 0-1: bank 0
    SNAP                    ; 13
    REG $80, $00            ; then each outer bank 0-15 of a 32 KB game
    POKE $5000, $81
    ldx #0
sweep:
    stx $8000
    PRG_WINDOW $8000
    PRG_WINDOW $E000
    inx
    cpx #16
    bne sweep
    jmp finish
