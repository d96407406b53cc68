; Mapper 34 as NINA-001 (more than 8 KB of CHR-ROM): $7FFD selects the 32 KB page with bit 0,
; $7FFE and $7FFF the 4 KB CHR pages at $0000 and $1000 with bits 0-3, and the cartridge RAM
; keeps the bytes written there; $8000-$FFFF is no register. Every page of both is shown once.
; 64 KB PRG (8 banks, the code in bank 3 of 32 KB page 0), 64 KB CHR (64 units), vertical
; mirroring in the header.

.include "nes.inc"

MAPPER      = 34
HEADER_BITS = INES_VERTICAL
PRG_BANKS   = 8
CODE_BANK   = 3
CHR_UNITS   = 64

.include "mapper_harness.s"

.segment "RAMCODE"
main:
    SNAP                    ; 0: power-on layout (32 KB page 0, CHR pages 0 and 1)
    POKE $7FFD, 1
    SNAP                    ; 1: page 1
    POKE $7FFD, $FE         ; bit 0 only: page 0
    SNAP                    ; 2
    ldx #0                  ; 3-10: CHR pages 2i at $0000 and 2i + 1 at $1000
@chr:
    txa
    asl a
    sta $7FFE
    ora #1
    sta $7FFF
    txa
    pha
    SNAP
    pla
    tax
    inx
    cpx #8
    bne @chr
    POKE $8000, 1           ; no register here
    POKE $7FFE, $13         ; bits 0-3: CHR page 3
    POKE $7FFF, $F0         ; CHR page 0
    SNAP                    ; 11
    jmp finish
