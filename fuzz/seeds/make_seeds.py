#!/usr/bin/env python3
"""Writes the fuzz targets' seed inputs into the folders beside this script.

Every seed is made here from the file formats' rules; none comes from
elsewhere. Run it again after changing it: python3 fuzz/seeds/make_seeds.py
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def write(target, name, data):
    folder = os.path.join(HERE, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(bytes(data))


# ---- .vz programs -----------------------------------------------------------
def vz(kind, start, program):
    header = b"VZF0SEED".ljust(21, b"\0") + bytes([kind]) + struct.pack("<H", start)
    return header + bytes(program)


# Toggles the latch (speaker, cassette, mode), talks to the disk, printer,
# joystick, graphics and bank ports, then loops.
busy = [
    0xF3,              # DI
    0x3E, 0x0F,        # LD A,0Fh
    0x32, 0x00, 0x68,  # LD (6800h),A
    0xD3, 0x10,        # OUT (10h),A
    0xDB, 0x11,        # IN A,(11h)
    0xDB, 0x12,        # IN A,(12h)
    0xD3, 0x00,        # OUT (00h),A
    0xDB, 0x20,        # IN A,(20h)
    0xD3, 0x20,        # OUT (20h),A
    0xD3, 0x70,        # OUT (70h),A
    0xD3, 0x80,        # OUT (80h),A
    0x3C,              # INC A
    0x18, 0xEA,        # JR back to LD (6800h),A
]
write("vz_file", "machine_code.vz", vz(0xF1, 0x8000, busy))
write("vz_file", "basic.vz", vz(0xF0, 0x7AE9, [0xF4, 0x7A, 0x0A, 0x00, 0xB2, 0x20, 0x22, 0x48, 0x49, 0x22, 0x00, 0x00, 0x00]))
write("vz_file", "header_only.vz", vz(0x00, 0x9000, []))
write("vz_file", "past_the_top.vz", vz(0xF1, 0xFFF0, range(40)))
write("vz_file", "over_the_pointers.vz", vz(0xF0, 0x78A0, range(0x60)))

# ---- .wav tapes -------------------------------------------------------------
def fmt_body(rate=22050, channels=1, bits=8, tag=1):
    return struct.pack("<HHIIHH", tag, channels, rate, rate * channels * bits // 8, channels * bits // 8, bits)


def chunk(tag, body):
    pad = b"\0" if len(body) % 2 else b""
    return tag + struct.pack("<I", len(body)) + body + pad


def riff(*chunks):
    body = b"WAVE" + b"".join(chunks)
    return b"RIFF" + struct.pack("<I", len(body)) + body


samples = bytes(0xC0 if (i // 7) % 2 else 0x40 for i in range(300))
write("wav_tape", "canonical.wav", riff(chunk(b"fmt ", fmt_body()), chunk(b"data", samples)))
write("wav_tape", "long_format.wav", riff(chunk(b"fmt ", fmt_body() + b"\0\0"), chunk(b"data", samples[:100])))
write("wav_tape", "list_first.wav", riff(chunk(b"fmt ", fmt_body()), chunk(b"LIST", b"INFOISFT\x05\0\0\0kolt\0"), chunk(b"data", samples[:80])))
write("wav_tape", "no_data_chunk.wav", riff(chunk(b"fmt ", fmt_body()), chunk(b"junk", samples[:60])))
write("wav_tape", "stereo.wav", riff(chunk(b"fmt ", fmt_body(channels=2)), chunk(b"data", samples[:40])))

# ---- kolt.cfg ---------------------------------------------------------------
def settings(model=0, clock=0.0, tv=0, gfx=1, effects=0, cart=1, joy=1, wrom=0, wcart=0, ramtop=0xFFFF,
             sound=0, port=128, normal=1, casaudio=1, diskaudio=1, rom=b"vzrom.v20", cartridge=b"vzdos.rom"):
    rec = struct.pack("<ifiiiiiiiiii", model, clock, tv, gfx, effects, cart, joy, wrom, wcart, ramtop, sound, port)
    rec += bytes([normal, casaudio, diskaudio])
    rec += rom.ljust(512, b"\0") + cartridge.ljust(512, b"\0") + b"\0"
    assert len(rec) == 1076
    return rec


# Sound chip tones, the German graphics register and mode, banks.
ports = [
    0xF3,              # DI
    0x3E, 0x8F,        # LD A,8Fh
    0xD3, 0x80,        # OUT (80h),A   tone, SN76489 at its default port
    0x3E, 0x90,        # LD A,90h
    0xD3, 0x80,        # OUT (80h),A   volume
    0x3E, 0x08,        # LD A,08h
    0x32, 0x3B, 0x78,  # LD (783Bh),A  German mode via the latch copy
    0xD3, 0xDE,        # OUT (DEh),A
    0x32, 0x00, 0x68,  # LD (6800h),A  graphics mode
    0xD3, 0x71,        # OUT (71h),A   bank switch
    0x18, 0xFE,        # JR $
]
write("config", "defaults.cfg", settings())
write("config", "vz300_ntsc_german.cfg", settings(model=1, clock=3.5469, tv=1, gfx=2, effects=1, sound=1, wrom=1, wcart=1) + bytes(ports))
write("config", "small_memory.cfg", settings(ramtop=0x8FFF, gfx=0, joy=0, normal=0, casaudio=0, diskaudio=0, rom=b"", cartridge=b"") + bytes(busy))
write("config", "short.cfg", settings(model=1, tv=1)[:40])

# ---- .fnt fonts -------------------------------------------------------------
font = bytes((g * 37 + r * 11) & 0xFF for g in range(80) for r in range(12))
write("font", "pattern.fnt", font)
write("font", "graphics_latch.fnt", font + bytes([0x08, 0x1C]))
write("font", "colour_set.fnt", font + bytes([0x10, 0x00]))

# ---- .bmp pictures ----------------------------------------------------------
def bmp(width, height, bits, image_size, pixels):
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, 0, image_size, 2835, 2835, 2, 0)
    palette = bytes([0, 0, 0, 0, 255, 255, 255, 0])
    head = b"BM" + struct.pack("<IHHI", 62 + len(pixels), 0, 0, 62)
    return head + info + palette + bytes(pixels)


def rows(count, stride):
    return [(r * 3 + k * 5 + 1) & 0xFF for r in range(count) for k in range(stride)]


write("bitmap", "screen.bmp", bmp(256, 192, 1, 6144, rows(192, 32)))
write("bitmap", "narrow.bmp", bmp(72, 40, 1, 480, rows(40, 12)))
write("bitmap", "deep.bmp", bmp(256, 4, 24, 3072, rows(4, 768)))
write("bitmap", "top_down.bmp", bmp(256, -16, 1, 512, rows(16, 32)))

# ---- text -------------------------------------------------------------------
write("text", "basic.txt", b'10 PRINT "HI"\r20 GOTO 10\rRUN\r')
write("text", "symbols.txt", b"a=1+2*3/4-5;?(6<7)>8:'!#$%&@[]\\^\n\r")
write("text", "binary.txt", bytes([0x80, 0xFF, 0x1B, 0x7F, 0x00, 0x41]))

# ---- disk traffic -----------------------------------------------------------
image = bytes((i * 7 + i // 251) & 0xFF for i in range(2 * 2480))
traffic = bytes([
    0x00, 0x51,        # select drive 1, phase 0
    0x00, 0x52,        # step in
    0x00, 0x54,        # step in: track 1
    0x60, 0x03,        # armed reads
    0x70, 0x10, 0x00, 0x14,  # record 16 bytes on drive 1
    0x80, 0x05,        # five steps in
    0x81, 0x07,        # seven steps out
    0x43, 0x42, 0x41,  # read the ports
    0xB0, 0x00, 0x7F, 0x03, 0x07,  # IY and the track and sector it points at
    0x00, 0xC0,        # select drive 2 (the new, empty image)
    0x70, 0x40, 0x0C, 0x80,  # record 3136 bytes: past the end of the buffer
    0x90, 0x00, 0x90,  # unmount drive 1, select it
    0xA0, 0x00, 0x50,  # mount it again
])
write("disk", "traffic.bin", struct.pack("<H", len(image)) + image + traffic)
write("disk", "no_image.bin", struct.pack("<H", 0) + traffic)

# ---- tape recordings and .cas streams ----------------------------------------
SHORT_LOW = bytes([0x70, 0x54, 0x49, 0x43, 0x43, 0x41, 0x6D])
SHORT_HIGH = bytes([0x9D, 0xB1, 0xBC, 0xBD, 0xC1, 0xAC])
LONG_LOW = bytes([0x59, 0x48, 0x3E, 0x3C, 0x3B, 0x3B, 0x3C, 0x3D, 0x3E, 0x3F, 0x41, 0x42, 0x76])
LONG_HIGH = bytes([0x8B, 0xAA, 0xB7, 0xBC, 0xBE, 0xBE, 0xBD, 0xBC, 0xBB, 0xBB, 0xB8, 0xBA, 0x8D])


def cas(kind, name, start, data, leader=255, checksum_delta=0):
    end = start + len(data)
    addresses = struct.pack("<HH", start, end)
    checksum = (sum(addresses) + sum(data) + checksum_delta) & 0xFFFF
    return (bytes([0x80] * leader) + bytes([0xFE] * 5) + bytes([kind]) + name + b"\0" + addresses + bytes(data)
            + struct.pack("<H", checksum))


def tape_samples(stream):
    out = bytearray([0x80] * 39)
    for byte in stream:
        for bit in range(7, -1, -1):
            out += SHORT_HIGH + SHORT_LOW
            out += SHORT_HIGH + SHORT_LOW + SHORT_HIGH + SHORT_LOW if byte >> bit & 1 else LONG_HIGH + LONG_LOW
    return bytes(out)


def resampled(samples, rate):
    """Nearest-sample resampling of 8-bit samples to values from -1 to 1."""
    n = len(samples) * rate // 22050
    return [(samples[i * 22050 // rate] - 128) / 128 for i in range(n)]


def pcm(values, bits, channels=1, invert=False):
    out = bytearray()
    for v in values:
        v = -v if invert else v
        for _ in range(channels):
            if bits == 8:
                out.append(max(0, min(255, round(v * 128 + 128))))
            elif bits == 16:
                out += struct.pack("<h", max(-32768, min(32767, round(v * 32767))))
            elif bits == 24:
                out += struct.pack("<i", max(-(1 << 23), min((1 << 23) - 1, round(v * 8388607))))[:3]
            elif bits == 32:
                out += struct.pack("<f", v)
    return bytes(out)


def extensible_fmt(rate, channels, bits, tag):
    guid_tail = bytes([0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71])
    return fmt_body(rate, channels, bits, 0xFFFE) + struct.pack("<HHIH", 22, bits, 3, tag) + guid_tail


tiny = cas(0xF1, b"T", 0x8000, [0x3E, 0x01, 0xC9], leader=4)
tiny_samples = tape_samples(tiny)
write("wav_signal", "u8_22050.wav", riff(chunk(b"fmt ", fmt_body()), chunk(b"data", tiny_samples)))
write("wav_signal", "s16_8000_inverted.wav",
      riff(chunk(b"fmt ", fmt_body(8000, 1, 16)), chunk(b"data", pcm(resampled(tiny_samples, 8000), 16, invert=True))))
write("wav_signal", "f32_8000.wav",
      riff(chunk(b"fmt ", fmt_body(8000, 1, 32, 3)), chunk(b"data", pcm(resampled(tiny_samples, 8000), 32))))
write("wav_signal", "u8_8000_stereo.wav",
      riff(chunk(b"fmt ", fmt_body(8000, 2, 8)), chunk(b"data", pcm(resampled(tiny_samples, 8000), 8, 2))))
write("wav_signal", "s24_extensible_8000.wav",
      riff(chunk(b"fmt ", extensible_fmt(8000, 1, 24, 1)), chunk(b"data", pcm(resampled(tiny_samples, 8000), 24))))
write("wav_signal", "compressed.wav", riff(chunk(b"fmt ", fmt_body(22050, 1, 4, 0x11)), chunk(b"data", bytes(64))))

write("cas_file", "machine_code.cas", cas(0xF1, b"GAME", 0x8000, busy))
write("cas_file", "basic.cas", cas(0xF0, b"HELLO", 0x7AE9,
                                   [0xF4, 0x7A, 0x0A, 0x00, 0xB2, 0x20, 0x22, 0x48, 0x49, 0x22, 0x00, 0x00, 0x00]))
write("cas_file", "no_leader_long_name.cas", cas(0xF1, b"SEVENTEEN CHARS!!", 0x9000, range(20), leader=0))
write("cas_file", "bad_checksum.cas", cas(0xF1, b"X", 0x9000, range(8), leader=8, checksum_delta=1))

# ---- symbol files -------------------------------------------------------------
write("symbols", "definitions.sym", b"; labels\nSTART = $8000\nloop: EQU 8010H\r\n"
      b"DEFC _main = $8020 ; addr, public\ncount equ 32\ntable .EQU 0x9000\nport EQU #20\n")
write("symbols", "linker.map", b"Area       Addr   Size\n--------   ----   ----\n"
      b"     00008000  _main                              main\n     0000A000  l__DATA\n"
      b"9100 data\nvector $A100\nDEF _noi 0xA200\nlast: 0FFFFH\n")
write("symbols", "malformed.sym", b"bad line here\nX = $10000\n= $1234\n1234 5678\n9nine = 5\n"
      b"y EQU 12G4H\nname\x00 = $10\n" + b"long" * 40 + b" = $1\nSTART = $8001\n")
