// The WebAssembly core in Node, against the native build: the same pictures,
// memory and states, and every kind of file opened as the desktop opens it.
//   KOLT_WEB_SITE=build/web/site KOLT_HEADLESS=.../kolt-headless KOLT_LINE_EDITOR=.../line_editor.bin
import {test} from 'node:test';
import assert from 'node:assert/strict';
import {execFileSync} from 'node:child_process';
import {createRequire} from 'node:module';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import zlib from 'node:zlib';

const require = createRequire(import.meta.url);
const site = process.env.KOLT_WEB_SITE;
const headless = process.env.KOLT_HEADLESS;
const lineEditor = process.env.KOLT_LINE_EDITOR;
globalThis.pako = require(path.resolve(site, 'pako.min.js'));
const createKolt = require(path.resolve(site, 'kolt.js'));
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'kolt-web-'));

function native(...args) { execFileSync(headless, args, {cwd: work, stdio: ['ignore', 'ignore', 'inherit']}); }

// An independent PNG reader (8-bit RGB, not interlaced) for the native screenshots.
function pngRgb(file) {
    const png = fs.readFileSync(file);
    let at = 8, width = 0, height = 0;
    const idat = [];
    while (at < png.length) {
        const length = png.readUInt32BE(at), type = png.toString('latin1', at + 4, at + 8);
        const body = png.subarray(at + 8, at + 8 + length);
        if (type === 'IHDR') { width = body.readUInt32BE(0); height = body.readUInt32BE(4); assert.equal(body[8], 8); assert.equal(body[9], 2); }
        if (type === 'IDAT') idat.push(body);
        at += 12 + length;
    }
    const raw = zlib.inflateSync(Buffer.concat(idat)), stride = width * 3;
    const out = Buffer.alloc(stride * height);
    for (let y = 0; y < height; y++) {
        const filter = raw[y * (stride + 1)], line = raw.subarray(y * (stride + 1) + 1, (y + 1) * (stride + 1));
        for (let x = 0; x < stride; x++) {
            const a = x >= 3 ? out[y * stride + x - 3] : 0, b = y > 0 ? out[(y - 1) * stride + x] : 0;
            const c = x >= 3 && y > 0 ? out[(y - 1) * stride + x - 3] : 0;
            let v = line[x];
            if (filter === 1) v += a;
            else if (filter === 2) v += b;
            else if (filter === 3) v += (a + b) >> 1;
            else if (filter === 4) { const p = a + b - c, pa = Math.abs(p - a), pb = Math.abs(p - b), pc = Math.abs(p - c); v += pa <= pb && pa <= pc ? a : pb <= pc ? b : c; }
            out[y * stride + x] = v & 0xFF;
        }
    }
    return out;
}

async function machine({rom} = {}) {
    const m = await createKolt({wasmBinary: fs.readFileSync(path.resolve(site, 'kolt.wasm'))});
    m.FS.mkdir('/files');
    if (rom) m.FS.writeFile('/vzrom.v20', fs.readFileSync(rom));
    m._kolt_start(0);
    return m;
}
function pictureRgb(m) {
    const at = m._kolt_picture(), rgba = m.HEAPU8.subarray(at, at + 320 * 240 * 4), rgb = Buffer.alloc(320 * 240 * 3);
    for (let i = 0; i < 320 * 240; i++) { rgb[i * 3] = rgba[i * 4]; rgb[i * 3 + 1] = rgba[i * 4 + 1]; rgb[i * 3 + 2] = rgba[i * 4 + 2]; }
    return rgb;
}
function memory(m) { const at = m._kolt_memory(); return Buffer.from(m.HEAPU8.subarray(at, at + 65536)); }
function open(m, name, bytes) {
    if (bytes) m.FS.writeFile('/files/' + name, bytes);
    const ok = m.ccall('kolt_open', 'number', ['string', 'number'], ['/files/' + name, 0]);
    return {ok, message: m.UTF8ToString(m._kolt_message())};
}

test('the built-in program after 3000 frames is the native picture, and the frame rate is reported', async () => {
    const m = await machine();
    m._kolt_run_frames(3000);
    native('--frames', '3000', '--screenshot', 'builtin.png');
    assert.ok(pictureRgb(m).equals(pngRgb(path.join(work, 'builtin.png'))), 'pictures differ');
    // Measured once the engine has compiled the hot code; in processor time, as
    // wall time on a shared machine says little.
    const used = process.cpuUsage();
    m._kolt_run_frames(6000);
    const {user, system} = process.cpuUsage(used);
    console.log(`# wasm core: ${Math.round(6000 / ((user + system) / 1e6))} frames per processor second (built-in program)`);
});

