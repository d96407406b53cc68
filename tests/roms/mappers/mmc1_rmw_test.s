; Mapper 1 (MMC1) and a read-modify-write on its ports: INC on a byte holding $FF writes $FF (a
; reset of the shift register), then $00 on the very next cycle, which the chip ignores. Three
; bits shifted in before it are therefore discarded, and the next five writes select a page.
; 128 KB PRG (16 banks), 32 KB CHR (32 units), horizontal mirroring in the header.

.include "nes.inc"

MAPPER      = 1
HEADER_BITS = 0
PRG_BANKS   = 16
CODE_BANK   = 15
CHR_UNITS   = 32

.include "mapper_harness.s"

.segment "STUB"
ff_byte:
    .byte $FF               ; in the code bank at $E000-$FFFF: the PRG register's addresses

.segment "RAMCODE"
main:
    POKE $8000, $80
    MMC1 $8000, $0E         ; control: vertical, 16 KB mode switching $8000, 8 KB CHR
    MMC1 $E000, 5           ; PRG page 5 at $8000
    SNAP                    ; 0
    POKE $E000, 1           ; three bits towards the PRG register...
    POKE $E000, 1
    POKE $E000, 1
    inc ff_byte             ; ...discarded by the reset that INC's first write makes
    SNAP                    ; 1: nothing moved
    MMC1 $E000, 2           ; five whole bits: PRG page 2 at $8000
    SNAP                    ; 2
    jmp finish
