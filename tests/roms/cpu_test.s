; cpu_test: a self-checking exerciser of Vexalo's 6502 interpreter.
;
; Runs a sequence of numbered tests (arithmetic and flags, decimal mode, stack, JSR/RTS,
; BRK/RTI, addressing modes and their wrap-around, undocumented opcodes, the NMI at vertical
; blank) and reports through the self-check record at $6000 (see selfcheck.inc). Afterwards it
; idles with the NMI on and counts frames at FRAME_COUNT.
;
; The expected values are those of Vexalo's CPU, which differs from the console's in places:
; P is $22 after reset, PHP pushes P unchanged (bit 4 not forced), an NMI leaves I alone,
; (zp,X) and (zp),Y take the pointer's high byte from $0100 when the pointer sits at $FF,
; and JMP ($xxFF) takes its high byte from $xx00 + $100. The undocumented opcodes have
; cartridges of their own.

.include "nes.inc"
.include "selfcheck.inc"

INES_HEADER 1, 1, 0, 0

FRAME_COUNT = $0700     ; NMIs counted while idling after the tests
JMP_POINTER = $04FF     ; JMP indirect pointer across a page end
RAM_PAD     = $0600     ; page for a landing pad that a wrong JMP indirect would reach

.segment "ZEROPAGE"
reset_a:        .res 1
reset_x:        .res 1
reset_y:        .res 1
reset_p:        .res 1
reset_s:        .res 1
saved_s:        .res 1
tmp:            .res 2
result:         .res 1
ret_lo:         .res 1
ret_hi:         .res 1
irq_count:      .res 1
irq_p_inside:   .res 1
irq_p_stacked:  .res 1
irq_ret_lo:     .res 1
irq_ret_hi:     .res 1
irq_save_x:     .res 1
nmi_count:      .res 1
nmi_p_inside:   .res 1
nmi_p_stacked:  .res 1
nmi_status:     .res 1
nmi_save_a:     .res 1
nmi_save_x:     .res 1
idle:           .res 1     ; set once the tests are over: the NMI then only counts frames

.segment "CODE"

reset:
    ; The registers as reset left them, before any instruction changes them.
    sta reset_a
    stx reset_x
    sty reset_y
    php
    pla
    sta reset_p
    tsx
    stx reset_s

    CHECK_INIT
    lda #0
    sta idle
    sta PPUCTRL
    sta PPUMASK
    sta FRAME_COUNT

; --- 1: state after reset: A = X = Y = 0, P = $22, S = $FF ----------------------------------
    TEST 1
    CHECK_MEM reset_a, 0
    CHECK_MEM reset_x, 0
    CHECK_MEM reset_y, 0
    CHECK_MEM reset_p, $22
    CHECK_MEM reset_s, $FF

; --- 2: loads set N and Z --------------------------------------------------------------------
    TEST 2
    lda #0
    CHECK_FLAGS $82, $02
    lda #$80
    CHECK_FLAGS $82, $80
    lda #$7F
    CHECK_FLAGS $82, $00
    ldx #0
    CHECK_FLAGS $82, $02
    ldy #$90
    CHECK_FLAGS $82, $80

; --- 3: transfers; TXS sets no flag, TSX does ------------------------------------------------
    TEST 3
    lda #$85
    tax
    CHECK_X $85
    lda #0
    tay
    CHECK_FLAGS $82, $02
    ldx #$41
    txa
    CHECK_A $41
    ldy #$C2
    tya
    CHECK_A $C2
    tsx
    stx saved_s
    ldx #$80
    lda #0              ; Z set, N clear
    txs
    CHECK_FLAGS $82, $02
    tsx
    CHECK_FLAGS $82, $80
    CHECK_X $80
    ldx #0
    txs
    tsx
    CHECK_FLAGS $82, $02
    ldx saved_s
    txs

