; A line editor that takes keys as the BASIC ROM does, for the typing tests.
;
; The frame interrupt scans the keyboard and latches one new key (a key that
; was not down at the previous scan); a new key replaces one not yet taken.
; The main loop moves the latched key into its text. After RETURN it is busy
; "storing the line" for several frames and takes no keys, while the
; interrupt goes on scanning: keys typed then are lost, as with the ROM.
;
; Text arrives at 0x8000 as ASCII (RETURN as 13). Only keys typed without
; SHIFT have characters here: letters, digits, space, RETURN and , . - : ;

rows:       equ 0x68            ; reads of 0x68xx: the low byte selects rows
latched:    equ 0x7A00          ; the key the interrupt latched, 0 = none
last_scan:  equ 0x7A01          ; the key down at the previous scan, 0 = none
ticks:      equ 0x7A02          ; frame interrupts so far
text_end:   equ 0x7A04          ; word: where the next character goes
text:       equ 0x8000
stack_top:  equ 0x7C00
busy_frames: equ 6              ; the ROM needs several frames to store a line

            org 0x0000
            di
            jp start

            defs 0x0038 - $     ; the mode 1 interrupt entry (org would not pad the output)
            push af
            push bc
            push de
            push hl
            ld hl, ticks
            inc (hl)
            call scan
            ld hl, last_scan
            cp (hl)
            jr z, scanned       ; still held, or still nothing
            ld (hl), a
            or a
            jr z, scanned
            ld (latched), a
scanned:
            ld bc, 0x03FF       ; the ROM's handler idles about 27,000 T-states,
idle:                           ; longer than the field sync holds /INT, so it
            dec bc              ; runs once a field; so does this one
            ld a, c
            or b
            jr nz, idle
            pop hl
            pop de
            pop bc
            pop af
            ei
            reti

start:
            ld sp, stack_top
            im 1
            xor a
            ld (latched), a
            ld (last_scan), a
            ld (ticks), a
            ld hl, text
            ld (text_end), hl
            ei
take:
            ld a, (latched)
            or a
            jr z, take
            ld b, a
            xor a
            ld (latched), a
            ld hl, (text_end)
            ld (hl), b
            inc hl
            ld (text_end), hl
            ld a, b
            cp 13
            jr nz, take
            ld a, (ticks)       ; storing the line
            add a, busy_frames
            ld c, a
busy:
            ld a, (ticks)
            cp c
            jr nz, busy
            jr take

; A = the character of the first key found down, 0 for none.
scan:
            ld hl, keymap
            ld e, 0xFE          ; address bit 0 low selects row 0
            ld b, 8
next_row:
            ld d, rows
            ld a, (de)
            cpl
            and 0x3F
            jr nz, in_row
            ld a, l
            add a, 8
            ld l, a
            jr nc, no_carry
            inc h
no_carry:
            rlc e
            djnz next_row
            xor a
            ret
in_row:
            rra
            jr c, found
            inc hl
            jr in_row
found:
            ld a, (hl)
            ret

; The matrix as the keys are wired, bit 0 to bit 5 of each row (two spare
; entries pad a row to eight); 0 for a key without a character here.
keymap:
            defb 'T', 'W', 0,   'E', 'Q', 'R', 0, 0
            defb 'G', 'S', 0,   'D', 'A', 'F', 0, 0     ; bit 2: CTRL
            defb 'B', 'X', 0,   'C', 'Z', 'V', 0, 0     ; bit 2: SHIFT
            defb '5', '2', 0,   '3', '1', '4', 0, 0
            defb 'N', '.', 0,   ',', ' ', 'M', 0, 0
            defb '6', '9', '-', '8', '0', '7', 0, 0
            defb 'Y', 'O', 13,  'I', 'P', 'U', 0, 0
            defb 'H', 'L', ':', 'K', ';', 'J', 0, 0
