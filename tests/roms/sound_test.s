; sound_test: plays a fixed score on the four channels, so the tests can compare the MIDI
; messages with what the register writes mean.
;
; At the first vertical blank (frame 0), in this order:
;   $4015 <- $0F                        all channels enabled
;   square 1: $4000 <- $BF, $4001 <- $08 (no sweep), $4003 <- $08 (length index 1: 16 frames,
;             period high 0: far above the audible range, no note), $4002 <- 253 (440 Hz)
;   square 2: $4004 <- $BF, $4005 <- $F9 (sweep on: period - 7 every frame), $4007 <- $08
;             (16 frames), $4006 <- 200
;   triangle: $4008 <- $FF, $400B <- $F8 (length (31) + 2 = 33 frames), $400A <- 126 (880 Hz)
;   noise:    $400C <- $3F, $400F <- $28 (length 5 frames), $400E <- 15
; Then the NMI counts frames; at the NMI of frame SILENCE_FRAME it writes $4015 <- $03, which
; silences the triangle and the noise. Every NMI first records the $4015 read-back in
; STATUS_HISTORY, indexed by the frame number.

.include "nes.inc"

INES_HEADER 1, 1, 0, 0

SILENCE_FRAME  = 10
FRAME_COUNT    = $0300
STATUS_HISTORY = $0400      ; $4015 as read at the NMI of frame n, at STATUS_HISTORY + n

.segment "ZEROPAGE"
nmi_save_a: .res 1
nmi_save_x: .res 1

.segment "CODE"

reset:
    RESET_MACHINE
    sta FRAME_COUNT
    ldx #0
:   sta STATUS_HISTORY, x
    inx
    bne :-
    WAIT_VBLANK

    ldx #0
play:
    ldy score, x                ; register: $4000 + y
    cpy #$FF
    beq played
    lda score + 1, x
    sta $4000, y
    inx
    inx
    bne play
played:
    lda #1                      ; the next NMI is the one of frame 1
    sta FRAME_COUNT
    lda #CTRL_NMI
    sta PPUCTRL
forever:
    jmp forever

nmi:
    sta nmi_save_a
    stx nmi_save_x
    ldx FRAME_COUNT
    lda SND_CHN
    sta STATUS_HISTORY, x
    cpx #SILENCE_FRAME
    bne :+
    lda #$03
    sta SND_CHN
:   inc FRAME_COUNT
    ldx nmi_save_x
    lda nmi_save_a
    rti

irq:
    rti

.segment "RODATA"
; Register (offset from $4000) and value, in the order written; $FF ends the score.
score:
    .byte $15, $0F
    .byte $00, $BF, $01, $08, $03, $08, $02, 253
    .byte $04, $BF, $05, $F9, $07, $08, $06, 200
    .byte $08, $FF, $0B, $F8, $0A, 126
    .byte $0C, $3F, $0F, $28, $0E, 15
    .byte $FF

.segment "VECTORS"
    .word nmi, reset, irq
