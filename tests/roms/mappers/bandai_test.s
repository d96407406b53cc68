; Mapper 16 (Bandai): the eight 1 KB CHR registers, the 16 KB PRG register, the name-table
; distance (header mirroring flag untouched), the register decode by address AND 15 with the
; unused registers ignored, and the scanline IRQ counter.
; 128 KB PRG (16 banks), 32 KB CHR (32 units), horizontal mirroring in the header.

.include "nes.inc"

MAPPER      = 16
HEADER_BITS = 0
PRG_BANKS   = 16
CODE_BANK   = 15
CHR_UNITS   = 32
IRQ_FRAMES  = 4

.include "mapper_harness.s"

.segment "RAMCODE"
main:
    SNAP                    ; 0: power-on layout
    POKE $8000, 31          ; CHR registers 0-3 at $8000-$8003, 4-7 at $FFF4-$FFF7
    POKE $8001, 30
    POKE $8002, 29
    POKE $8003, 28
    POKE $FFF4, 27
    POKE $FFF5, 26
    POKE $FFF6, 25
    POKE $FFF7, 24
    SNAP                    ; 1
    POKE $8008, 3           ; PRG page 3 at $8000
    SNAP                    ; 2
    POKE $BFF8, 5           ; decoded as 8: PRG page 5
    SNAP                    ; 3
    POKE $8009, 0           ; distance 2048
    SNAP                    ; 4
    POKE $C019, 1           ; decoded as 9: distance 1024
    SNAP                    ; 5
    POKE $8009, 0
    POKE $800B, $FF         ; registers 11, 13, 14, 15 do nothing
    POKE $800D, $FF
    POKE $800E, $FF
    POKE $800F, $FF
    SNAP                    ; 6
    jmp irq_phase

frame_setups:
    .word frame_counter_5, frame_disabled, frame_enabled, frame_counter_1

frame_counter_5:            ; IRQ after line 12
    POKE $800C, 5
    rts
frame_disabled:             ; counter 100, then disabled: it stays at 100
    POKE $800C, 100
    POKE $800A, 0
    rts
frame_enabled:              ; enabled again: the 100 left over gives the IRQ after line 107
    POKE $800A, 1
    rts
frame_counter_1:            ; decoded as 12: IRQ after line 8
    POKE $E01C, 1
    rts

stop_interrupts:
    POKE $800A, 0
    rts
