; KOLT built-in program: runs in place of the system ROM when no ROM image
; could be found, so that a first start explains itself instead of showing a
; silent screen. It tells how to load a ROM, echoes the keys typed (which
; shows the keyboard works) and clicks the speaker on each key press.
;
; Assembled at build time into the bytes that the machine copies to 0x0000.

screen:     equ 0x7000          ; 16 rows of 32 character codes
latch:      equ 0x6800          ; any write lands in the output latch
keys_page:  equ 0x68            ; reads of 0x68xx: low byte selects key rows

ordinary:   equ 0x40            ; the machine's usual dark-on-green text
blank:      equ 0x20 | ordinary ; a space
cursor_mark: equ 0x20           ; a dark cell stands out on the green screen

echo_top:   equ screen + 13 * 32    ; three rows at the bottom for the echo
echo_end:   equ screen + 16 * 32

; The two keys that change what other keys mean, read on their own: the low
; address byte that selects only their row, and their bit in it.
shift_row:  equ 0xFF & ~(1 << 2)
ctrl_row:   equ 0xFF & ~(1 << 1)
modifier_bit: equ 1 << 2

click_halves: equ 32            ; about 9 ms: heard, yet over before the
click_delay:  equ 64            ; next typed key (two frames apart) is down

; Variables live well above the start of RAM: the smallest memory option
; still has RAM there, and 0x783B is kept clear because one extended-graphics
; variant watches writes to it.
vars:       equ 0x7A00
prev_keys:  equ vars            ; 8 rows, bit set = key was down at last scan
new_keys:   equ vars + 8        ; 8 rows, bit set = key went down this scan
cursor:     equ vars + 16       ; word: the echo cell the next key goes to
ctrl_held:  equ vars + 18

; The reset stack (0xF000) lies above RAM in the smaller memory options, where
; pushes would vanish; this one is inside RAM in every option.
stack_top:  equ 0x7C00

            org 0x0000

start:
            ; The machine raises its frame interrupt in mode 0, which would
            ; restart us at 0x0000; nothing here needs it.
            di
            ld sp, stack_top
            xor a
            ld (latch), a       ; text mode, first colour set, speaker at rest

            ld hl, screen
            ld de, screen + 1
            ld bc, 16 * 32 - 1
            ld (hl), blank
            ldir

            ld hl, messages
show_next:
            ld e, (hl)
            inc hl
            ld d, (hl)
            inc hl
            ld a, d
            or e
            jr z, shown
            ld c, (hl)          ; ordinary text, or none for the title bar
            inc hl
show_char:
            ld a, (hl)
            inc hl
            or a
            jr z, show_next
            ; ASCII 0x20-0x5F map onto the 64 character codes by their low
            ; six bits, so the messages below stay readable as written.
            and 0x3F
            or c
            ld (de), a
            inc de
            jr show_char
shown:

            ; Keys already down at start echo only once they are pressed again.
            ld hl, prev_keys
            ld b, 8
mark_held:
            ld (hl), 0xFF
            inc hl
            djnz mark_held

            ld hl, echo_top
            ld (cursor), hl
            ld (hl), cursor_mark

main_loop:
            call scan_keys
            ; Read after the scan: the matrix may change between two row reads,
            ; and any key the scan saw down was read before these two.
            ld a, (keys_page * 256 + ctrl_row)
            cpl
            and modifier_bit
            ld (ctrl_held), a
            ld a, (keys_page * 256 + shift_row)
            cpl
            and modifier_bit
            ld de, plain_keys
            jr z, dispatch
            ld de, shifted_keys
dispatch:
            ld hl, new_keys
            ld c, 8
dispatch_row:
            ld a, (hl)
            ld b, 8
dispatch_bit:
            rrca
            jr nc, dispatch_skip
            push af
            push bc
            push de
            push hl
            ld a, (de)
            call key_pressed
            pop hl
            pop de
            pop bc
            pop af
dispatch_skip:
            inc de
            djnz dispatch_bit
            inc hl
            dec c
            jr nz, dispatch_row
            jr main_loop

; Reads the eight rows and keeps in new_keys only the keys that were up at
; the previous scan, so a held key echoes once.
scan_keys:
            ld hl, prev_keys
            ld de, new_keys
            ld c, 0xFE          ; row 0 selected by a 0 in address bit 0
scan_row:
            ld b, keys_page
            ld a, (bc)
            cpl
            and 0x3F            ; bits 6 and 7 are tape and field sync, not keys
            ld b, a
            ld a, (hl)
            cpl
            and b
            ld (de), a
            ld (hl), b
            inc hl
            inc de
            rlc c               ; the 0 moves to the next row; after row 7 the
            jr c, scan_row      ; carry out is the 0 itself and the scan ends
            ret

