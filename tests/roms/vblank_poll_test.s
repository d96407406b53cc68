; vblank_poll_test: the main loop polls PPUSTATUS for the vertical blank while the NMI handler
; reads PPUSTATUS too. The CPU completes the instruction in progress when the flag rises before
; it takes the NMI, so a poll that is under way sees the flag, and the loop counts it. The
; handler's length changes from frame to frame (a delay of 0-7 rounds), so that the poll loop
; meets the flag's rise at a different point of its round in different frames, as it does on the
; console, whose CPU and picture clocks drift against each other.
;   $0300  frames (NMIs) so far
;   $0301  times the main loop saw the flag
;   $0302  frames counted when it first saw it ($FF until then)

.include "nes.inc"

INES_HEADER 1, 1, 0, 0

.segment "CODE"
reset:
    sei
    cld
    ldx #$FF
    txs
    lda #0
    sta $0300
    sta $0301
    lda #$FF
    sta $0302
    lda #CTRL_NMI
    sta PPUCTRL
poll:
    bit PPUSTATUS
    bpl poll
    lda $0301
    bne :+
    lda $0300
    sta $0302
:   inc $0301
    jmp poll

nmi:
    pha
    txa
    pha
    lda PPUSTATUS
    inc $0300
    lda $0300
    and #7
    tax
    inx
:   dex
    bne :-
    pla
    tax
    pla
irq:
    rti

.segment "VECTORS"
    .word nmi, reset, irq
