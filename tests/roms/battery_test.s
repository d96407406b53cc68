; battery_test: a cartridge with a battery. Every start (power-on or reset) adds one to the start
; counter at $6000 and writes the signature "VEXALO" at $6001-$6006 and $A5 at $7FFF, the last
; byte of the battery RAM. The NMI counts frames at $6010 (16 bits), which the battery keeps too.

.include "nes.inc"

INES_HEADER 1, 1, 0, INES_BATTERY

START_COUNT = $6000
SIGNATURE   = $6001
LAST_BYTE   = $7FFF
FRAME_COUNT = $6010

.segment "CODE"

reset:
    RESET_MACHINE
    inc START_COUNT
    ldx #0
:   lda signature, x
    sta SIGNATURE, x
    inx
    cpx #6
    bne :-
    lda #$A5
    sta LAST_BYTE
    WAIT_VBLANK
    lda #CTRL_NMI
    sta PPUCTRL
forever:
    jmp forever

nmi:
    inc FRAME_COUNT
    bne :+
    inc FRAME_COUNT + 1
:   rti

irq:
    rti

.segment "RODATA"
signature:
    .byte "VEXALO"

.segment "VECTORS"
    .word nmi, reset, irq