; A = the table entry of a key that went down: 0 for none, 13 for RETURN,
; else its character.
key_pressed:
            or a
            ret z
            ld b, a
            ld a, (ctrl_held)
            or a
            jr z, key_plain
            ; CTRL M is the machine's backspace (the host's Backspace and Left
            ; keys send it); other CTRL combinations mean nothing here.
            ld a, b
            cp 'M'
            ret nz
            call click
            ld hl, (cursor)
            ld a, l
            and 0x1F
            ret z               ; start of an echo row: nothing left to erase
            ld (hl), blank
            dec hl
            jr set_cursor

key_plain:
            push bc
            call click
            pop bc
            ld hl, (cursor)
            ld a, b
            cp 13
            jr z, new_line
            and 0x3F
            or ordinary
            ld (hl), a
            inc hl
            jr check_bottom

new_line:
            ld (hl), blank
            ld a, l
            or 0x1F             ; rows are 32-aligned: jump to the row's last cell
            ld l, a
            inc hl

check_bottom:
            ld a, h
            cp echo_end >> 8    ; the echo area ends exactly at a page boundary
            jr nz, set_cursor
            ld hl, echo_top + 32
            ld de, echo_top
            ld bc, echo_end - echo_top - 32
            ldir
            ld hl, echo_end - 32
            ld de, echo_end - 31
            ld bc, 31
            ld (hl), blank
            ldir
            ld hl, echo_end - 32

set_cursor:
            ld (cursor), hl
            ld (hl), cursor_mark
            ret

; A short square wave. The speaker hangs between latch bits 5 and 0, so they
; are driven in opposition for the full swing; bit 3 stays 0 to keep the text
; screen, and the latch ends at 0 with the speaker at rest.
click:
            ld b, click_halves
            ld a, 0x20
click_half:
            ld (latch), a
            xor 0x21
            ld c, click_delay
click_wait:
            dec c
            jr nz, click_wait
            djnz click_half
            xor a
            ld (latch), a
            ret

; Each message: screen address, 0x40 for ordinary text or 0 for the inverted
; title, the text, 0. A zero address ends the list.
messages:
            dw screen
            db 0
            db "    NO SYSTEM ROM WAS FOUND     ", 0
            dw screen + 2 * 32 + 1
            db ordinary
            db "THIS MACHINE NEEDS ITS SYSTEM", 0
            dw screen + 3 * 32 + 1
            db ordinary
            db "ROM IMAGE TO START BASIC.", 0
            dw screen + 5 * 32 + 1
            db ordinary
            db "TO LOAD ONE: FILE > LOAD ROM,", 0
            dw screen + 6 * 32 + 1
            db ordinary
            db "THEN FILE > RESET.", 0
            dw screen + 7 * 32 + 1
            db ordinary
            db "OR PUT VZROM.V20 (LOWER CASE)", 0
            dw screen + 8 * 32 + 1
            db ordinary
            db "IN THE START FOLDER, OR IN", 0
            dw screen + 9 * 32
            db ordinary
            db "HOME/.LOCAL/SHARE/KOLT/KOLT/ROMS", 0
            dw screen + 10 * 32 + 1
            db ordinary
            db "AND RESTART (OR USE --ROM FILE)", 0
            dw screen + 12 * 32 + 1
            db ordinary
            db "KEYS YOU TYPE SHOW BELOW:", 0
            dw 0

; Characters by matrix position: eight entries a row, bit 0 first (bits 6
; and 7 never hold keys). SHIFT, CTRL and the unwired bits give 0.
plain_keys:
            db 'T', 'W', 0,   'E', 'Q', 'R', 0, 0      ; row 0
            db 'G', 'S', 0,   'D', 'A', 'F', 0, 0      ; row 1 (CTRL)
            db 'B', 'X', 0,   'C', 'Z', 'V', 0, 0      ; row 2 (SHIFT)
            db '5', '2', 0,   '3', '1', '4', 0, 0      ; row 3
            db 'N', '.', 0,   ',', ' ', 'M', 0, 0      ; row 4
            db '6', '9', '-', '8', '0', '7', 0, 0      ; row 5
            db 'Y', 'O', 13,  'I', 'P', 'U', 0, 0      ; row 6
            db 'H', 'L', ':', 'K', ';', 'J', 0, 0      ; row 7

; With SHIFT held: the symbols printed on the keys; letters stay letters.
shifted_keys:
            db 'T', 'W', 0,   'E', 'Q', 'R', 0, 0
            db 'G', 'S', 0,   'D', 'A', 'F', 0, 0
            db 'B', 'X', 0,   'C', 'Z', 'V', 0, 0
            db '%', '"', 0,   '#', '!', '$', 0, 0
            db '^', '>', 0,   '<', ' ', 0x5C, 0, 0     ; 0x5C: backslash
            db '&', ')', '=', '(', '@', 0x27, 0, 0     ; 0x27: apostrophe
            db 'Y', '[', 13,  'I', ']', 'U', 0, 0
            db 'H', '?', '*', '/', '+', 'J', 0, 0

            end
