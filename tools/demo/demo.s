; The Vexalo demo cartridge: shows a newcomer that the machine works.
;
; - The word VEXALO in big block letters glides across the top of a starry sky (horizontal
;   scrolling; the name tables are mirrored horizontally, so the title wraps around), its colours
;   cycling.
; - Below it the picture stands still: a star sprite (sprite 0) marks the split line, and once
;   the machine raises the sprite-0 flag the main loop sets the scroll back to 0.
; - A ball bounces around the lower part of the screen.
; - Joypad 1 steers the ship (arrows); A sounds a blip, B sends the ball back the other way,
;   Start stops and restarts the title.
; - A little tune plays on square 1 with a bass line on the triangle.
;
; Everything but the split runs in the NMI handler, once per frame.

.include "nes.inc"

INES_HEADER 1, 1, 0, 0

OAM_PAGE = $0200
; Sprites in the sprite page: 0 the split star, 1-4 the ball, 5-8 the ship.
SPR_SPLIT = OAM_PAGE + 0 * 4
SPR_BALL  = OAM_PAGE + 1 * 4
SPR_SHIP  = OAM_PAGE + 5 * 4

TITLE_ROW_FIRST = 4         ; name-table rows 4-8 hold the title
TITLE_COLUMN    = 5
SPLIT_Y         = 76        ; the split star's top line (below the title's last row, 71)

FIELD_TOP    = 88           ; where the ball and the ship may go
FIELD_BOTTOM = 192
FIELD_RIGHT  = 240

STEP_FRAMES = 12            ; frames per note of the tune
TUNE_STEPS  = 32

; Background tiles ($0000)
TILE_STAR_SMALL = 1
TILE_STAR_BIG   = 2
TILE_BLOCK      = 3
TILE_GRASS      = 4
TILE_EARTH      = 5
; Sprite tiles ($1000)
TILE_BALL       = 1
TILE_SHIP_TOP   = 2
TILE_SHIP_LOW   = 3
TILE_SPLIT_STAR = 4

.segment "ZEROPAGE"
frame:          .res 1
scroll_x:       .res 1
title_moving:   .res 1
colour_phase:   .res 1
ball_x:         .res 1
ball_y:         .res 1
ball_dx:        .res 1
ball_dy:        .res 1
ship_x:         .res 1
ship_y:         .res 1
pad:            .res 1
pad_before:     .res 1
pressed:        .res 1
tune_step:      .res 1
tune_timer:     .res 1
pointer:        .res 2
seen_frame:     .res 1

.segment "CODE"

reset:
    RESET_MACHINE
    WAIT_VBLANK

    ; Empty name tables $2000 and $2800 (and so their mirrors $2400 and $2C00).
    PPU_ADDRESS NAMETABLE_0
    jsr clear_1k
    PPU_ADDRESS NAMETABLE_2
    jsr clear_1k

    ; Stars: address and tile of each.
    ldx #0
:   lda stars + 1, x
    sta PPUADDR
    lda stars, x
    sta PPUADDR
    lda stars + 2, x
    sta PPUDATA
    inx
    inx
    inx
    cpx #stars_end - stars
    bne :-

    ; The title, five rows of 24 tiles.
    lda #<title
    sta pointer
    lda #>title
    sta pointer + 1
    ldx #0                      ; row
title_row:
    lda title_addresses + 1, x
    sta PPUADDR
    lda title_addresses, x
    sta PPUADDR
    ldy #0
:   lda (pointer), y
    sta PPUDATA
    iny
    cpy #24
    bne :-
    lda pointer
    clc
    adc #24
    sta pointer
    bcc :+
    inc pointer + 1
:   inx
    inx
    cpx #10
    bne title_row

    ; Ground: grass on row 26, earth on rows 27-29.
    PPU_ADDRESS NAMETABLE_0 + 26 * 32
    lda #TILE_GRASS
    ldx #32
