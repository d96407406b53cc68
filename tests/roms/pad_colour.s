; pad_colour: shows player 1's joypad as the colour of the whole picture, and floods the log.
;
; Every NMI reads pad 1 and sets the backdrop: red ($16) while Right is held, blue ($12) while
; Start is held, green ($2A) otherwise. The background is on with blank tiles, so the backdrop
; fills the picture. Between NMIs the program reads the unmapped address $5000 without end, one
; ignored read every four cycles.

.include "nes.inc"

INES_HEADER 1, 1, 0, 0

.segment "ZEROPAGE"
pad1:   .res 1

.segment "CODE"

reset:
    RESET_MACHINE
    WAIT_VBLANK
    lda #$08            ; background on
    sta PPUMASK
    lda #CTRL_NMI
    sta PPUCTRL
noise:
    lda $5000
    jmp noise

nmi:
    pha
    txa
    pha
    STROBE_JOYPADS
    ldx #8
:   lda JOY1
    lsr a
    ror pad1            ; A ends in bit 0, Right in bit 7
    dex
    bne :-
    bit pad1
    bpl :+
    lda #$16            ; Right
    bne @set
:   lda pad1
    and #$08
    beq @green
    lda #$12            ; Start
    bne @set
@green:
    lda #$2A
@set:
    ldx #$3F
    stx PPUADDR
    ldx #$00
    stx PPUADDR
    sta PPUDATA
    stx PPUSCROLL
    stx PPUSCROLL
    pla
    tax
    pla
    rti

irq:
    rti

.segment "VECTORS"
    .word nmi, reset, irq
