; joypad_test: reads both joypads at every NMI and keeps what it read in RAM.
;
; Each NMI strobes $4016 (1 then 0), reads eight bits from each pad, assembling them in read order
; (A in bit 0 ... Right in bit 7), then reads pad 1 eight more times without a new strobe.
;   PAD1, PAD2:     the bytes of the last NMI
;   NINTH:          the ninth read of pad 1 (0 or 1)
;   FRAME_COUNT:    NMIs so far
;   HISTORY1/2:     the bytes of every NMI, indexed by FRAME_COUNT (before its increment)
;   NO_STROBE:      pad 1 read eight more times without a new strobe (the bit position wraps
;                   after eight reads, so this is the same byte again)

.include "nes.inc"

INES_HEADER 1, 1, 0, 0

PAD1        = $0300
PAD2        = $0301
NINTH       = $0302
FRAME_COUNT = $0303
NO_STROBE   = $0304
HISTORY1    = $0400
HISTORY2    = $0500

.segment "ZEROPAGE"
pad1:   .res 1
pad2:   .res 1

.segment "CODE"

reset:
    RESET_MACHINE
    sta FRAME_COUNT
    WAIT_VBLANK
    lda #CTRL_NMI
    sta PPUCTRL
forever:
    jmp forever

nmi:
    pha
    txa
    pha
    STROBE_JOYPADS
    ldx #8
:   lda JOY1
    lsr a
    ror pad1
    lda JOY2
    lsr a
    ror pad2
    dex
    bne :-
    ; eight more reads without a new strobe: reads 9-16, read 9 in bit 0
    ldx #8
:   lda JOY1
    lsr a
    ror NO_STROBE
    dex
    bne :-
    lda NO_STROBE
    and #1
    sta NINTH
    lda pad1
    sta PAD1
    lda pad2
    sta PAD2
    ldx FRAME_COUNT
    sta HISTORY2, x
    lda pad1
    sta HISTORY1, x
    inc FRAME_COUNT
    pla
    tax
    pla
    rti

irq:
    rti

.segment "VECTORS"
    .word nmi, reset, irq
