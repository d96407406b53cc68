; hscroll: a side-scroller's screen. The top four tile rows are a status bar that stays put; the
; rest of the screen scrolls one pixel a frame across both name tables, a new column of tiles
; being written each time eight pixels have scrolled by. The split is timed by the sprite-0 flag:
; sprite 0 sits on the status bar's last line, the main loop waits for the flag to clear and to
; rise again (BIT $2002 / BVS, BIT $2002 / BVC), then sets the scroll for the rest of the frame.

.include "bench.inc"

INES_HEADER 1, 1, 0, INES_VERTICAL

FRAME_COUNT = $0700         ; 16 bits, + 1 at every NMI
STATUS_ROWS = 4

.segment "ZEROPAGE"
scroll:     .res 2          ; 9 bits: pixel column of the left edge across both name tables
column:     .res 1          ; next column of tiles to rewrite (0-63)
column_tile: .res 1

.segment "CODE"

reset:
    RESET_MACHINE
    sta FRAME_COUNT
    sta FRAME_COUNT + 1
    sta scroll
    sta scroll + 1
    sta column
    jsr setup_screen
    ; the status bar: solid tiles on both name tables
    PPU_ADDRESS NAMETABLE_0
    lda #1
    ldx #STATUS_ROWS * 32
:   sta PPUDATA
    dex
    bne :-
    ; sprite 0 on the status bar's last line, the other sprites stay as they are
    lda #STATUS_ROWS * 8 - 2
    sta OAM_PAGE
    lda #2                      ; a tile with pixels on every line
    sta OAM_PAGE + 1
    lda #0
    sta OAM_PAGE + 2
    lda #16
    sta OAM_PAGE + 3
    PICTURE_ON CTRL_NMI | CTRL_SPR_1000

main:
:   bit PPUSTATUS               ; the flag of the last frame is cleared in the vertical blank
    bvs :-
:   bit PPUSTATUS               ; ... and rises at the end of the status bar
    bvc :-
    lda scroll
    sta PPUSCROLL
    lda #0
    sta PPUSCROLL
    lda scroll + 1
    and #1
    ora #CTRL_NMI | CTRL_SPR_1000
    sta PPUCTRL
    jmp main

nmi:
    pha
    txa
    pha
    lda #>OAM_PAGE
    sta OAMDMA
    ; a new column where the scroll has crossed a tile boundary
    lda scroll
    and #7
    bne no_column
    lda #CTRL_NMI | CTRL_SPR_1000 | CTRL_INC_32
    sta PPUCTRL
    lda column
    and #$20
    lsr a
    lsr a
    lsr a                       ; 4 for the right name table
    ora #>NAMETABLE_0
    sta PPUADDR
    lda column
    and #$1F
    ora #STATUS_ROWS * 32
    sta PPUADDR
    lda FRAME_COUNT
    lsr a
    lsr a
    lsr a
    sta column_tile
    ldx #30 - STATUS_ROWS
:   inc column_tile
    lda column_tile
    and #7
    sta PPUDATA
    dex
    bne :-
    inc column
    lda column
    and #$3F
    sta column
no_column:
    ; the status bar from the left name table, unscrolled
    lda #CTRL_NMI | CTRL_SPR_1000
    sta PPUCTRL
    lda #0
    sta PPUSCROLL
    sta PPUSCROLL
    inc scroll
    bne :+
    inc scroll + 1
:   inc FRAME_COUNT
    bne :+
    inc FRAME_COUNT + 1
:   pla
    tax
    pla
irq:
    rti

.segment "VECTORS"
    .word nmi, reset, irq
