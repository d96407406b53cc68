; joypad: reads both joypads all frame long, the way some games read them until two readings
; agree: strobe, then eight times LDA $4016 / AND #$03 / CMP #$01 / ROR, the same for $4017,
; compare with the previous reading and start over. The NMI copies the sprites and counts frames.

.include "bench.inc"

INES_HEADER 1, 1, 0, INES_VERTICAL

FRAME_COUNT = $0700         ; 16 bits, + 1 at every NMI
STABLE      = $0702         ; the last readings of both pads that agreed twice in a row

.segment "ZEROPAGE"
pad1:       .res 1
pad2:       .res 1
last1:      .res 1
last2:      .res 1

.segment "CODE"

reset:
    RESET_MACHINE
    sta FRAME_COUNT
    sta FRAME_COUNT + 1
    jsr setup_screen
    PICTURE_ON CTRL_NMI | CTRL_SPR_1000

main:
    STROBE_JOYPADS
    ldx #8
:   lda JOY1
    and #$03
    cmp #$01
    ror pad1
    lda JOY2
    and #$03
    cmp #$01
    ror pad2
    dex
    bne :-
    lda pad1
    cmp last1
    sta last1
    bne main
    lda pad2
    cmp last2
    sta last2
    bne main
    sta STABLE + 1
    lda pad1
    sta STABLE
    jmp main

nmi:
    pha
    lda #>OAM_PAGE
    sta OAMDMA
    inc FRAME_COUNT
    bne :+
    inc FRAME_COUNT + 1
:   pla
irq:
    rti

.segment "VECTORS"
    .word nmi, reset, irq