; --- 4: increments and decrements wrap in 8 bits ---------------------------------------------
    TEST 4
    ldx #$FF
    inx
    CHECK_FLAGS $82, $02
    CHECK_X 0
    dex
    CHECK_FLAGS $82, $80
    CHECK_X $FF
    ldy #0
    dey
    CHECK_Y $FF
    iny
    CHECK_Y 0
    lda #$FF
    sta tmp
    inc tmp
    CHECK_FLAGS $82, $02
    CHECK_MEM tmp, 0
    dec tmp
    CHECK_FLAGS $82, $80
    CHECK_MEM tmp, $FF
    ldx #1
    lda #$7F
    sta tmp, x
    inc tmp, x
    CHECK_MEM tmp + 1, $80

; --- 5: binary ADC ---------------------------------------------------------------------------
    TEST 5
    cld
    clc
    lda #$50
    adc #$50
    sta result
    CHECK_FLAGS $C3, $C0        ; V and N set, C and Z clear
    CHECK_MEM result, $A0
    clc
    lda #$FF
    adc #$01
    sta result
    CHECK_FLAGS $C3, $03        ; Z and C set
    CHECK_MEM result, $00
    sec
    lda #$7F
    adc #$00
    sta result
    CHECK_FLAGS $C3, $C0
    CHECK_MEM result, $80
    clc
    lda #$80
    adc #$FF
    sta result
    CHECK_FLAGS $C3, $41        ; V and C
    CHECK_MEM result, $7F
    lda #$22
    sta tmp
    sec
    lda #$11
    adc tmp
    CHECK_A $34

; --- 6: binary SBC ---------------------------------------------------------------------------
    TEST 6
    sec
    lda #$50
    sbc #$F0
    sta result
    CHECK_FLAGS $C3, $00        ; borrow: C clear
    CHECK_MEM result, $60
    sec
    lda #$50
    sbc #$B0
    sta result
    CHECK_FLAGS $C3, $C0        ; signed overflow
    CHECK_MEM result, $A0
    clc
    lda #$00
    sbc #$00
    sta result
    CHECK_FLAGS $C3, $80        ; 0 - 0 - 1
    CHECK_MEM result, $FF
    sec
    lda #$80
    sbc #$01
    sta result
    CHECK_FLAGS $C3, $41
    CHECK_MEM result, $7F
    sec
    lda #$05
    sbc #$05
    CHECK_FLAGS $C3, $03

; --- 7: decimal ADC: only C changes ----------------------------------------------------------
    TEST 7
    lda #$CA                    ; N V D Z set, C clear
    pha
    lda #$09
    plp
    adc #$09
    sta result
    CHECK_FLAGS $CB, $CA        ; N, V, Z kept, D still set, no carry
    CHECK_MEM result, $18
    lda #$08                    ; D only
    pha
    lda #$99
    plp
    adc #$01
    sta result
    CHECK_FLAGS $C3, $01        ; carry; Z not set by a zero result
    CHECK_MEM result, $00
    lda #$09                    ; D and C
    pha
    lda #$58
    plp
    adc #$46
    sta result
    CHECK_FLAGS $C3, $01
    CHECK_MEM result, $05
    lda #$08
    pha
    lda #$50
    plp
    adc #$50
    sta result
    CHECK_FLAGS $C3, $01
    CHECK_MEM result, $00
    cld

; --- 8: decimal SBC --------------------------------------------------------------------------
    TEST 8
    lda #$09                    ; D and C
    pha
    lda #$10
    plp
    sbc #$01
    sta result
    CHECK_FLAGS $C3, $01
    CHECK_MEM result, $09
    lda #$09
    pha
    lda #$00
    plp
    sbc #$01
    sta result
    CHECK_FLAGS $C3, $00        ; borrow
    CHECK_MEM result, $99
    lda #$09
    pha
    lda #$50
    plp
    sbc #$25
    sta result
    CHECK_FLAGS $C3, $01
    CHECK_MEM result, $25
    lda #$08                    ; D, borrow in (C clear)
    pha
    lda #$20
    plp
    sbc #$10
    sta result
    CHECK_FLAGS $C3, $01
    CHECK_MEM result, $09
    lda #$CB                    ; N V D Z C
    pha
    lda #$10
    plp
    sbc #$01
    sta result
    CHECK_FLAGS $C3, $C3        ; N, V, Z kept
    CHECK_MEM result, $09
    cld

