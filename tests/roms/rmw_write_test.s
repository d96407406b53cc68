; rmw_write_test: a read-modify-write on PPUDATA writes twice, the unmodified byte and then the
; result, each write advancing the video address as a write does. Video memory $2400-$2407
; holds $40, $50, ..., $B0; after the dummy read from $2400:
;   INC $2007 reads $40 (address $2401), writes $40 at $2401 and $41 at $2402;
;   DCP $2007 (undocumented) reads $70 at $2403, writes $70 at $2404 and $6F at $2405.
; The program then reads $2400-$2407 back into $0300-$0307:
;   $40 $40 $41 $70 $70 $6F $A0 $B0

.include "nes.inc"

INES_HEADER 1, 1, 0, 0

.segment "CODE"
reset:
    sei
    cld
    ldx #$FF
    txs
    lda #$24
    sta PPUADDR
    lda #$00
    sta PPUADDR
    lda #$40
:   sta PPUDATA
    clc
    adc #$10
    cmp #$C0
    bne :-
    lda #$24
    sta PPUADDR
    lda #$00
    sta PPUADDR
    lda PPUDATA                 ; the dummy read
    inc PPUDATA
    .byte $CF, <PPUDATA, >PPUDATA   ; DCP $2007
    lda #$24
    sta PPUADDR
    lda #$00
    sta PPUADDR
    lda PPUDATA                 ; the dummy read
    ldx #0
:   lda PPUDATA
    sta $0300, x
    inx
    cpx #8
    bne :-
forever:
    jmp forever

nmi:
irq:
    rti

.segment "VECTORS"
    .word nmi, reset, irq