:   sta PPUDATA
    dex
    bne :-
    lda #TILE_EARTH
    ldx #96
:   sta PPUDATA
    dex
    bne :-

    ; Attributes and palette.
    PPU_ADDRESS NAMETABLE_0 + ATTRIBUTES
    ldx #0
:   lda attributes, x
    sta PPUDATA
    inx
    cpx #64
    bne :-
    LOAD_PALETTE palette

    ; Sprites: all hidden, then the split star; the ball and the ship follow at each frame.
    lda #$FF
    ldx #0
:   sta OAM_PAGE, x
    inx
    bne :-
    lda #SPLIT_Y
    sta SPR_SPLIT
    lda #TILE_SPLIT_STAR
    sta SPR_SPLIT + 1
    lda #2
    sta SPR_SPLIT + 2
    lda #244
    sta SPR_SPLIT + 3

    lda #0
    sta frame
    sta scroll_x
    sta colour_phase
    sta pad
    sta pad_before
    sta tune_step
    lda #1
    sta title_moving
    sta tune_timer
    sta ball_dx
    sta ball_dy
    lda #40
    sta ball_x
    lda #120
    sta ball_y
    lda #120
    sta ship_x
    lda #FIELD_BOTTOM - 8
    sta ship_y
    jsr place_sprites

    ; Sound: all channels on; the triangle's first register is not used by the notes.
    lda #$0F
    sta SND_CHN
    lda #$FF
    sta TRI_LINEAR
    lda #$00
    sta SQ1_SWEEP
    sta SQ2_SWEEP

    lda #0
    sta PPUSCROLL
    sta PPUSCROLL
    lda #CTRL_NMI | CTRL_SPR_1000
    sta PPUCTRL
    lda #MASK_BG | MASK_SPRITES
    sta PPUMASK

; The split: after each NMI wait for the sprite-0 flag, then scroll the rest of the picture to 0.
main:
    lda frame
    sta seen_frame
:   lda frame
    cmp seen_frame
    beq :-
:   bit PPUSTATUS
    bvc :-
    lda #0
    sta PPUSCROLL
    sta PPUSCROLL
    jmp main

nmi:
    pha
    txa
    pha
    tya
    pha

    lda #>OAM_PAGE
    sta OAMDMA

    ; Title colours: the next of four every 16 frames.
    lda frame
    and #15
    bne :+
    lda colour_phase
    clc
    adc #3
    cmp #12
    bcc set_phase
    lda #0
set_phase:
    sta colour_phase
    PPU_ADDRESS PALETTE + 5
    ldx colour_phase
    lda title_colours, x
    sta PPUDATA
    lda title_colours + 1, x
    sta PPUDATA
    lda title_colours + 2, x
    sta PPUDATA
:
    ; The title's scroll for the top of the next frame.
    lda scroll_x
    sta PPUSCROLL
    lda #0
    sta PPUSCROLL
    lda title_moving
    beq :+
    inc scroll_x
:   inc frame

    jsr read_pad
    jsr move_ship
    jsr move_ball
    jsr place_sprites
    jsr play_tune

    pla
    tay
    pla
    tax
    pla
irq:
    rti

; Joypad 1 into `pad` (A in bit 0 ... Right in bit 7); buttons down now but not before into
; `pressed`.
.proc read_pad
    lda pad
    sta pad_before
    STROBE_JOYPADS
    ldx #8
:   lda JOY1
    lsr a
    ror pad
    dex
    bne :-
    lda pad_before
    eor #$FF
    and pad
    sta pressed
    rts
.endproc

; Arrows move the ship two pixels a frame inside the field; A blips, B turns the ball, Start
; stops or starts the title.
.proc move_ship
    lda pad
    and #BUTTON_UP
    beq :+
    lda ship_y
    cmp #FIELD_TOP + 2
    bcc :+
    dec ship_y
    dec ship_y