; --- 9: compares -----------------------------------------------------------------------------
    TEST 9
    lda #$10
    cmp #$20
    CHECK_FLAGS $83, $80        ; less: C clear, N from $F0
    lda #$20
    cmp #$20
    CHECK_FLAGS $83, $03
    ldx #$40
    cpx #$10
    CHECK_FLAGS $83, $01
    ldy #$00
    cpy #$01
    CHECK_FLAGS $83, $80
    lda #$90
    sta tmp
    lda #$90
    cmp tmp
    CHECK_FLAGS $83, $03
    lda #$FF
    sta tmp
    ldx #$00
    cpx tmp
    CHECK_FLAGS $83, $00

; --- 10: BIT ---------------------------------------------------------------------------------
    TEST 10
    lda #$C0
    sta tmp
    lda #$0D                    ; D I C set
    pha
    lda #$01
    plp
    bit tmp                     ; N, V from memory; Z from A AND memory = 0
    CHECK_FLAGS $FF, $EF        ; C, I, D, bit 5 kept; B stays clear
    lda #$20
    pha
    plp
    lda #$3F
    sta tmp
    lda #$FF
    bit tmp
    CHECK_FLAGS $C2, $00

; --- 11: logical operations ------------------------------------------------------------------
    TEST 11
    lda #$F0
    and #$0F
    CHECK_FLAGS $82, $02
    ora #$80
    CHECK_FLAGS $82, $80
    eor #$FF
    sta result
    CHECK_FLAGS $82, $00
    CHECK_MEM result, $7F
    lda #$3C
    sta tmp
    lda #$0F
    eor tmp
    CHECK_A $33

; --- 12: shifts and rotates --------------------------------------------------------------------
    TEST 12
    lda #$81
    asl a
    sta result
    CHECK_FLAGS $83, $01
    CHECK_MEM result, $02
    lda #$81
    lsr a
    sta result
    CHECK_FLAGS $83, $01
    CHECK_MEM result, $40
    sec
    lda #$80
    rol a
    sta result
    CHECK_FLAGS $83, $01
    CHECK_MEM result, $01
    clc
    lda #$01
    ror a
    CHECK_FLAGS $83, $03        ; zero result, carry out
    sec
    lda #$02
    ror a
    sta result
    CHECK_FLAGS $83, $80
    CHECK_MEM result, $81
    lda #$C3
    sta tmp
    asl tmp
    CHECK_FLAGS $83, $81
    CHECK_MEM tmp, $86
    ldx #1
    lda #$01
    sta tmp, x
    lsr tmp, x
    CHECK_FLAGS $83, $03
    CHECK_MEM tmp + 1, $00
    sec
    ror tmp + 1
    CHECK_MEM tmp + 1, $80
    clc
    rol tmp + 1
    CHECK_FLAGS $83, $03

; --- 13: stack ---------------------------------------------------------------------------------
    TEST 13
    lda #$5A
    pha
    lda #0
    pla
    sta result
    CHECK_FLAGS $82, $00
    CHECK_MEM result, $5A
    lda #$00
    pha
    plp                         ; bit 5 forced on, bit 4 as pulled
    php
    pla
    CHECK_A $20
    lda #$FF
    pha
    plp
    php
    pla
    CHECK_A $FF
    lda #$20
    pha
    plp
    tsx                         ; the stack wraps within page 1
    stx saved_s
    ldx #0
    txs
    lda #$77
    pha
    tsx
    CHECK_X $FF
    CHECK_MEM $0100, $77
    pla
    tsx
    CHECK_X $00
    ldx saved_s
    txs

; --- 14: JSR pushes the address of its last byte, RTS adds one --------------------------------
    TEST 14
    tsx
    stx saved_s
jsr_site:
    jsr record_return
    CHECK_MEM ret_lo, <(jsr_site + 2)
    CHECK_MEM ret_hi, >(jsr_site + 2)
    tsx
    CHECK_X $FF                 ; the main code runs with an empty stack
    ldx #0
    lda #>(rts_target - 1)
    pha
    lda #<(rts_target - 1)
    pha
    rts
    inx                         ; reached only when RTS forgets its + 1
rts_target:
    CHECK_X 0

