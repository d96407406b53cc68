; Mapper 1 (MMC1): serial writes to each register, 16 KB PRG mode switching $8000 and switching
; $C000, 32 KB mode, 8 KB and 4 KB CHR modes, mirroring control, the reset write, and a value
; whose first bits go to one register address and whose fifth goes to another.
; 128 KB PRG (16 banks), 32 KB CHR (32 units), horizontal mirroring in the header.

.include "nes.inc"

MAPPER      = 1
HEADER_BITS = 0
PRG_BANKS   = 16
CODE_BANK   = 15
CHR_UNITS   = 32

.include "mapper_harness.s"

; Five serial writes of the low five bits of `value` to `address`, lowest bit first.

.segment "RAMCODE"
main:
    POKE $8000, $80         ; reset the shift register: control |= $0C, no page moves
    SNAP                    ; 0: power-on layout
    MMC1 $8000, $0E         ; control: vertical, 16 KB mode switching $8000, 8 KB CHR
    SNAP                    ; 1
    MMC1 $E000, 5           ; PRG page 5 at $8000
    SNAP                    ; 2
    MMC1 $9FFF, $0B         ; control: horizontal, 16 KB mode switching $C000
    SNAP                    ; 3
    MMC1 $E000, 3           ; PRG page 3 at $C000, $8000 keeps page 5
    SNAP                    ; 4
    MMC1 $8000, $02         ; control: vertical, 32 KB mode
    SNAP                    ; 5
    MMC1 $FFFF, 5           ; 32 KB page 2
    SNAP                    ; 6
    MMC1 $E000, $13         ; bit 4 is not part of the PRG page: 32 KB page 1
    SNAP                    ; 7
    MMC1 $A000, 3           ; 8 KB CHR mode: CHR page 1
    SNAP                    ; 8
    MMC1 $C000, 2           ; CHR bank 1 does nothing in 8 KB mode
    SNAP                    ; 9
    MMC1 $8000, $12         ; control: 4 KB CHR mode, 32 KB PRG, vertical
    SNAP                    ; 10
    MMC1 $BFFF, 5           ; 4 KB CHR page 5 at $0000
    SNAP                    ; 11
    MMC1 $C000, 2           ; 4 KB CHR page 2 at $1000
    SNAP                    ; 12
    ; Two bits towards CHR bank 0, then a reset written to $E000: the bits are discarded and
    ; control gains $0C (16 KB mode switching $8000) without any page moving.
    POKE $A000, 1
    POKE $A000, 1
    POKE $E000, $80
    SNAP                    ; 13
    MMC1 $E000, 0           ; PRG page 0 at $8000
    SNAP                    ; 14
    ; Four bits to $8000, the fifth to $E000: the value lands in the PRG register.
    lda #4
    sta $8000
    lsr a
    sta $8000
    lsr a
    sta $8000
    lsr a
    sta $8000
    lsr a
    sta $E000
    SNAP                    ; 15
    jmp finish
