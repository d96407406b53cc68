; undocumented_rmw_test: the NMOS 6502's undocumented read-modify-write combinations, each in
; its seven addressing modes, checked against their documented effects:
;   SLO = ASL then ORA, RLA = ROL then AND, SRE = LSR then EOR, RRA = ROR then ADC,
;   DCP = DEC then CMP, ISC = INC then SBC.
; Every mode reaches the same byte (zero page $10, or $0500), so one family's expected memory,
; A and flags are the same in all seven. Reports through the self-check record at $6000.

.include "nes.inc"
.include "selfcheck.inc"

INES_HEADER 1, 1, 0, 0

ZP_TARGET  = $10
ABS_TARGET = $0500
POINTER_X  = $00        ; (zp,X) with X = 4 and operand $FC: $0500
POINTER_Y  = $02        ; (zp),Y with Y = $10: $04F0 + $10
RESULT_A   = $08
FLAGS      = $C3        ; N V Z C

.segment "CODE"

; One opcode in one mode on `target` holding `initial`, with A = `a_in` and C = `c_in` (V and D
; clear); then the flags, A and the byte must be as expected.
.macro RMW_CASE opcode, operand, size, target, initial, a_in, c_in, mem_out, a_out, p_out
    lda #(initial)
    sta target
    ldx #$04
    ldy #$10
    lda #(a_in)
    clv
  .if c_in
    sec
  .else
    clc
  .endif
  .if size = 2
    .byte opcode, <(operand)
  .else
    .byte opcode, <(operand), >(operand)
  .endif
    php
    sta RESULT_A
    pla
    and #FLAGS
    CHECK_A p_out
    CHECK_MEM RESULT_A, a_out
    CHECK_MEM target, mem_out
.endmacro

; All seven modes of the family whose (zp,X) opcode is `base` + 3.
.macro RMW_FAMILY base, initial, a_in, c_in, mem_out, a_out, p_out
    RMW_CASE base + $07, ZP_TARGET, 2, ZP_TARGET, initial, a_in, c_in, mem_out, a_out, p_out
    RMW_CASE base + $17, ZP_TARGET - 4, 2, ZP_TARGET, initial, a_in, c_in, mem_out, a_out, p_out
    RMW_CASE base + $0F, ABS_TARGET, 3, ABS_TARGET, initial, a_in, c_in, mem_out, a_out, p_out
    RMW_CASE base + $1F, ABS_TARGET - 4, 3, ABS_TARGET, initial, a_in, c_in, mem_out, a_out, p_out
    RMW_CASE base + $1B, ABS_TARGET - $10, 3, ABS_TARGET, initial, a_in, c_in, mem_out, a_out, p_out
    RMW_CASE base + $03, POINTER_X - 4, 2, ABS_TARGET, initial, a_in, c_in, mem_out, a_out, p_out
    RMW_CASE base + $13, POINTER_Y, 2, ABS_TARGET, initial, a_in, c_in, mem_out, a_out, p_out
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

    ; SLO: $81 << 1 = $02, C = 1; A = $02 OR $02 = $02.
    TEST 1
    RMW_FAMILY $00, $81, $02, 0, $02, $02, $01
    ; RLA: $81 rotated left with C = 1 gives $03, C = 1; A = $0F AND $03 = $03.
    TEST 2
    RMW_FAMILY $20, $81, $0F, 1, $03, $03, $01
    ; SRE: $03 >> 1 = $01, C = 1; A = $FF EOR $01 = $FE (N).
    TEST 3
    RMW_FAMILY $40, $03, $FF, 0, $01, $FE, $81
    ; RRA: $03 rotated right with C = 1 gives $81, C = 1; A = $10 + $81 + 1 = $92 (N, no C,
    ; no V).
    TEST 4
    RMW_FAMILY $60, $03, $10, 1, $81, $92, $80
    ; DCP: $05 - 1 = $04; CMP $04 with A = $04: Z and C.
    TEST 5
    RMW_FAMILY $C0, $05, $04, 0, $04, $04, $03
    ; ISC: $0F + 1 = $10; A = $05 - $10 with C = 1 gives $F5, a borrow (C clear), N, no V.
    TEST 6
    RMW_FAMILY $E0, $0F, $05, 1, $10, $F5, $80

    CHECK_DONE
forever:
    jmp forever

nmi:
irq:
    rti

    SELFCHECK_ROUTINES

.segment "VECTORS"
    .word nmi, reset, irq
