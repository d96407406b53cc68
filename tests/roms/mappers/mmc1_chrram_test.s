; Mapper 1 (MMC1) without CHR-ROM and with vertical mirroring in the header: control value 3
; gives the name-table distance 3072, CHR bank 0 moves no pattern window, CHR bank 1 in 4 KB
; mode switches video memory at $1000.
; 32 KB PRG (4 banks), pattern RAM.

.include "nes.inc"

MAPPER      = 1
HEADER_BITS = INES_VERTICAL
PRG_BANKS   = 4
CODE_BANK   = 3
CHR_UNITS   = 0

.include "mapper_harness.s"

.segment "RAMCODE"
main:
    SNAP                    ; 0: power-on layout
    MMC1 $8000, 3           ; horizontal with the extra distance: 3072
    SNAP                    ; 1
    MMC1 $8000, 2           ; vertical
    SNAP                    ; 2
    MMC1 $8000, 1           ; horizontal
    SNAP                    ; 3
    MMC1 $8000, $13         ; 4 KB CHR mode, 32 KB PRG, distance 3072
    SNAP                    ; 4
    MMC1 $A000, 1           ; CHR bank 0 without CHR-ROM: nothing moves
    SNAP                    ; 5
    MMC1 $C000, 0           ; video memory $0000-$0FFF seen at $1000 too
    SNAP                    ; 6
    jmp finish
