; Mapper 206 (Namco 108): at $8000-$9FFF an even address selects register r (bits 0-2) and an
; odd one writes it: r0 and r1 the 2 KB CHR pages at $0000 and $0800 (bits 1-5), r2-r5 the 1 KB
; units at $1000-$1C00 (bits 0-5), r6 and r7 the 8 KB banks at $8000 and $A000 (bits 0-3); the
; last 16 KB stays at $C000, and $A000-$FFFF holds no register. Steps 1-8 show every PRG bank
; and every CHR unit once.
; 128 KB PRG (16 banks, the code in the last), 64 KB CHR (64 units), horizontal mirroring in
; the header.

.include "nes.inc"

MAPPER      = 206
HEADER_BITS = 0
PRG_BANKS   = 16
CODE_BANK   = 15
CHR_UNITS   = 64

.include "mapper_harness.s"

.segment "ZEROPAGE"
step:       .res 1

.segment "RAMCODE"
main:
    SNAP                    ; 0: power-on layout
    lda #0                  ; 1-8: step i maps banks 2i, 2i + 1 and units 8i to 8i + 7
    sta step
@step:
    ldx #0
@chr:
    stx $8000
    lda step
    asl a
    asl a
    asl a
    clc
    adc unit_offsets, x
    sta $8001
    inx
    cpx #6
    bne @chr
    stx $8000               ; r6
    lda step
    asl a
    sta $8001
    inx
    stx $8000               ; r7
    ora #1
    sta $8001
    SNAP
    inc step
    lda step
    cmp #8
    bne @step
    POKE $9FFE, 0           ; decoded as $8000: r0
    POKE $9FFF, $C5         ; units 4 and 5 at $0000 (bits 1-5)
    POKE $8000, 2
    POKE $8001, $FF         ; unit 63 at $1000 (bits 0-5)
    POKE $8000, $FE         ; r6 (bits 0-2)
    POKE $8001, $F3         ; bank 3 at $8000 (bits 0-3)
    POKE $A000, 1           ; no register from $A000 on
    POKE $C001, 5
    POKE $E000, 7
    POKE $FFFF, 9
    SNAP                    ; 9
    jmp finish

unit_offsets:
    .byte 0, 2, 4, 5, 6, 7
