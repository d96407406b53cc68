; undocumented_test: the NMOS 6502's other undocumented opcodes, checked against their documented
; effects: LAX and SAX in every mode, ANC, ALR, ARR, SBX and SBC #imm at $EB, the unstable XAA,
; LAX #imm, LAS, SHA, SHX, SHY and TAS (with the "magic" constant $EE of XAA and LAX #imm), and
; the NOPs that read: their reads reach the I/O registers. Reports through the self-check record
; at $6000.

.include "nes.inc"
.include "selfcheck.inc"

INES_HEADER 1, 1, 0, 0

ZP_TARGET  = $10
ABS_TARGET = $0500
POINTER_X  = $00        ; (zp,X) with X = 4 and operand $FC: $0500
POINTER_Y  = $02        ; (zp),Y with Y = $10: $04F0 + $10
POINTER_Z  = $04        ; (zp),Y for SHA: $0600 + $10
RESULT     = $08
RESULT_X   = $09

.segment "CODE"

; LAX in one mode: A and X both take $80 from the target, N set.
.macro LAX_CASE opcode, operand, size, target
    lda #$80
    sta target
    lda #0
    ldx #$04
    ldy #$10
  .if size = 2
    .byte opcode, <(operand)
  .else
    .byte opcode, <(operand), >(operand)
  .endif
    php
    stx RESULT_X
    sta RESULT
    pla
    and #$82
    CHECK_A $80
    CHECK_MEM RESULT, $80
    CHECK_MEM RESULT_X, $80
.endmacro

; SAX in one mode: the target takes A AND X = $F0 AND $3C = $30; the flags stay.
.macro SAX_CASE opcode, operand, size, target
    lda #0
    sta target
    ldx #$3C
    ldy #$10
    lda #$F0                    ; N set, Z clear
  .if size = 2
    .byte opcode, <(operand)
  .else
    .byte opcode, <(operand), >(operand)
  .endif
    CHECK_FLAGS $82, $80
    CHECK_MEM target, $30
.endmacro

; An immediate opcode with A = `a_in`, X = `x_in`, C = `c_in` (V and D clear): then A, X and the
; flags N V Z C must be as expected.
.macro IMM_CASE opcode, operand, a_in, x_in, c_in, a_out, x_out, p_out
    ldx #(x_in)
    lda #(a_in)
    clv
  .if c_in
    sec
  .else
    clc
  .endif
    .byte opcode, operand
    php
    stx RESULT_X
    sta RESULT
    pla
    and #$C3
    CHECK_A p_out
    CHECK_MEM RESULT, a_out
    CHECK_MEM RESULT_X, x_out
.endmacro

reset:
    sei
    cld
    ldx #$FF
    txs
    CHECK_INIT
    lda #<ABS_TARGET
    sta POINTER_X
    lda #>ABS_TARGET
    sta POINTER_X + 1
    lda #<(ABS_TARGET - $10)
    sta POINTER_Y
    lda #>(ABS_TARGET - $10)
    sta POINTER_Y + 1
    lda #$00
    sta POINTER_Z
    lda #$06
    sta POINTER_Z + 1

; --- 1: LAX in its six memory modes ---------------------------------------------------------
    TEST 1
    LAX_CASE $A7, ZP_TARGET, 2, ZP_TARGET                   ; zp
    LAX_CASE $B7, ZP_TARGET - $10, 2, ZP_TARGET             ; zp,Y
    LAX_CASE $AF, ABS_TARGET, 3, ABS_TARGET                 ; abs
    LAX_CASE $BF, ABS_TARGET - $10, 3, ABS_TARGET           ; abs,Y
    LAX_CASE $A3, POINTER_X - 4, 2, ABS_TARGET              ; (zp,X)
    LAX_CASE $B3, POINTER_Y, 2, ABS_TARGET                  ; (zp),Y

; --- 2: SAX in its four modes ((zp,X) with X = $3C: operand $C4 reaches the pointer at $00) ---
    TEST 2
    SAX_CASE $87, ZP_TARGET, 2, ZP_TARGET                   ; zp
    SAX_CASE $97, ZP_TARGET - $10, 2, ZP_TARGET             ; zp,Y
    SAX_CASE $8F, ABS_TARGET, 3, ABS_TARGET                 ; abs
    SAX_CASE $83, POINTER_X - $3C, 2, ABS_TARGET            ; (zp,X)

