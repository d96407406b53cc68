; irq_test: IRQ masking, checked with the scanline counter of the MMC3 (mapper 4), the machine's
; source of maskable interrupts. Reports through the self-check record at $6000.
;
; The counter counts drawn lines (8-231) and raises one IRQ when it reaches zero, then stops.
; An IRQ raised while I is set is dropped for good: clearing I afterwards does not bring it back.

.include "nes.inc"
.include "selfcheck.inc"

INES_HEADER 2, 1, 4, 0

MMC3_IRQ_COUNTER = $C000    ; counter := value (the reload value when 0 is written while enabled)
MMC3_IRQ_LATCH   = $C001    ; reload value := value; counting enabled
MMC3_IRQ_DISABLE = $E000

.segment "ZEROPAGE"
irq_count:      .res 1
irq_p_inside:   .res 1
irq_p_stacked:  .res 1
irq_save_a:     .res 1
irq_save_x:     .res 1
result:         .res 1

.segment "CODE"

reset:
    RESET_MACHINE
    sta MMC3_IRQ_DISABLE
    CHECK_INIT

; --- 1: an IRQ while I is set is lost, also after CLI ------------------------------------------
    TEST 1
    lda #0
    sta irq_count
    jsr arm_counter
    jsr wait_two_frames
    CHECK_MEM irq_count, 0
    cli
    jsr wait_two_frames
    sei
    CHECK_MEM irq_count, 0

; --- 2: with I clear the IRQ is taken once: I set and D cleared inside, B clear on the stack ----
    TEST 2
    lda #0
    sta irq_count
    sed
    cli
    jsr arm_counter
    jsr wait_two_frames
    php
    pla
    and #$0C
    sta result
    sei
    cld
    CHECK_MEM irq_count, 1      ; the counter stops after its IRQ
    CHECK_MEM result, $08       ; after RTI: I clear and D set again
    lda irq_p_inside
    and #$0C
    CHECK_A $04
    lda irq_p_stacked
    and #$1C
    CHECK_A $08

; --- 3: a disabled counter raises nothing --------------------------------------------------------
    TEST 3
    lda #0
    sta irq_count
    jsr arm_counter
    sta MMC3_IRQ_DISABLE
    cli
    jsr wait_two_frames
    sei
    CHECK_MEM irq_count, 0

    CHECK_DONE
forever:
    jmp forever

; Counter to 5 lines, counting enabled.
.proc arm_counter
    lda #5
    sta MMC3_IRQ_LATCH
    lda #0
    sta MMC3_IRQ_COUNTER
    rts
.endproc

; Two vertical blanks, polled: every drawn line of a frame passes in between.
.proc wait_two_frames
    WAIT_VBLANK
    WAIT_VBLANK
    rts
.endproc

.proc irq
    sta irq_save_a
    php
    pla
    sta irq_p_inside
    stx irq_save_x
    tsx
    lda $0101, x
    sta irq_p_stacked
    inc irq_count
    ldx irq_save_x
    lda irq_save_a
    rti
.endproc

.proc nmi
    rti
.endproc

    SELFCHECK_ROUTINES

.segment "VECTORS"
    .word nmi, reset, irq