; --- 15: BRK pushes PC + 2 and P OR $10, sets I, clears D; RTI restores P as pulled -----------
    TEST 15
    lda #0
    sta irq_count
    ldx #0
    lda #$CB                    ; N V D Z C
    pha
    lda #0
    plp                         ; P = $EB
brk_site:
    brk
    inx                         ; the byte after BRK is skipped
    php                         ; RTI lands here with P = the pushed byte, bit 4 included
    pla
    CHECK_A $FB
    CHECK_X 0
    CHECK_MEM irq_count, 1
    CHECK_MEM irq_p_stacked, $FB
    CHECK_MEM irq_p_inside, $E7
    CHECK_MEM irq_ret_lo, <(brk_site + 2)
    CHECK_MEM irq_ret_hi, >(brk_site + 2)
    lda #$20
    pha
    plp

; --- 16: indexed zero page and absolute addressing wrap ----------------------------------------
    TEST 16
    lda #$5A
    sta $0010
    ldx #$20
    lda $F0, x                  ; ($F0 + $20) AND $FF = $10
    CHECK_A $5A
    ldy #$20
    ldx $F0, y
    CHECK_X $5A
    ldx #$20
    lda $FFF0, x                ; ($FFF0 + $20) AND $FFFF = $0010
    CHECK_A $5A
    ldy #$20
    lda $FFF0, y
    CHECK_A $5A
    lda #$A5
    ldx #$20
    sta $FFF1, x                ; writes $0011
    CHECK_MEM $0011, $A5
    lda #$33                    ; RAM mirrors: $0811 is $0011
    sta $0811
    CHECK_MEM $0011, $33
    CHECK_MEM $1811, $33

; --- 17: indirect modes ------------------------------------------------------------------------
    TEST 17
    ; (zp,X): pointer at ($F8 + $F8) AND $FF = $F0
    lda #<$0412
    sta $F0
    lda #>$0412
    sta $F1
    lda #$C4
    sta $0412
    ldx #$F8
    lda ($F8, x)
    CHECK_A $C4
    ; (zp,X) with the pointer at $FF: high byte from $0100, not $0000
    lda #$12
    sta $FF
    lda #$04
    sta $0100
    lda #$05
    sta $00
    lda #$C5
    sta $0512
    ldx #0
    lda ($FF, x)
    CHECK_A $C4
    ; (zp),Y with a carry into the high byte
    lda #$F8
    sta $F2
    lda #$03
    sta $F3
    lda #$D7
    sta $0408
    ldy #$10
    lda ($F2), y
    CHECK_A $D7
    ; (zp),Y wrapping past $FFFF
    lda #$F8
    sta $F2
    lda #$FF
    sta $F3
    lda #$E1
    sta $0010
    ldy #$18
    lda ($F2), y
    CHECK_A $E1
    ; ($FF),Y: high byte from $0100
    ldy #$01
    lda #$E9
    sta $0413
    lda ($FF), y
    CHECK_A $E9
    ; STA through (zp),Y
    lda #$F0
    sta $F2
    lda #$04
    sta $F3
    ldy #$05
    lda #$6C
    sta ($F2), y
    CHECK_MEM $04F5, $6C
    ; JMP ($04FF) takes its high byte from $0500; $0400 leads to a landing pad that fails
    lda #<jmp_good
    sta JMP_POINTER
    lda #>jmp_good
    sta JMP_POINTER + 1
    lda #>RAM_PAD
    sta JMP_POINTER & $FF00
    lda #$4C                    ; JMP jmp_bad, at the address the page-wrapping fetch would use
    sta RAM_PAD + <jmp_good
    lda #<jmp_bad
    sta RAM_PAD + <jmp_good + 1
    lda #>jmp_bad
    sta RAM_PAD + <jmp_good + 2
    .byte $6C                   ; JMP (JMP_POINTER), written out: the assembler warns about
    .word JMP_POINTER           ; exactly the page-end pointer this test is about
jmp_bad:
    lda #$BA
    ldx #$D0
    jmp check_fail
jmp_good:
    lda #1
    CHECK_A 1

; --- 18: branches ------------------------------------------------------------------------------
    TEST 18
    ldx #5
    ldy #0
