; busy: keeps the CPU busy for the whole frame the way a game does, and draws a full screen.
; This is the load of the emulation benchmark, and the cartridge tests check that it runs.
;
; The main loop never waits: it steps a 16-bit LFSR, mixes it into a 256-byte table with
; indexed and indirect accesses and counts its rounds in LOOP_COUNT (24 bits). The NMI counts
; frames in FRAME_COUNT (16 bits), copies the sprite page, updates the sprites and a row of tiles
; and scrolls the picture one pixel a frame. Background and sprites are on.

.include "nes.inc"

INES_HEADER 1, 1, 0, INES_VERTICAL

FRAME_COUNT = $0700         ; 16 bits, + 1 at every NMI
LOOP_COUNT  = $0702         ; 24 bits, + 1 at every round of the main loop
OAM_PAGE    = $0200
TABLE       = $0400         ; work table of the main loop

.segment "ZEROPAGE"
lfsr:       .res 2
pointer:    .res 2
sum:        .res 1
scroll_x:   .res 1
nmi_save_a: .res 1
nmi_save_x: .res 1
nmi_save_y: .res 1

.segment "CODE"

reset:
    RESET_MACHINE
    sta FRAME_COUNT
    sta FRAME_COUNT + 1
    sta LOOP_COUNT
    sta LOOP_COUNT + 1
    sta LOOP_COUNT + 2
    sta scroll_x
    lda #$AC
    sta lfsr
    lda #$E1
    sta lfsr + 1
    lda #<TABLE
    sta pointer
    lda #>TABLE
    sta pointer + 1

    ; Both name tables: tile (row + column) AND 7, attributes by area.
    PPU_ADDRESS NAMETABLE_0
    jsr fill_name_table
    PPU_ADDRESS NAMETABLE_1
    jsr fill_name_table

    ; Palette: 32 entries.
    LOAD_PALETTE palette

    ; 64 sprites in a grid of 8 columns: sprite n (OAM offset x = 4n) at column n AND 7, row n / 8.
    ldx #0
:   txa
    lsr a
    lsr a
    and #$38                    ; row * 8
    sta sum
    asl a
    adc sum                     ; row * 24
    adc #24
    sta OAM_PAGE, x             ; Y
    txa
    lsr a
    lsr a
    and #7
    sta OAM_PAGE + 1, x         ; tile
    and #3
    sta OAM_PAGE + 2, x         ; palette
    txa
    asl a
    asl a
    asl a
    and #$E0                    ; column * 32
    clc
    adc #8
    sta OAM_PAGE + 3, x         ; X
    inx
    inx
    inx
    inx
    bne :-

    lda #0
    sta PPUSCROLL
    sta PPUSCROLL
    lda #CTRL_NMI | CTRL_SPR_1000
    sta PPUCTRL
    lda #MASK_BG | MASK_SPRITES
    sta PPUMASK

; The work: never waits for anything.
main:
    ; 16-bit Galois LFSR step
    lsr lfsr + 1
    ror lfsr
    bcc :+
    lda lfsr + 1
    eor #$B4
    sta lfsr + 1
:   ; mix into the table through the pointer and by index
    ldy lfsr
    lda (pointer), y
    clc
    adc lfsr + 1
    sta (pointer), y
    tax
    lda TABLE, x
    eor sum
    sta sum
    inc TABLE, x
    ; a little arithmetic on the stack
    pha
    lda sum
    asl a
    rol a
    sta sum
    pla
    ; count the round
    inc LOOP_COUNT
    bne main
    inc LOOP_COUNT + 1
    bne main
    inc LOOP_COUNT + 2
    jmp main

nmi:
    sta nmi_save_a
    stx nmi_save_x
    sty nmi_save_y
    lda #>OAM_PAGE
    sta OAMDMA
    ; one row of tiles from the work table, so the name table keeps changing
    PPU_ADDRESS NAMETABLE_0 + 29 * 32
    ldx #0
:   lda TABLE, x
    and #7
    sta PPUDATA
    inx
    cpx #32
    bne :-
    ; sprites drift down
    ldx #0
:   inc OAM_PAGE, x
    inx
    inx
    inx
    inx
    bne :-
    inc scroll_x
    lda scroll_x
    sta PPUSCROLL
    lda #0
    sta PPUSCROLL
    inc FRAME_COUNT
    bne :+
    inc FRAME_COUNT + 1
:   ldy nmi_save_y
    ldx nmi_save_x
    lda nmi_save_a
    rti

irq:
    rti

; Writes 960 tiles and 64 attribute bytes at the current video address.
.proc fill_name_table
    ldy #0                      ; row
row:
    ldx #0                      ; column
column:
    stx sum
    tya
    clc
    adc sum
    and #7
    sta PPUDATA
    inx
    cpx #32
    bne column
    iny
    cpy #30
    bne row
    ldx #0
attributes:
    txa
    and #$1B
    sta PPUDATA
    inx
    cpx #64
    bne attributes
    rts
.endproc

.segment "RODATA"
palette:
    .byte $0F, $01, $11, $21,  $0F, $06, $16, $26,  $0F, $09, $19, $29,  $0F, $02, $12, $22
    .byte $0F, $14, $24, $34,  $0F, $17, $27, $37,  $0F, $1A, $2A, $3A,  $0F, $10, $20, $30

.segment "VECTORS"
    .word nmi, reset, irq

; Eight background tiles at $0000 and eight sprite tiles at $1000.
.segment "CHARS"
    SOLID_TILE 0
    SOLID_TILE 1
    SOLID_TILE 2
    SOLID_TILE 3
    TILE "11112222", "11112222", "11112222", "11112222", "33330000", "33330000", "33330000", "33330000"
    TILE "1.1.1.1.", ".2.2.2.2", "3.3.3.3.", ".1.1.1.1", "2.2.2.2.", ".3.3.3.3", "1.1.1.1.", ".2.2.2.2"
    TILE "....11..", "...1221.", "..123321", ".1233332", "12333321", ".1233210", "..12210.", "...11..."
    TILE "3333333.", "3.....3.", "3.222.3.", "3.2.2.3.", "3.222.3.", "3.....3.", "3333333.", "........"
    .res $1000 - 8 * 16
    TILE "..3333..", ".322223.", "32111123", "32111123", "32111123", "32111123", ".322223.", "..3333.."
    TILE "1......1", ".2....2.", "..3..3..", "...33...", "...33...", "..3..3..", ".2....2.", "1......1"
    TILE "11111111", "1......1", "1.2222.1", "1.2332.1", "1.2332.1", "1.2222.1", "1......1", "11111111"
    TILE "...3....", "..333...", ".33333..", "3333333.", "...2....", "...2....", "...2....", "...2...."
    TILE "2.2.2.2.", "2.2.2.2.", "2.2.2.2.", "2.2.2.2.", "2.2.2.2.", "2.2.2.2.", "2.2.2.2.", "2.2.2.2."
    TILE "33....33", "33....33", "..3333..", "..3333..", "..3333..", "..3333..", "33....33", "33....33"
    TILE "........", ".111111.", ".1....1.", ".1.22.1.", ".1.22.1.", ".1....1.", ".111111.", "........"
    TILE "12312312", "23123123", "31231231", "12312312", "23123123", "31231231", "12312312", "23123123"
