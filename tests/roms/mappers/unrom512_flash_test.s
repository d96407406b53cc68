; Mapper 30 (UNROM 512), the self-flashing board (battery bit) with four separate name tables
; (four-screen and vertical bits): the register is at $C000-$FFFF only, and writes at
; $8000-$BFFF are commands to the flash chip at chip address page x 16 KB + (address AND $3FFF).
; After three snapshots the cartridge erases a 4 KB sector, programs bytes in it (a byte can only
; lose bits), reads the software ID and leaves ID mode, appending what it reads to the record.
; 128 KB PRG (16 banks, the code in the last), pattern RAM.

.include "nes.inc"

MAPPER      = 30
HEADER_BITS = INES_BATTERY | INES_FOUR_SCREEN | INES_VERTICAL
PRG_BANKS   = 16
CODE_BANK   = 15
CHR_UNITS   = 0
SCREEN_MARKS = 1

.include "mapper_harness.s"

; One write of a flash command: the page register gives the chip address bits 14-16.
.macro FLASH address, value
    POKE $C000, (address) >> 14
    POKE $8000 | ((address) & $3FFF), value
.endmacro

.macro UNLOCK
    FLASH $5555, $AA
    FLASH $2AAA, $55
.endmacro

; Appends the byte at `address` to the record.
.macro RECORD address
    lda address
    jsr put
.endmacro

.segment "RAMCODE"
main:
    SNAP                    ; 0: power-on layout: four separate tables
    MARK_SCREEN NAMETABLE_0, 1
    MARK_SCREEN NAMETABLE_1, 2
    MARK_SCREEN NAMETABLE_2, 3
    MARK_SCREEN NAMETABLE_3, 4
    POKE $8000, 3           ; a flash write, not the register
    SNAP                    ; 1
    POKE $C000, 2           ; the register: page 2
    SNAP                    ; 2
    UNLOCK                  ; erase the sector at chip address $14000 (page 5)
    FLASH $5555, $80
    UNLOCK
    FLASH $14000, $30
    POKE $C000, 5
    RECORD $8000            ; erased
    RECORD $8FFF            ; erased
    RECORD $9000            ; the next sector is untouched
    UNLOCK
    FLASH $5555, $A0
    FLASH $14123, $5A       ; programmed into the erased byte
    RECORD $8123
    UNLOCK
    FLASH $5555, $A0
    FLASH $14123, $0F       ; programming only clears bits: $0A
    RECORD $8123
    POKE $8124, $00         ; without the unlock cycles a write programs nothing
    RECORD $8124
    UNLOCK                  ; software ID: maker, device, in every window
    FLASH $5555, $90
    RECORD $8000
    RECORD $8001
    RECORD $E000
    RECORD $FFF9
    POKE $8000, $F0         ; leave ID mode; the register still holds page 1
    RECORD $8000
    POKE $C000, 5
    RECORD $8123
    jmp finish