:   lda pad
    and #BUTTON_DOWN
    beq :+
    lda ship_y
    cmp #FIELD_BOTTOM - 1
    bcs :+
    inc ship_y
    inc ship_y
:   lda pad
    and #BUTTON_LEFT
    beq :+
    lda ship_x
    cmp #2
    bcc :+
    dec ship_x
    dec ship_x
:   lda pad
    and #BUTTON_RIGHT
    beq :+
    lda ship_x
    cmp #FIELD_RIGHT - 1
    bcs :+
    inc ship_x
    inc ship_x
:   lda pressed
    and #BUTTON_A
    beq :+
    lda #$8F                    ; a short high C on square 2
    sta SQ2_VOL
    lda #<BLIP_PERIOD
    sta SQ2_LO
    lda #>BLIP_PERIOD
    sta SQ2_HI
:   lda pressed
    and #BUTTON_B
    beq :+
    lda ball_dx
    eor #$FF
    clc
    adc #1
    sta ball_dx
:   lda pressed
    and #BUTTON_START
    beq :+
    lda title_moving
    eor #1
    sta title_moving
:   rts
.endproc

; The ball moves by (dx, dy) and bounces off the edges of the field.
.proc move_ball
    lda ball_x
    clc
    adc ball_dx
    cmp #FIELD_RIGHT + 1        ; also catches a step left of 0, which wraps to $FF
    bcc :+
    lda ball_dx
    eor #$FF
    clc
    adc #1
    sta ball_dx
    lda ball_x
:   sta ball_x
    lda ball_y
    clc
    adc ball_dy
    cmp #FIELD_TOP
    bcc bounce
    cmp #FIELD_BOTTOM + 1
    bcc :+
bounce:
    lda ball_dy
    eor #$FF
    clc
    adc #1
    sta ball_dy
    lda ball_y
:   sta ball_y
    rts
.endproc

; The ball and the ship, each four sprites of 8 x 8: one quarter tile drawn with flips.
.proc place_sprites
    ldx #0
ball:
    lda ball_y
    clc
    adc quarter_dy, x
    sta SPR_BALL, x
    lda #TILE_BALL
    sta SPR_BALL + 1, x
    lda quarter_flags, x
    sta SPR_BALL + 2, x
    lda ball_x
    clc
    adc quarter_dx, x
    sta SPR_BALL + 3, x
    inx
    inx
    inx
    inx
    cpx #16
    bne ball
    ldx #0
ship:
    lda ship_y
    clc
    adc quarter_dy, x
    sta SPR_SHIP, x
    lda ship_tiles, x
    sta SPR_SHIP + 1, x
    lda quarter_flags, x
    and #SPR_FLIP_H             ; the ship is only mirrored left to right
    ora #1                      ; palette 1
    sta SPR_SHIP + 2, x
    lda ship_x
    clc
    adc quarter_dx, x
    sta SPR_SHIP + 3, x
    inx
    inx
    inx
    inx
    cpx #16
    bne ship
    rts
.endproc

; One step of the tune every STEP_FRAMES frames: a melody note on square 1 (rests are period 0)
; and, every other step, a bass note on the triangle. A square note sounds for 8 frames (length
; index 0), a bass note for 20 (length index 18).
.proc play_tune
    dec tune_timer
    bne done
    lda #STEP_FRAMES
    sta tune_timer
    lda tune_step
    asl a
    tay
    lda melody, y
    ora melody + 1, y
    beq bass
    lda #$9F
    sta SQ1_VOL
    lda melody, y
    sta SQ1_LO
    lda melody + 1, y
    sta SQ1_HI
bass:
    lda tune_step
    lsr a
    bcs next
    tya                         ; Y = step * 2; the bass table has one word per two steps,
    lsr a                       ; so at an even step its byte offset is the step itself
    tay
    lda bass_line, y
    sta TRI_LO
    lda bass_line + 1, y
    ora #18 << 3
    sta TRI_HI
