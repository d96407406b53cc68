; The frame shared by the mapper test cartridges. Included (after nes.inc) at the top of each
; cartridge source; not assembled on its own.
;
; A cartridge defines before the include:
;   MAPPER      iNES mapper number
;   HEADER_BITS INES_* bits of header byte 6 (mirroring)
;   PRG_BANKS   number of 8 KB PRG banks (twice the 16 KB page count)
;   CODE_BANK   the 8 KB bank the machine shows at $E000 at power-on: the reset stub, the test
;               program's load image and the vectors live there
;   CHR_UNITS   number of 1 KB CHR-ROM units (a multiple of 8), 0 for pattern RAM
; and after it, in segment RAMCODE, `main`: the test steps, ending with `jmp finish`.
;
; A cartridge that tests a scanline interrupt also defines IRQ_FRAMES (at most 8) before the
; include, and in RAMCODE `frame_setups` (a table of IRQ_FRAMES routine addresses) and
; `stop_interrupts`; its steps end with `jmp irq_phase` instead. The interrupt phase waits for
; vertical blank, then for each frame turns the background on and calls the frame's set-up
; routine before line 8; the IRQ handler turns the background off and counts the IRQ, so the
; drawn frame shows background rows exactly up to the line after which the IRQ was taken. At the
; next vertical blank the frame's IRQ count goes to R_HISTORY. After the last frame the phase
; calls `stop_interrupts` and finishes; the background stays on.
;
; Every byte of 8 KB PRG bank n is n, apart from the code in CODE_BANK (whose first byte is
; still n), and every byte of 1 KB CHR unit u is u, so any read through a window names the bank
; behind it. With pattern RAM the program writes the unit number at the start and the end of
; each 1 KB unit of video memory $0000-$1FFF instead.
;
; The reset stub copies the RAMCODE segment to $0200-$05FF and jumps there, so a step may switch
; any PRG window, the one the program started in included. Nothing in ROM is called afterwards.
;
; Results, in work RAM at $0600-$07FF:
;   R_DONE      DONE once `finish` has been reached
;   R_COUNT     number of snapshots taken
;   R_FRAMES    interrupt cartridges: frames of the interrupt phase completed
;   R_IRQS      interrupt cartridges: IRQs taken in the current frame
;   R_HISTORY   interrupt cartridges: IRQs taken in each completed frame (8 entries)
;   R_SNAPSHOTS SNAPSHOT_SIZE bytes per `SNAP`:
;     4 bytes  bank seen at $8000, $A000, $C000, $E000 (the first byte of the window; $EE when
;              its byte at offset $1FF7, just below where the vectors sit, names another bank)
;     8 bytes  CHR unit seen in the pattern windows $0000, $0400 ... $1C00 through PPUDATA (the
;              first byte of the window; $EE when its last byte names another unit)
;     1 byte   name-table mirror of $2010: bit 0 when a write there also lands at $2410, bit 1
;              at $2810, bit 2 at $2C10 (1 = horizontal, 2 = vertical, 4 = distance 3072,
;              7 = one screen behind all four tables, 0 = four separate tables)
;     4 bytes  only when SCREEN_MARKS is defined: the byte at $2020, $2420, $2820 and $2C20,
;              where the cartridge writes a mark for each screen of name-table memory
;   after the snapshots, whatever bytes the cartridge appends itself with `put` (PRG_WINDOW
;   appends the bank of one window)
;
; A cartridge with banks of pattern RAM defines PATTERN_RAM_BANKS before the include and calls
; `mark_pattern_bank` (A: a base) to write base + u at the first and last byte of each unit u of
; the bank in use; the start-up fills the first bank with base 0.

R_DONE      = $0600
R_COUNT     = $0601
R_FRAMES    = $0602
R_IRQS      = $0603
R_HISTORY   = $0608
R_SNAPSHOTS = $0610
.ifdef SCREEN_MARKS
SNAPSHOT_SIZE = 17
.else
SNAPSHOT_SIZE = 13
.endif
DONE        = $A5
INCONSISTENT = $EE
MIRROR_MARK = $5A

INES_HEADER PRG_BANKS / 2, CHR_UNITS / 8, MAPPER, HEADER_BITS

