; ram_wait: the NMI counts frames in absolute RAM; the main loop waits for the count to change
; with LDA / CMP abs / BEQ, then moves the sprites. The NMI copies the sprites and scrolls.

.include "bench.inc"

INES_HEADER 1, 1, 0, INES_VERTICAL

FRAME_COUNT = $0700         ; + 1 at every NMI

.segment "ZEROPAGE"
scroll_x:   .res 1

.segment "CODE"

reset:
    RESET_MACHINE
    sta FRAME_COUNT
    sta scroll_x
    jsr setup_screen
    PICTURE_ON CTRL_NMI | CTRL_SPR_1000

main:
    lda FRAME_COUNT
wait:
    cmp FRAME_COUNT
    beq wait
    MOVE_SPRITES
    jmp main

nmi:
    pha
    lda #>OAM_PAGE
    sta OAMDMA
    inc scroll_x
    lda scroll_x
    sta PPUSCROLL
    lda #0
    sta PPUSCROLL
    inc FRAME_COUNT
    pla
irq:
    rti

.segment "VECTORS"
    .word nmi, reset, irq
