; Mapper 4 (MMC3): CHR 2 KB and 1 KB banks with and without inversion, the register decode by
; address AND $E001, PRG mode bit 6 with the second-to-last page following the r6/r7 writes,
; mirroring, and the scanline IRQ counter (reload from the latch, a direct counter value,
; disabling, an IRQ while I is set).
; 128 KB PRG (16 banks), 64 KB CHR (64 units), horizontal mirroring in the header.

.include "nes.inc"

MAPPER      = 4
HEADER_BITS = 0
PRG_BANKS   = 16
CODE_BANK   = 15
CHR_UNITS   = 64
IRQ_FRAMES  = 6

.include "mapper_harness.s"

; Bank select `r`, then bank data `value`.
.macro BANK r, value
    POKE $8000, r
    POKE $8001, value
.endmacro

.segment "RAMCODE"
main:
    SNAP                    ; 0: power-on layout
    BANK 0, 13              ; odd 2 KB value: units 13 and 14
    BANK 1, 20
    BANK 2, 30
    BANK 3, 31
    BANK 4, 40
    BANK 5, 41
    SNAP                    ; 1
    POKE $8000, $80         ; inversion on: the select alone moves nothing
    SNAP                    ; 2
    POKE $8001, 4           ; r0 inverted: units 4 and 5 at $1000
    SNAP                    ; 3
    BANK $85, 50            ; r5 inverted: $0C00
    SNAP                    ; 4
    BANK $81, 60            ; r1 inverted: $1800 and $1C00
    SNAP                    ; 5
    POKE $9FFE, $02         ; decoded as $8000: r2, no inversion
    POKE $9FFF, 33          ; decoded as $8001: unit 33 at $1000
    SNAP                    ; 6
    BANK $06, 3             ; bit 6 clear: bank 3 at $8000, bank 14 at $C000
    SNAP                    ; 7
    BANK $07, 5             ; bank 5 at $A000
    SNAP                    ; 8
    POKE $8000, $46         ; bit 6 set by the select alone moves nothing
    SNAP                    ; 9
    POKE $8001, 2           ; bank 14 at $8000, bank 2 at $C000
    SNAP                    ; 10
    BANK $47, 7             ; bank 14 at $8000 again, bank 7 at $A000
    SNAP                    ; 11
    BANK $07, 9             ; bit 6 clear: bank 14 at $C000, $8000 keeps bank 14
    SNAP                    ; 12
    POKE $A001, 0           ; ignored
    SNAP                    ; 13
    POKE $BFFE, 0           ; decoded as $A000: vertical
    SNAP                    ; 14
    POKE $A000, 1           ; horizontal
    SNAP                    ; 15
    BANK 0, 6               ; background patterns for the interrupt phase: units 6 and 7
    jmp irq_phase

frame_setups:
    .word frame_latch_1, frame_latch_20, frame_direct_224, frame_disabled, frame_masked
    .word frame_reenabled

frame_latch_1:              ; IRQ after line 8
    POKE $C001, 1
    POKE $C000, 0
    rts
frame_latch_20:             ; IRQ after line 27
    POKE $C001, 20
    POKE $C000, 0
    rts
frame_direct_224:           ; counter written directly while enabled: IRQ after line 231
    POKE $E001, 0
    POKE $C000, 224
    rts
frame_disabled:             ; latch 5, then disabled; $C000 <- 0 while disabled clears it
    POKE $C001, 5
    POKE $E000, 0
    POKE $C000, 0
    rts
frame_masked:               ; IRQ after line 57 while I is set: dropped
    sei
    POKE $C001, 50
    POKE $C000, 0
    rts
frame_reenabled:            ; CLI brings nothing back; $E001 and a reload from the latch (50)
    cli
    POKE $E001, 0
    POKE $C000, 0
    rts

stop_interrupts:
    POKE $E000, 0
    rts