.segment "ZEROPAGE"
src:        .res 2
dst:        .res 2
rp:         .res 2   ; where the next snapshot byte goes
tmp:        .res 1
unit:       .res 1
frame:      .res 1   ; interrupt phase: frame being configured ($FF before the first)
.ifdef PATTERN_RAM_BANKS
base:       .res 1   ; mark_pattern_bank: added to each unit number
.endif

; ---------------------------------------------------------------------------------------------
; PRG banks before the code bank, the code bank's identity byte, the banks after it.

.if CODE_BANK > 0
.segment "BANKSLO"
.repeat CODE_BANK, i
    .res $2000, i
.endrepeat
.endif

.segment "BANKID"
    .byte CODE_BANK

.if PRG_BANKS - CODE_BANK - 1 > 0
.segment "BANKSHI"
.repeat PRG_BANKS - CODE_BANK - 1, i
    .res $2000, CODE_BANK + 1 + i
.endrepeat
.endif

.if CHR_UNITS > 0
.segment "CHARS"
.repeat CHR_UNITS, i
    .res $400, i
.endrepeat
.endif

; ---------------------------------------------------------------------------------------------
; Reset stub and vectors (ROM, code bank).

.import __RAMCODE_LOAD__, __RAMCODE_RUN__

.segment "STUB"
reset:
    sei
    cld
    ldx #$FF
    txs
    ; Copy four pages from the RAMCODE load image to its run address.
    lda #<__RAMCODE_LOAD__
    sta src
    lda #>__RAMCODE_LOAD__
    sta src + 1
    lda #<__RAMCODE_RUN__
    sta dst
    lda #>__RAMCODE_RUN__
    sta dst + 1
    ldx #4
    ldy #0
@copy:
    lda (src), y
    sta (dst), y
    iny
    bne @copy
    inc src + 1
    inc dst + 1
    dex
    bne @copy
    jmp start

nmi_stub:
    rti

.ifndef IRQ_FRAMES
irq_handler:
    rti
.endif

.segment "VECTORS"
    .word nmi_stub, reset, irq_handler

; ---------------------------------------------------------------------------------------------
; Shared routines, run from RAM.

.segment "RAMCODE"
start:
    lda #0
    ldx #0
@clear:
    sta $0600, x
    sta $0700, x
    inx
    bne @clear
    lda #<R_SNAPSHOTS
    sta rp
    lda #>R_SNAPSHOTS
    sta rp + 1
    lda #$FF
    sta frame
.if CHR_UNITS = 0
    jsr fill_pattern_ram
.endif
    jmp main

finish:
    lda #DONE
    sta R_DONE
@forever:
    jmp @forever

.ifdef IRQ_FRAMES
irq_phase:
    bit PPUSTATUS           ; drop a vertical blank flag raised before the phase
    cli
@frame:
    bit PPUSTATUS
    bpl @frame
    ldx frame
    cpx #$FF
    beq @first
    lda R_IRQS
    sta R_HISTORY, x
    inx
    stx R_FRAMES
@first:
    lda #0
    sta R_IRQS
    lda #MASK_BG
    sta PPUMASK
    inc frame
    lda frame
    cmp #IRQ_FRAMES
    beq @end
    asl a
    tax
    lda frame_setups, x
    sta src
    lda frame_setups + 1, x
    sta src + 1
    jsr @call
    jmp @frame
@call:
    jmp (src)
@end:
    jsr stop_interrupts
    jmp finish

irq_handler:
    pha
    lda #0
    sta PPUMASK
    inc R_IRQS
    pla
    rti
.endif

; Appends A to the snapshot record.
put:
    ldy #0
    sta (rp), y
    inc rp
    bne :+
    inc rp + 1
:   rts

; Records the bank of the PRG window at `window`.
.macro PRG_WINDOW window
    .local same
    lda window
    cmp window + $1FF7
    beq same
    lda #INCONSISTENT
same:
    jsr put
.endmacro

; Points the video address at the byte `offset` of 1 KB unit `unit` (A: offset high bits).
set_unit_address:
    sta tmp
    lda unit
    asl a
    asl a
    ora tmp
    sta PPUADDR
    txa
    sta PPUADDR
    rts