branch_loop:
    iny
    dex
    bne branch_loop
    CHECK_Y 5
    ldx #0
    lda #$80
    bmi :+
    inx
:   bpl :+                      ; not taken
    lda #$01
    bpl :++                     ; taken
:   inx
    inx
:   sec
    bcc :+
    bcs :++
:   inx
:   clc
    bcs :+
    clv
    bvs :+
    bvc :++
:   inx
:   lda #$40                    ; set V through BIT
    sta tmp
    bit tmp
    bvc :+
    bvs :++
:   inx
:   CHECK_X 0

; --- 19: undocumented NOPs take their real lengths -------------------------------------------
    TEST 19
    ; Each INX byte right after one of these is its operand, not an instruction: only the INX
    ; after each operand runs.
    ldx #0
    .byte $1A                   ; implied: one byte
    inx
    .byte $04, $E8              ; zero page: two bytes
    inx
    .byte $14, $E8              ; zero page,X: two bytes
    inx
    .byte $80, $E8              ; immediate: two bytes
    inx
    .byte $0C, $E8, $E8         ; absolute: three bytes
    inx
    .byte $1C, $E8, $E8         ; absolute,X: three bytes
    inx
    CHECK_X 6

; --- 20: NMI at vertical blank: taken with I set, clears D, leaves I --------------------------
    TEST 20
    lda #0
    sta nmi_count
    sei
    sed
    lda #CTRL_NMI
    sta PPUCTRL
    jsr wait_nmi
    lda #0
    sta PPUCTRL
    php
    pla
    and #$0C
    sta result
    cld
    cli
    CHECK_MEM nmi_count, 1
    CHECK_MEM result, $0C       ; after RTI: I and D set as before
    lda nmi_status
    and #STATUS_VBLANK
    CHECK_A STATUS_VBLANK
    lda nmi_p_inside
    and #$0C
    CHECK_A $04                 ; I unchanged (set), D cleared
    lda nmi_p_stacked
    and #$1C
    CHECK_A $0C                 ; pushed with bit 4 clear
    ; With I clear the handler runs with I still clear.
    lda #0
    sta nmi_count
    lda #CTRL_NMI
    sta PPUCTRL
    jsr wait_nmi
    lda #0
    sta PPUCTRL
    CHECK_MEM nmi_count, 1
    lda nmi_p_inside
    and #$04
    CHECK_A $00

; --- done ------------------------------------------------------------------------------------
    CHECK_DONE
    lda #1
    sta idle
    lda #CTRL_NMI
    sta PPUCTRL
forever:
    jmp forever

; Waits for nmi_count to become non-zero; fails after about 20 frames.
.proc wait_nmi
    ldx #0
    ldy #0
wait:
    lda nmi_count
    bne done
    dex
    bne wait
    dey
    bne wait
    lda #$EE
    ldx #$01
    jmp check_fail
done:
    rts
.endproc

; Records the return address JSR pushed.
.proc record_return
    tsx
    lda $0101, x
    sta ret_lo
    lda $0102, x
    sta ret_hi
    rts
.endproc

; BRK (the only IRQ source of this cartridge): records P as the handler sees it, the pushed P
; and the pushed return address. Keeps X.
.proc irq
    php
    pla
    sta irq_p_inside
    stx irq_save_x
    tsx
    lda $0101, x
    sta irq_p_stacked
    lda $0102, x
    sta irq_ret_lo
    lda $0103, x
    sta irq_ret_hi
    inc irq_count
    ldx irq_save_x
    rti
.endproc

; Vertical blank: while the tests run, records what test 20 checks; afterwards counts frames.
.proc nmi
    sta nmi_save_a
    stx nmi_save_x
    php
    pla
    sta nmi_p_inside
    tsx
    lda $0101, x
    sta nmi_p_stacked
    lda PPUSTATUS
    sta nmi_status
    inc nmi_count
    lda idle
    beq done
    inc FRAME_COUNT
done:
    ldx nmi_save_x
    lda nmi_save_a
    rti
.endproc

    SELFCHECK_ROUTINES

.segment "VECTORS"
    .word nmi, reset, irq