next:
    ldx tune_step
    inx
    cpx #TUNE_STEPS
    bne :+
    ldx #0
:   stx tune_step
done:
    rts
.endproc

.proc clear_1k
    CLEAR_VIDEO_1K
    rts
.endproc

.segment "RODATA"

; Periods of the notes: the machine plays 111860 / (period + 1) Hz as the nearest lower MIDI
; note, so each period sits inside its note.
C5 = $0CF
D5 = $0B8
E5 = $0A4
F5 = $09B
G5 = $08A
C3 = $33E
G2 = $454
REST = 0
BLIP_PERIOD = $067          ; C6

melody:
    .word E5, E5, F5, G5, G5, F5, E5, D5, C5, C5, D5, E5, E5, D5, D5, REST
    .word E5, E5, F5, G5, G5, F5, E5, D5, C5, C5, D5, E5, D5, C5, C5, REST
bass_line:                  ; one note every two steps
    .word C3, C3, G2, G2, C3, C3, G2, G2
    .word C3, C3, G2, G2, C3, G2, C3, C3

; Offsets and flips of the four quarters of a 16 x 16 sprite, indexed by 4 * quarter.
quarter_dy:     .byte 0, 0, 0, 0,  0, 0, 0, 0,  8, 0, 0, 0,  8, 0, 0, 0
quarter_dx:     .byte 0, 0, 0, 0,  8, 0, 0, 0,  0, 0, 0, 0,  8, 0, 0, 0
quarter_flags:  .byte 0, 0, 0, 0,  SPR_FLIP_H, 0, 0, 0,  SPR_FLIP_V, 0, 0, 0
                .byte SPR_FLIP_H | SPR_FLIP_V, 0, 0, 0
ship_tiles:     .byte TILE_SHIP_TOP, 0, 0, 0,  TILE_SHIP_TOP, 0, 0, 0
                .byte TILE_SHIP_LOW, 0, 0, 0,  TILE_SHIP_LOW, 0, 0, 0

title_colours:              ; highlight, body, shade
    .byte $31, $21, $11,  $37, $27, $17,  $3A, $2A, $1A,  $34, $24, $14

palette:
    .byte $0F, $30, $10, $00,  $0F, $31, $21, $11,  $0F, $2A, $1A, $0A,  $0F, $16, $26, $36
    .byte $0F, $37, $27, $17,  $0F, $30, $21, $11,  $0F, $30, $38, $28,  $0F, $26, $16, $06

; Title rows 0-4 and 8-9 use palette 1 (rows 8-9 share attribute bytes with rows 10-11, which
; stay on palette 0); the ground, rows 26-29, palette 2.
attributes:
    .byte $00, $00, $00, $00, $00, $00, $00, $00
    .byte $55, $55, $55, $55, $55, $55, $55, $55
    .byte $05, $05, $05, $05, $05, $05, $05, $05
    .byte $00, $00, $00, $00, $00, $00, $00, $00
    .byte $00, $00, $00, $00, $00, $00, $00, $00
    .byte $00, $00, $00, $00, $00, $00, $00, $00
    .byte $A0, $A0, $A0, $A0, $A0, $A0, $A0, $A0
    .byte $0A, $0A, $0A, $0A, $0A, $0A, $0A, $0A

; A title row: 'X' is a block, anything else empty.
.macro TITLE_ROW text
    .repeat .strlen(text), i
        .if .strat(text, i) = 'X'
            .byte TILE_BLOCK
        .else
            .byte 0
        .endif
    .endrepeat
.endmacro

title:
    ;          V   E   X   A   L   O
    TITLE_ROW "X.X.XXX.X.X..X..X...XXX."
    TITLE_ROW "X.X.X...X.X.X.X.X...X.X."
    TITLE_ROW "X.X.XX...X..XXX.X...X.X."
    TITLE_ROW "X.X.X...X.X.X.X.X...X.X."
    TITLE_ROW ".X..XXX.X.X.X.X.XXX.XXX."

