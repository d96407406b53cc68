; nrom_mirroring: the memory map of a mapper-0 cartridge with one 16 KB PRG page and horizontal
; mirroring: RAM mirrors, the PRG page seen at $8000 and $C000, cartridge RAM without a battery,
; the sound registers read back, name-table and palette mirroring through $2006/$2007, and the
; unmapped I/O addresses. Reports through the self-check record at $6000.
;
; Exactly these unmapped accesses are made, once each, so the log holds one line for each:
;   reads of $2008, $2000 and $4014; writes to $4018 and $3456.

.include "nes.inc"
.include "selfcheck.inc"

INES_HEADER 1, 1, 0, 0

.segment "CODE"

reset:
    RESET_MACHINE
    CHECK_INIT

; --- 1: internal RAM answers four times over $0000-$1FFF ---------------------------------------
    TEST 1
    lda #$3C
    sta $0123
    CHECK_MEM $0923, $3C
    CHECK_MEM $1123, $3C
    CHECK_MEM $1923, $3C
    lda #$C3
    sta $1FFF
    CHECK_MEM $07FF, $C3

; --- 2: the PRG page at $8000 and $C000; writes do not change ROM ------------------------------
    TEST 2
    lda rom_bytes - $4000
    CHECK_A $A1
    lda rom_bytes - $4000 + 1
    CHECK_A $B2
    lda #$00
    sta rom_bytes
    sta rom_bytes - $4000
    CHECK_MEM rom_bytes, $A1
    CHECK_MEM rom_bytes - $4000, $A1

; --- 3: cartridge RAM is there without a battery ------------------------------------------------
    TEST 3
    lda #$5E
    sta $7000
    lda #$E5
    sta $7FFF
    CHECK_MEM $7000, $5E
    CHECK_MEM $7FFF, $E5

; --- 4: sound registers read back; unmapped I/O reads give $FF ---------------------------------
    TEST 4
    lda #$47
    sta SQ1_HI
    lda #$21
    sta NOISE_VOL
    lda #$09
    sta DMC_LEN
    CHECK_MEM SQ1_HI, $47
    CHECK_MEM NOISE_VOL, $21
    CHECK_MEM DMC_LEN, $09
    CHECK_MEM $2008, $FF        ; not a mirror of $2000
    CHECK_MEM PPUCTRL, $FF      ; write-only
    CHECK_MEM OAMDMA, $FF       ; write-only
    lda #$12
    sta $4018
    sta $3456

; --- 5: name-table mirroring (horizontal: $2000 = $2400, $2800 = $2C00) ------------------------
    TEST 5
    PPU_ADDRESS $2805
    lda #$11
    sta PPUDATA
    PPU_ADDRESS $2005
    lda #$77
    sta PPUDATA
    PPU_ADDRESS $2405
    lda PPUDATA                 ; dummy read after the address
    CHECK_A $FF
    lda PPUDATA
    CHECK_A $77
    PPU_ADDRESS $2C05
    lda PPUDATA
    lda PPUDATA
    CHECK_A $11
    ; $3000-$3EFF is memory of its own, not a mirror of the name tables
    PPU_ADDRESS $3005
    lda #$44
    sta PPUDATA
    PPU_ADDRESS $2005
    lda PPUDATA
    lda PPUDATA
    CHECK_A $77

; --- 6: palette: $3F10 sets every colour-0 entry, $3F00 only itself; $3F20 is no mirror --------
    TEST 6
    PPU_ADDRESS PALETTE_SPR
    lda #$0F
    sta PPUDATA
    PPU_ADDRESS PALETTE + 4
    lda PPUDATA
    lda PPUDATA
    CHECK_A $0F
    PPU_ADDRESS PALETTE + $1C
    lda PPUDATA
    lda PPUDATA
    CHECK_A $0F
    PPU_ADDRESS PALETTE
    lda #$21
    sta PPUDATA
    PPU_ADDRESS PALETTE_SPR
    lda PPUDATA
    lda PPUDATA
    CHECK_A $0F
    PPU_ADDRESS $3F20
    lda #$33
    sta PPUDATA
    PPU_ADDRESS PALETTE
    lda PPUDATA
    lda PPUDATA
    CHECK_A $21

; --- 7: status bit 4 drops PPUDATA writes -------------------------------------------------------
    TEST 7
    PPU_ADDRESS $2010
    lda #$66
    sta PPUDATA
    lda #$10
    sta PPUSTATUS
    PPU_ADDRESS $2010
    lda #$99
    sta PPUDATA                 ; dropped, and the address does not move
    lda #$98
    sta PPUDATA
    lda #0
    sta PPUSTATUS
    PPU_ADDRESS $2010
    lda PPUDATA
    lda PPUDATA
    CHECK_A $66
    lda PPUDATA
    CHECK_A $00

    CHECK_DONE
forever:
    jmp forever

nmi:
irq:
    rti

    SELFCHECK_ROUTINES

.segment "RODATA"
rom_bytes:
    .byte $A1, $B2

.segment "VECTORS"
    .word nmi, reset, irq
