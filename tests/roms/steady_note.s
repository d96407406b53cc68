; steady_note: two notes held for as long as the cartridge runs, for listening tests on a real
; audio server.
;
;   square 1: period 253, 440.4 Hz: MIDI note 69 (A4, 440 Hz)
;   square 2: period 398, 280.4 Hz: MIDI note 61 (C#4, 277.2 Hz)
;
; Both period writes load length index 31 (256 frames); every RESTRIKE_FRAMES frames the NMI
; writes the high period registers again, before the length counters run out, so each note is
; struck again on its own key and sounds on without a break.

.include "nes.inc"

INES_HEADER 1, 1, 0, 0

RESTRIKE_FRAMES = 240

.segment "ZEROPAGE"
frames_left: .res 1

.segment "CODE"

reset:
    RESET_MACHINE
    WAIT_VBLANK
    lda #$03                    ; squares 1 and 2 on
    sta SND_CHN
    lda #$BF
    sta $4000
    sta $4004
    lda #$08                    ; no sweep
    sta $4001
    sta $4005
    lda #253
    sta $4002
    lda #$8E                    ; 398 = $18E
    sta $4006
    jsr strike
    lda #CTRL_NMI
    sta PPUCTRL
forever:
    jmp forever

; Length index 31 and the period's high bits: starts both notes.
strike:
    lda #RESTRIKE_FRAMES
    sta frames_left
    lda #$F8
    sta $4003
    lda #$F9
    sta $4007
    rts

nmi:
    pha
    dec frames_left
    bne :+
    jsr strike
:   pla
    rti

irq:
    rti

.segment "VECTORS"
    .word nmi, reset, irq
