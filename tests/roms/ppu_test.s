; ppu_test: builds a known picture through the picture processor's registers, so that the tests
; can check the frame buffer pixel by pixel.
;
; Patterns: sprites use the table at $0000, the background the table at $1000 (the same tile
; numbers hold different pictures in the two, so a wrong table shows). Mirroring is horizontal:
; $2000 and $2400 hold the same bytes.
;
; Background (name table $2000, scroll 0 at the top):
;   - GLYPH at column 2, row 2 (pixels 16-23, 16-23) and column 4, row 2 (32-39, 16-23), both
;     with palette 3.
;   - Row 12 (pixels y 96-103): column c holds the solid tile of colour 1 + c MOD 3; the
;     attribute bytes give the 32-pixel block b palette b AND 3.
;   - Column 0 of rows 15 and 16 (y 120-135): solid colour 1, written as a column (address step
;     32).
;   - GLYPH at column 10, row 18 (x 80-87, y 144-151), palette 0.
; Split: sprite 0 (rows 120-123, only its first four rows opaque) raises the sprite-0 flag at
; line 124; the main loop polls for it and writes scroll X = SPLIT_SCROLL_X, which the picture
; shows from line 126 on. Every NMI writes scroll (0, $F0); the $F0 is ignored by the machine.
;
; Sprites: see the sprite table below. Results of register read-backs and the sprite-0 polling
; are kept at RESULTS.

.include "nes.inc"

INES_HEADER 1, 1, 0, 0

SPLIT_SCROLL_X = 19

OAM_PAGE = $0200
RESULTS  = $0300
; RESULTS + 0: first PPUDATA read after setting the address $2B80 (a dummy read)
; RESULTS + 1: second read (the byte written there, $5A)
; RESULTS + 2, + 3: the same two reads at $2F80, the mirror of $2B80, after a 3-byte address
; RESULTS + 4: frames in which the main loop saw the sprite-0 flag
; RESULTS + 5: PPUSTATUS as read when the flag was seen
; RESULTS + 6: frames counted by the NMI
HIT_COUNT   = RESULTS + 4
HIT_STATUS  = RESULTS + 5
FRAME_COUNT = RESULTS + 6

.segment "ZEROPAGE"
nmi_save_a: .res 1
seen_frame: .res 1

.segment "CODE"

reset:
    RESET_MACHINE
    ldx #7
:   sta RESULTS, x
    dex
    bpl :-
    WAIT_VBLANK

    ; Clear name tables $2000 and $2800 (their mirrors follow).
    PPU_ADDRESS NAMETABLE_0
    jsr clear_1k
    PPU_ADDRESS NAMETABLE_2
    jsr clear_1k

    ; The two glyphs at the top.
    PPU_ADDRESS NAMETABLE_0 + 2 * 32 + 2
    lda #4
    sta PPUDATA
    PPU_ADDRESS NAMETABLE_0 + 2 * 32 + 4
    lda #4
    sta PPUDATA

    ; Row 12: colours 1, 2, 3, 1, 2, 3, ...
    PPU_ADDRESS NAMETABLE_0 + 12 * 32
    ldx #0
    ldy #1
:   sty PPUDATA
    iny
    cpy #4
    bne :+
    ldy #1
:   inx
    cpx #32
    bne :--

    ; Column 0 of rows 15 and 16, written downwards.
    lda #CTRL_INC_32
    sta PPUCTRL
    PPU_ADDRESS NAMETABLE_0 + 15 * 32
    lda #1
    sta PPUDATA
    sta PPUDATA
    lda #0
    sta PPUCTRL

    ; The glyph below the split.
    PPU_ADDRESS NAMETABLE_0 + 18 * 32 + 10
    lda #4
    sta PPUDATA

    ; Attributes: palette 3 for both glyphs at the top; palettes 0-3 by block for rows 12-15.
    PPU_ADDRESS NAMETABLE_0 + ATTRIBUTES
    lda #$C0                    ; columns 2-3, rows 2-3: palette 3
    sta PPUDATA
    lda #$30                    ; columns 4-5, rows 2-3: palette 3
    sta PPUDATA
    PPU_ADDRESS NAMETABLE_0 + ATTRIBUTES + 3 * 8
    ldx #0
:   lda block_attributes, x
    sta PPUDATA
    inx
    cpx #8
    bne :-

    ; Palette: entry i holds $10 + i; then $0F at $3F10 sets every colour-0 entry.
    PPU_ADDRESS PALETTE
    ldx #$10
