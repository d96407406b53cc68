; jam_test: a JAM opcode stops the CPU until Reset. The program counts its resets, turns the NMI
; on, marks that it reached the JAM and executes it: nothing after it runs and
; no NMI is taken, frame after frame.
;   $0300  resets counted (RAM is kept by a Reset)
;   $0301  1 once the JAM was reached
;   $0302  instructions after the JAM that ran (stays 0)
;   $0303  NMIs taken (stays 0)

.include "nes.inc"

INES_HEADER 1, 1, 0, 0

.segment "CODE"
reset:
    sei
    cld
    ldx #$FF
    txs
    inc $0300
    lda #0
    sta $0301
    sta $0302
    sta $0303
    lda #CTRL_NMI
    sta PPUCTRL
    lda #1
    sta $0301
    jmp jam

jam:
    .byte $02
    inc $0302
    jmp jam

nmi:
    inc $0303
irq:
    rti

.segment "VECTORS"
    .word nmi, reset, irq