; Takes a snapshot: PRG banks, CHR units and the name-table mirror (see the header).
snapshot:
    PRG_WINDOW $8000
    PRG_WINDOW $A000
    PRG_WINDOW $C000
    PRG_WINDOW $E000
    lda #0
    sta unit
@chr:
    lda #0
    ldx #0
    jsr set_unit_address
    lda PPUDATA             ; the first read after an address write is a dummy
    lda PPUDATA
    pha
    lda #3
    ldx #$FF
    jsr set_unit_address
    lda PPUDATA
    pla
    sta tmp
    lda PPUDATA
    cmp tmp
    beq :+
    lda #INCONSISTENT
    sta tmp
:   lda tmp
    jsr put
    inc unit
    lda unit
    cmp #8
    bne @chr
    ; Mirror: clear $2010 and its three possible partners, mark $2010, look where it landed.
    ldy #0
    lda #$24
    jsr write_nametable
    lda #$28
    jsr write_nametable
    lda #$2C
    jsr write_nametable
    lda #$20
    jsr write_nametable
    ldy #MIRROR_MARK
    lda #$20
    jsr write_nametable
    lda #0
    sta tmp
    lda #$2C
    jsr mirror_bit
    lda #$28
    jsr mirror_bit
    lda #$24
    jsr mirror_bit
    lda tmp
    jsr put
.ifdef SCREEN_MARKS
    jsr screen_marks
.endif
    inc R_COUNT
    rts

.ifdef SCREEN_MARKS
; Appends the byte at offset $20 of each name table, from $2000 to $2C00.
screen_marks:
    lda #$20
@table:
    pha
    sta PPUADDR
    lda #$20
    sta PPUADDR
    lda PPUDATA             ; dummy read
    lda PPUDATA
    jsr put
    pla
    clc
    adc #4
    cmp #$30
    bne @table
    rts
.endif

; Writes Y at video address A * 256 + $10.
write_nametable:
    sta PPUADDR
    lda #$10
    sta PPUADDR
    sty PPUDATA
    rts

; Shifts into tmp a 1 when the byte at A * 256 + $10 holds the mark.
mirror_bit:
    sta PPUADDR
    lda #$10
    sta PPUADDR
    lda PPUDATA
    lda PPUDATA
    cmp #MIRROR_MARK
    beq :+
    clc
:   rol tmp                 ; carry is set when equal
    rts

.if CHR_UNITS = 0
.ifdef PATTERN_RAM_BANKS
fill_pattern_ram:
    lda #0
; Writes base + u (A: base) at the first and last byte of each unit u of the pattern RAM bank.
mark_pattern_bank:
    sta base
    lda #0
    sta unit
@unit:
    lda #0
    ldx #0
    jsr set_unit_address
    jsr @mark
    lda #3
    ldx #$FF
    jsr set_unit_address
    jsr @mark
    inc unit
    lda unit
    cmp #8
    bne @unit
    rts
@mark:
    lda unit
    clc
    adc base
    sta PPUDATA
    rts
.else
; Writes each unit's number at its first and last byte of pattern RAM.
fill_pattern_ram:
    lda #0
    sta unit
@unit:
    lda #0
    ldx #0
    jsr set_unit_address
    lda unit
    sta PPUDATA
    lda #3
    ldx #$FF
    jsr set_unit_address
    lda unit
    sta PPUDATA
    inc unit
    lda unit
    cmp #8
    bne @unit
    rts
.endif
.endif

; Stores `value` at `address` (one write).
.macro POKE address, value
    lda #(value)
    sta address
.endmacro

.macro SNAP
    jsr snapshot
.endmacro

; Writes `value` at offset $20 of the name table at `table`, where SCREEN_MARKS snapshots look.
.macro MARK_SCREEN table, value
    PPU_ADDRESS (table) + $20
    POKE PPUDATA, value
.endmacro

; Write `value` to an MMC1 register serially: five writes, low bit first.
.macro MMC1 address, value
    lda #(value)
    sta address
    lsr a
    sta address
    lsr a
    sta address
    lsr a
    sta address
    lsr a
    sta address
.endmacro