; --- 3: the stable immediates ----------------------------------------------------------------
    TEST 3
    IMM_CASE $0B, $81, $F0, $00, 0, $80, $00, $81   ; ANC: AND gives $80, C copies N
    IMM_CASE $2B, $7F, $F0, $00, 1, $70, $00, $00   ; ANC: $70, C cleared
    IMM_CASE $4B, $03, $FF, $00, 0, $01, $00, $01   ; ALR: $03 >> 1 = $01, C = 1
    IMM_CASE $6B, $C0, $FF, $00, 1, $E0, $00, $81   ; ARR: ($C0 >> 1) | $80; C = bit 6; V = 6^5 = 0
    IMM_CASE $6B, $40, $FF, $00, 0, $20, $00, $40   ; ARR: $20; C = bit 6 = 0; V = 0^1 = 1
    IMM_CASE $CB, $10, $F0, $3C, 0, $F0, $20, $01   ; SBX: ($F0 AND $3C) - $10 = $20, C = 1
    IMM_CASE $CB, $31, $F0, $3C, 1, $F0, $FF, $80   ; SBX: $30 - $31 = $FF, C = 0 (C in unused)
    IMM_CASE $EB, $03, $05, $00, 1, $02, $00, $01   ; SBC #imm at $EB
    IMM_CASE $EB, $01, $80, $00, 1, $7F, $00, $41   ; SBC: $80 - $01 = $7F, overflow

; --- 4: the unstable ones --------------------------------------------------------------------
    TEST 4
    IMM_CASE $8B, $7F, $01, $F3, 0, $63, $F3, $00   ; XAA: ($01 OR $EE) AND $F3 AND $7F = $63
    IMM_CASE $AB, $5A, $00, $00, 0, $4A, $4A, $00   ; LAX #imm: ($00 OR $EE) AND $5A = $4A
    ; LAS abs,Y: A, X and S take $3C AND S ($F7) = $34.
    tsx
    stx RESULT
    lda #$3C
    sta ABS_TARGET
    ldx #$F7
    txs
    ldy #$10
    .byte $BB, <(ABS_TARGET - $10), >(ABS_TARGET - $10)
    tsx
    stx RESULT_X
    ldx RESULT
    txs
    CHECK_A $34
    CHECK_MEM RESULT_X, $34
    ; SHX abs,Y: X AND (high byte of $0200 + 1) = $FF AND $03 at $0210.
    ldx #$FF
    ldy #$10
    .byte $9E, $00, $02
    CHECK_MEM $0210, $03
    ; SHY abs,X: Y AND ($04 + 1) = $05 at $0410.
    ldy #$FF
    ldx #$10
    .byte $9C, $00, $04
    CHECK_MEM $0410, $05
    ; SHA abs,Y: A AND X AND ($05 + 1) = $06 at $0510.
    lda #$FF
    ldx #$FF
    ldy #$10
    .byte $9F, $00, $05
    CHECK_MEM $0510, $06
    ; SHA (zp),Y: A AND X AND ($06 + 1) = $07 at $0610.
    lda #$FF
    ldx #$FF
    ldy #$10
    .byte $93, POINTER_Z
    CHECK_MEM $0610, $07
    ; SHX across a page: the stored value $01 also becomes the high byte: $01 at $0100 + $0F.
    ldx #$01
    ldy #$10
    .byte $9E, $FF, $02          ; $02FF + $10 = $030F crosses: X AND $03 = $01, at $010F
    CHECK_MEM $010F, $01
    ; TAS abs,Y: S = A AND X = $F3; stores S AND ($02 + 1) = $03 at $0230.
    tsx
    stx RESULT
    lda #$F3
    ldx #$FF
    ldy #$30
    .byte $9B, $00, $02
    tsx
    stx RESULT_X
    ldx RESULT
    txs
    CHECK_MEM RESULT_X, $F3
    CHECK_MEM $0230, $03

; --- 5: NOPs: their lengths, and their reads reach the I/O registers ------------------------
    TEST 5
    ldx #0
    .byte $3A                   ; implied
    inx
    .byte $89, $E8              ; immediate: the $E8 is its operand
    inx
    .byte $44, $E8              ; zero page
    inx
    .byte $F4, $E8              ; zero page,X
    inx
    .byte $0C, $E8, $E8         ; absolute
    inx
    .byte $FC, $E8, $E8         ; absolute,X
    inx
    CHECK_X 6
    ; Video memory $2400-$2403 holds $11, $22, $33, $44. After the dummy read, NOP $2007 and
    ; NOP $2000,X (X = 7) each read a byte and advance the address.
    lda #$24
    sta PPUADDR
    lda #$00
    sta PPUADDR
    ldx #$11
:   stx PPUDATA
    txa
    clc
    adc #$11
    tax
    cpx #$55
    bne :-
    lda #$24
    sta PPUADDR
    lda #$00
    sta PPUADDR
    lda PPUDATA                 ; the dummy read
    .byte $0C, $07, $20         ; NOP $2007: reads $11
    lda PPUDATA
    CHECK_A $22
    ldx #7
    .byte $1C, $00, $20         ; NOP $2000,X: reads $33
    lda PPUDATA
    CHECK_A $44

    CHECK_DONE
forever:
    jmp forever

nmi:
irq:
    rti

    SELFCHECK_ROUTINES

.segment "VECTORS"
    .word nmi, reset, irq
