; A tape loader for the tests, written from the tape format and from what was
; measured of the BASIC ROM, not from the emulator's decoder: it reads the
; cassette input (bit 6 of a 0x68xx read, 0 while the signal is high) and
; times the signal's halves with counted loops.
;
; A bit is a short cycle, then a long one (0) or two short ones (1); a cycle
; is its high half, then its low half. The first high half of a bit is not
; timed: a pause at the high level runs into it. After the name's 0x00 the
; loader "prints" for 10000 T-states (2.8 ms) and does not look at the input,
; as the ROM's loader prints the name: a tape must hold its level there or
; bits are lost.
;
; The timing windows come from the ROM's save routine (short half 1010-1066
; T-states, long 2011-2243) and from the speeds its loader accepts (148-186
; T-states per 22050 Hz sample, 0.91 to 1.15 times the true one): short
; 880-1310 T-states, long 1900-2450. Anything else is an error, except while
; the leader is being looked for, when the search starts again.
;
; The outcome, at `result`: status 0 while loading, 1 loaded, 2 checksum
; wrong, 3 timeout, 4 a half outside the windows, 5 a type other than
; 0xF0/0xF1, 6 a name of more than 17 characters, 7 an end before the start.
; Then the type, the name (0-terminated), start, end, the sum of the bytes
; and the recorded checksum. Data goes to its start address from 0x7A00 up.

input:      equ 0x6800
result:     equ 0x7900
r_status:   equ result
r_type:     equ result + 1
r_name:     equ result + 2          ; 18 bytes
r_start:    equ result + 0x14
r_end:      equ result + 0x16
r_sum:      equ result + 0x18
r_read:     equ result + 0x1A
phase:      equ result + 0x1C       ; 0 looking for the leader, 1 reading
acc:        equ result + 0x1D       ; the byte being shifted in
left:       equ result + 0x1E       ; data bytes still to come
stack_top:  equ 0x79F0
store_from: equ 0x7A

; Loop counts: (T-states - 90 of overhead) / 30 per loop.
short_min:  equ 26
short_end:  equ 41
long_min:   equ 60
long_end:   equ 79

why_sum:      equ 2
why_timeout:  equ 3
why_timing:   equ 4
why_type:     equ 5
why_name:     equ 6
why_order:    equ 7

            org 0x0000
            di
            ld sp, stack_top
            ld hl, result
            ld b, 0x20
clear:      ld (hl), 0
            inc hl
            djnz clear
            ld hl, input
            ld c, 0x40

search:     ld sp, stack_top
            xor a
            ld (phase), a
            ld (acc), a
search_bit: call read_bit
            ld a, (acc)
            rla
            ld (acc), a
            cp 0xFE
            jr nz, search_bit

            ld a, 1
            ld (phase), a
sync:       call read_byte
            cp 0xFE
            jr z, sync
            ld (r_type), a
            cp 0xF0
            jr z, type_ok
            cp 0xF1
            ld a, why_type
            jp nz, fail
type_ok:
            ld ix, r_name
            ld b, 18
name:       push bc
            call read_byte
            pop bc
            ld (ix+0), a
            inc ix
            or a
            jr z, named
            djnz name
            ld a, why_name
            jp fail

named:      call print
            call read_byte
            ld (r_start), a
            call add_sum
            call read_byte
            ld (r_start + 1), a
            call add_sum
            call read_byte
            ld (r_end), a
            call add_sum
            call read_byte
            ld (r_end + 1), a
            call add_sum
            push hl
            ld hl, (r_end)
            ld de, (r_start)
            or a
            sbc hl, de
            ld (left), hl
            pop hl
            ld a, why_order
            jp c, fail
            ld iy, (r_start)

data:       push hl
            ld hl, (left)
            ld a, h
            or l
            pop hl
            jr z, checksum
            call read_byte
            call add_sum
            ld b, a
            push iy
            ex (sp), hl
            ld a, h
            pop hl
            cp store_from
            jr c, next
            ld (iy + 0), b
next:       inc iy
            push hl
            ld hl, (left)
            dec hl
            ld (left), hl
            pop hl
            jr data

checksum:   call read_byte
            ld (r_read), a
            call read_byte
            ld (r_read + 1), a
            push hl
            ld hl, (r_read)
            ld de, (r_sum)
            or a
            sbc hl, de
            pop hl
            ld a, why_sum
            jr nz, fail
            ld a, 1
            ld (r_status), a
            jr stop

bad_timing: ld a, why_timing
            jr fail
timeout:    ld a, why_timeout
fail:       ld b, a
            ld a, (phase)
            or a
            jp z, search
            ld a, b
            ld (r_status), a
stop:       halt
            jr stop

; The printing of the name: busy, deaf to the tape.
print:      ld de, 384              ; 384 x 26 T-states
print_loop: dec de
            ld a, d
            or e
            jr nz, print_loop
            ret

; r_sum += a; keeps a.
add_sum:    push hl
            push de
            ld e, a
            ld d, 0
            ld hl, (r_sum)
            add hl, de
            ld (r_sum), hl
            ld a, e
            pop de
            pop hl
            ret

; a = the next byte, most significant bit first.
read_byte:  ld a, 1                 ; a marker that leaves through carry after 8 bits
            ld (acc), a
byte_bit:   call read_bit
            ld a, (acc)
            rla
            ld (acc), a
            jr nc, byte_bit
            ret

; Carry = the next bit.
read_bit:   call wait_high          ; the bit's first cycle begins
            call wait_low
            call count_low
            call check_short
            call count_high
            ld a, b
            cp long_min
            jr nc, bit_zero
            call check_short
            call count_low
            call check_short
            call count_high
            call check_short
            scf
            ret
bit_zero:   cp long_end
            jp nc, bad_timing
            or a
            ret

check_short: ld a, b
            cp short_min
            jp c, bad_timing
            cp short_end
            jp nc, bad_timing
            ret

; b = loops (30 T-states each) while the signal stays high, or low.
count_high: ld b, 0
count_h:    ld a, (hl)
            and c
            ret nz
            inc b
            jp nz, count_h
            jp bad_timing

count_low:  ld b, 0
count_l:    ld a, (hl)
            and c
            ret z
            inc b
            jp nz, count_l
            jp bad_timing

; Waits, up to about 0.7 s, for the signal to go high, or low.
wait_high:  ld de, 0
wait_h:     ld a, (hl)
            and c
            ret z
            dec de
            ld a, d
            or e
            jp nz, wait_h
            jp timeout

wait_low:   ld de, 0
wait_l:     ld a, (hl)
            and c
            ret nz
            dec de
            ld a, d
            or e
            jp nz, wait_l
            jp timeout