test('a line typed into a test program lands in memory as it does natively', async () => {
    const m = await machine({rom: lineEditor});
    m._kolt_run_frames(50);
    assert.equal(m.ccall('kolt_type', 'number', ['string'], ['LIST 10, 20\n']), 1);
    m._kolt_run_frames(950);
    native('--rom', lineEditor, '--reset', '--frames', '50', '--type', 'LIST 10, 20\r', '--frames', '950', '--dump-memory', 'editor.bin');
    const mine = memory(m), theirs = fs.readFileSync(path.join(work, 'editor.bin'));
    assert.equal(mine.toString('latin1', 0x8000, 0x800C), 'LIST 10, 20\r');
    // Native typing runs frames of its own, so only the editor's count of frame interrupts may differ.
    mine.writeUInt16LE(0, 0x7A02);
    theirs.writeUInt16LE(0, 0x7A02);
    assert.ok(mine.equals(theirs), 'memory differs');
});

test('states pass between the native build and the web build both ways', async () => {
    native('--frames', '120', '--save-state', 'native.kstate', '--frames', '200', '--screenshot', 'native.png');
    const m = await machine();
    m._kolt_run_frames(7);
    assert.deepEqual(open(m, 'native.kstate', fs.readFileSync(path.join(work, 'native.kstate'))), {ok: 1, message: ''});
    m._kolt_run_frames(200);
    assert.ok(pictureRgb(m).equals(pngRgb(path.join(work, 'native.png'))), 'a native state runs on differently');

    assert.equal(m.ccall('kolt_save_state', 'number', ['string'], ['/web.kstate']), 1);
    fs.writeFileSync(path.join(work, 'web.kstate'), m.FS.readFile('/web.kstate'));
    m._kolt_run_frames(150);
    native('--load-state', 'web.kstate', '--frames', '150', '--screenshot', 'from-web.png');
    assert.ok(pictureRgb(m).equals(pngRgb(path.join(work, 'from-web.png'))), 'a web state runs on differently natively');

    const damaged = Buffer.from(fs.readFileSync(path.join(work, 'web.kstate')));
    damaged[damaged.length - 5] ^= 0xFF;
    const r = open(m, 'damaged.kstate', damaged);
    assert.equal(r.ok, 0);
    assert.match(r.message, /damaged/);
});

test('each kind of file opens by its kind, waiting for the machine to be ready', async () => {
    const m = await machine({rom: lineEditor});
    // A machine-code program that fills the video memory with 0x55 and stops.
    const code = [0x21, 0x00, 0x70, 0x01, 0x00, 0x02, 0x36, 0x55, 0x23, 0x0B, 0x78, 0xB1, 0x20, 0xF8, 0x18, 0xFE];
    const vz = Buffer.alloc(24 + code.length);
    vz.write('VZF0FILL', 0, 'latin1');
    vz[21] = 0xF1;
    vz.writeUInt16LE(0x7B00, 22);
    Buffer.from(code).copy(vz, 24);
    assert.deepEqual(open(m, 'fill.VZ', vz), {ok: 1, message: ''});
    assert.notEqual(memory(m)[0x7B00], 0x21, 'loaded before the machine was ready');
    m._kolt_run_frames(260);
    const filled = memory(m);
    assert.equal(filled[0x7B00], 0x21);
    assert.equal(filled.subarray(0x7000, 0x7200).every((b) => b === 0x55), true);

    const t = await machine({rom: lineEditor});
    assert.equal(open(t, 'lines.txt', Buffer.from('AB 1\nCD 2\n')).ok, 1);
    t._kolt_run_frames(400);
    assert.equal(memory(t).toString('latin1', 0x8000, 0x800A), 'AB 1\rCD 2\r');

    assert.equal(open(t, 'empty.dsk', Buffer.alloc(0)).ok, 1);
    assert.equal(t.UTF8ToString(t._kolt_disk_path(0)), '/files/empty.dsk');

    fs.writeFileSync(path.join(work, 'fill.vz'), vz);
    native('--convert', 'fill.vz', 'fill.cas');
    assert.equal(open(t, 'fill.cas', fs.readFileSync(path.join(work, 'fill.cas'))).ok, 1);
    t._kolt_run_frames(2);
    assert.equal(t._kolt_tape_running(), 1);

    const wrong = open(t, 'notes.doc', Buffer.from('x'));
    assert.equal(wrong.ok, 0);
    assert.match(wrong.message, /opens \.vz, \.wav, \.cas, \.dsk, \.txt, \.bas and \.kstate/);
});