title_addresses:
    .repeat 5, row
        .word NAMETABLE_0 + (TITLE_ROW_FIRST + row) * 32 + TITLE_COLUMN
    .endrepeat

; A star in the sky: name-table row, column and tile.
.macro STAR row, column, tile
    .word NAMETABLE_0 + (row) * 32 + (column)
    .byte tile
.endmacro

stars:
    STAR  1, 29, TILE_STAR_BIG
    STAR  2,  5, TILE_STAR_SMALL
    STAR  2,  8, TILE_STAR_SMALL
    STAR  2, 14, TILE_STAR_SMALL
    STAR  2, 19, TILE_STAR_BIG
    STAR  5, 31, TILE_STAR_SMALL
    STAR  8,  3, TILE_STAR_SMALL
    STAR  9, 30, TILE_STAR_SMALL
    STAR 10,  4, TILE_STAR_BIG
    STAR 10, 26, TILE_STAR_SMALL
    STAR 11,  9, TILE_STAR_SMALL
    STAR 11, 22, TILE_STAR_SMALL
    STAR 11, 28, TILE_STAR_BIG
    STAR 12,  6, TILE_STAR_SMALL
    STAR 12, 19, TILE_STAR_SMALL
    STAR 13,  3, TILE_STAR_SMALL
    STAR 14, 26, TILE_STAR_BIG
    STAR 15, 29, TILE_STAR_SMALL
    STAR 16, 27, TILE_STAR_SMALL
    STAR 17, 13, TILE_STAR_SMALL
    STAR 17, 31, TILE_STAR_BIG
    STAR 18,  4, TILE_STAR_SMALL
    STAR 18, 11, TILE_STAR_SMALL
    STAR 19, 19, TILE_STAR_SMALL
    STAR 19, 25, TILE_STAR_BIG
    STAR 19, 29, TILE_STAR_SMALL
    STAR 20,  7, TILE_STAR_SMALL
    STAR 20, 13, TILE_STAR_SMALL
    STAR 20, 31, TILE_STAR_BIG
    STAR 21, 28, TILE_STAR_SMALL
    STAR 22,  4, TILE_STAR_SMALL
    STAR 22, 22, TILE_STAR_SMALL
    STAR 23, 15, TILE_STAR_BIG
    STAR 25, 20, TILE_STAR_SMALL
stars_end:

.segment "VECTORS"
    .word nmi, reset, irq

.segment "CHARS"
; Background patterns ($0000)
    SOLID_TILE 0
    ; 1: small star
    TILE "........", "........", "........", "...1....", "........", "........", "........", "........"
    ; 2: big star
    TILE "........", "...2....", "...1....", ".21112..", "...1....", "...2....", "........", "........"
    ; 3: block of the title letters: lit top-left, shaded bottom-right
    TILE "11111112", "12222223", "12222223", "12222223", "12222223", "12222223", "12222223", "23333333"
    ; 4: grass
    TILE ".2...2..", "121.121.", "11111111", "11111111", "13111311", "33333333", "33333333", "33333333"
    ; 5: earth
    TILE "33333333", "33313333", "33333333", "33333133", "31333333", "33333333", "33331333", "33333333"
    .res $1000 - 6 * 16
; Sprite patterns ($1000)
    SOLID_TILE 0
    ; 1: top-left quarter of the ball
    TILE ".......3", "....3333", "...33222", "..322222", ".3322222", ".3222211", ".3222111", "33222111"
    ; 2, 3: left half of the ship, top and bottom
    TILE ".......3", "......33", "......32", ".....321", ".....321", "....3221", "....3222", "...32222"
    TILE "..322222", ".3222222", "32222332", "32223..3", "3223....", "323.....", "33......", "3......."
    ; 4: the split star
    TILE "...3....", "..323...", "3322233.", ".32223..", "..3.3...", "........", "........", "........"