:   stx PPUDATA
    inx
    cpx #$30
    bne :-
    PPU_ADDRESS PALETTE_SPR
    lda #$0F
    sta PPUDATA

    ; Read-back: the first read after an address write is a dummy.
    PPU_ADDRESS NAMETABLE_2 + $380
    lda #$5A
    sta PPUDATA
    PPU_ADDRESS NAMETABLE_2 + $380
    lda PPUDATA
    sta RESULTS + 0
    lda PPUDATA
    sta RESULTS + 1
    ; No write toggle: of $12, $2F, $80 the last two form the address $2F80.
    lda #$12
    sta PPUADDR
    lda #>(NAMETABLE_3 + $380)
    sta PPUADDR
    lda #<(NAMETABLE_3 + $380)
    sta PPUADDR
    lda PPUDATA
    sta RESULTS + 2
    lda PPUDATA
    sta RESULTS + 3

    ; Sprites: all hidden, then the table, copied by DMA.
    lda #$FF
    ldx #0
:   sta OAM_PAGE, x
    inx
    bne :-
    ldx #0
:   lda sprites, x
    sta OAM_PAGE, x
    inx
    cpx #sprites_end - sprites
    bne :-
    lda #>OAM_PAGE
    sta OAMDMA
    ; Sprite 6 through OAMADDR / OAMDATA.
    lda #6 * 4
    sta OAMADDR
    ldx #0
:   lda sprite6, x
    sta OAMDATA
    inx
    cpx #4
    bne :-

    lda #0
    sta PPUSCROLL
    sta PPUSCROLL
    lda #CTRL_NMI | CTRL_BG_1000
    sta PPUCTRL
    lda #MASK_BG | MASK_SPRITES
    sta PPUMASK

; Each frame: wait for the NMI, then for the sprite-0 flag, then scroll the rest of the picture.
main:
    lda FRAME_COUNT
    sta seen_frame
:   lda FRAME_COUNT
    cmp seen_frame
    beq :-
poll:
    lda PPUSTATUS
    tax
    and #STATUS_SPRITE0
    beq poll
    lda #SPLIT_SCROLL_X
    sta PPUSCROLL
    lda #0
    sta PPUSCROLL
    stx HIT_STATUS
    inc HIT_COUNT
    jmp main

nmi:
    sta nmi_save_a
    lda #0
    sta PPUSCROLL
    lda #$F0                    ; out of range: the vertical scroll stays 0
    sta PPUSCROLL
    inc FRAME_COUNT
    lda nmi_save_a
    rti

irq:
    rti

.proc clear_1k
    CLEAR_VIDEO_1K
    rts
.endproc

.segment "RODATA"
block_attributes:
    .byte $00, $55, $AA, $FF, $00, $55, $AA, $FF

; Y, tile, attributes, X. A sprite's top row lands on line Y.
sprites:
    .byte 120, 2, $00, 240                      ; 0: the split sprite, rows 0-3 opaque
    .byte 40, 1, $01, 100                       ; 1: glyph, palette 1
    .byte 40, 1, SPR_FLIP_H | $02, 120          ; 2: glyph flipped left-right, palette 2
    .byte 56, 1, SPR_FLIP_V | $03, 100          ; 3: glyph flipped upside down, palette 3
    .byte 92, 3, SPR_BEHIND | $00, 12           ; 4: behind; rows 92-95 on colour 0, 96-99 on row 12
    .byte 16, 3, SPR_BEHIND | $01, 32           ; 5: behind, over the glyph at 32-39, 16-23
    .byte $FF, 0, 0, 0                          ; 6: set through OAMDATA below
    .byte 44, 3, $02, 104                       ; 7: under sprite 1 (lower numbers cover higher)
sprites_end:
sprite6:
    .byte 64, 1, $00, 200                       ; 6: glyph, palette 0

.segment "VECTORS"
    .word nmi, reset, irq

.segment "CHARS"
; Sprite patterns ($0000)
    SOLID_TILE 0
    ; 1: GLYPH
    TILE "3.......", "33......", "3.3.....", "3..3....", "3...3...", "3....3..", "3.....3.", "12121212"
    ; 2: four opaque rows, then nothing
    TILE "11111111", "11111111", "11111111", "11111111", "........", "........", "........", "........"
    SOLID_TILE 3
    SOLID_TILE 2                ; 4: not the glyph (the background's tile 4 is)
    .res $1000 - 5 * 16
; Background patterns ($1000)
    SOLID_TILE 0
    SOLID_TILE 1
    SOLID_TILE 2
    SOLID_TILE 3
    ; 4: GLYPH
    TILE "3.......", "33......", "3.3.....", "3..3....", "3...3...", "3....3..", "3.....3.", "12121212"
