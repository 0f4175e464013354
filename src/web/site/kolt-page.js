// The page around the machine: canvas, bar, files, ROMs, sound, gamepad and
// pacing on the desktop's fixed 20 ms grid.
'use strict';

(() => {
const kPeriod = 20;         // ms a frame
const kFastSlice = 12;      // ms of frames back to back at the Fast rate
const kSamplesPerFrame = 882;
const kDbName = 'kolt';
const $ = (id) => document.getElementById(id);

// Host keys by position: KeyboardEvent.code to the PC scan codes the core takes.
const kScanCodes = {
    Escape: 0x01, Minus: 0x0C, Equal: 0x0D, Backspace: 0x0E, Tab: 0x0F, Enter: 0x1C, ControlLeft: 0x1D,
    Semicolon: 0x27, Quote: 0x28, ShiftLeft: 0x2A, Comma: 0x33, Period: 0x34, Slash: 0x35, ShiftRight: 0x36,
    Space: 0x39, Numpad7: 0x47, Numpad8: 0x48, Numpad9: 0x49, Numpad4: 0x4B, Numpad5: 0x4C, Numpad6: 0x4D,
    Numpad1: 0x4F, Numpad2: 0x50, Numpad3: 0x51, Numpad0: 0x52, ControlRight: 0x9D, ArrowUp: 0xC8,
    ArrowLeft: 0xCB, ArrowRight: 0xCD, End: 0xCF, ArrowDown: 0xD0, Insert: 0xD2, Delete: 0xD3,
};
'1234567890'.split('').forEach((d, i) => { kScanCodes['Digit' + d] = 0x02 + i; });
[['QWERTYUIOP', 0x10], ['ASDFGHJKL', 0x1E], ['ZXCVBNM', 0x2C]].forEach(([row, first]) =>
    row.split('').forEach((c, i) => { kScanCodes['Key' + c] = first + i; }));

const page = {
    module: null, paused: false, fast: false, soundOn: true, byCharacter: false,
    framesRun: 0, firstPictureMs: null, deadline: 0, audio: null, node: null,
    names: {},    // file system path -> the name the user gave the file
    diskKept: {}, // disk path -> its bytes as the user has them (opened or downloaded)
};
window.kolt = page; // for the browser tests

// ---- IndexedDB: the ROMs, the last state and the settings -----------------------
function db() {
    return new Promise((resolve, reject) => {
        const request = indexedDB.open(kDbName, 1);
        request.onupgradeneeded = () => request.result.createObjectStore('files');
        request.onsuccess = () => resolve(request.result);
        request.onerror = () => reject(request.error);
    });
}
async function stored(key) {
    const d = await db();
    return new Promise((resolve) => {
        const r = d.transaction('files').objectStore('files').get(key);
        r.onsuccess = () => resolve(r.result);
        r.onerror = () => resolve(undefined);
    });
}
async function store(key, value) {
    const d = await db();
    return new Promise((resolve, reject) => {
        const t = d.transaction('files', 'readwrite');
        t.objectStore('files').put(value, key);
        t.oncomplete = () => resolve();
        t.onerror = () => reject(t.error);
    });
}

// ---- messages ----------------------------------------------------------------------
function say(text, error = false) {
    $('message').textContent = text;
    $('message').className = error ? 'error' : '';
}
function coreMessage() { return page.module.UTF8ToString(page.module._kolt_message()); }

// ---- the picture -----------------------------------------------------------------------
const canvas = $('picture');
const context = canvas.getContext('2d', {alpha: false});
const image = context.createImageData(320, 240);

// The largest whole multiple that fits beside what the page shows around it
// (the bar wraps, the ROM prompt comes and goes: each calls this again).
function fit() {
    const around = ['bar', 'message', 'rom-prompt'].map($)
        .filter((e) => getComputedStyle(e).display !== 'none')
        .reduce((sum, e) => sum + e.offsetHeight, 0);
    const scale = Math.max(1, Math.floor(Math.min(window.innerWidth / 320, (window.innerHeight - around) / 240)));
    canvas.style.width = 320 * scale + 'px';
    canvas.style.height = 240 * scale + 'px';
}

function draw() {
    const m = page.module;
    const at = m._kolt_picture();
    image.data.set(m.HEAPU8.subarray(at, at + 320 * 240 * 4));
    context.putImageData(image, 0, 0);
    if (page.firstPictureMs === null) page.firstPictureMs = performance.now();
}

// ---- sound -------------------------------------------------------------------------------
async function startSound() {
    if (page.audio) return;
    try {
        page.audio = new AudioContext({sampleRate: 44100, latencyHint: 'interactive'});
        await page.audio.audioWorklet.addModule('kolt-audio.js');
        page.node = new AudioWorkletNode(page.audio, 'kolt-sound');
        page.node.connect(page.audio.destination);
    } catch (e) {
        page.node = null;
        say('Sound is not available in this browser: ' + e.message, true);
    }
    updateSound();
}
function updateSound() {
    const fed = !page.paused && !page.fast && !document.hidden;
    page.module._kolt_sound_fed(fed ? 1 : 0);
    page.module._kolt_sound_enabled(page.soundOn ? 1 : 0);
}
function feedSound() {
    if (!page.node) return;
    const at = page.module._kolt_audio(kSamplesPerFrame) >> 1;
    page.node.port.postMessage(page.module.HEAP16.slice(at, at + kSamplesPerFrame));
}

// ---- gamepad -----------------------------------------------------------------------------
function gamepadHeld() {
    let held = 0;
    for (const pad of navigator.getGamepads ? navigator.getGamepads() : []) {
        if (!pad) continue;
        const b = (i) => pad.buttons[i] && pad.buttons[i].pressed;
        const x = pad.axes[0] || 0, y = pad.axes[1] || 0;
        if (b(12) || y < -0.5) held |= 1;
        if (b(13) || y > 0.5) held |= 2;
        if (b(14) || x < -0.5) held |= 4;
        if (b(15) || x > 0.5) held |= 8;
        if (b(0)) held |= 16;
    }
    return held;
}

// ---- pacing --------------------------------------------------------------------------------
function frame() {
    page.module._kolt_controller(gamepadHeld());
    page.module._kolt_frame();
    page.framesRun++;
    if (!page.fast) feedSound();
}

function tick(now) {
    requestAnimationFrame(tick);
    if (page.paused || document.hidden) return;
    let ran = false;
    if (page.fast) {
        const until = now + kFastSlice;
        do { frame(); ran = true; } while (performance.now() < until);
    } else {
        if (now - page.deadline > kPeriod) page.deadline = now; // more than a period late: the grid restarts
        while (now >= page.deadline) {
            frame();
            ran = true;
            page.deadline += kPeriod;
        }
    }
    if (ran) draw();
}

function restartGrid() { page.deadline = performance.now(); }

// ---- files -------------------------------------------------------------------------------------
function safeName(name) { return (name || 'file').replace(/[^A-Za-z0-9._-]/g, '_'); }

const diskPath = (drive) => page.module.UTF8ToString(page.module._kolt_disk_path(drive));
const diskPaths = () => [0, 1].map(diskPath).filter((p) => p);

function driveFor() { return diskPath(0) ? 1 : 0; }

// A path of its own for every file in use: a second disk of the same name must
// not overwrite the first one's image, nor a recording an opened tape.
function freePath(name) {
    const inUse = new Set(diskPaths().concat(Object.keys(page.names).filter((p) => page.names[p].recording)));
    const safe = safeName(name), dot = safe.lastIndexOf('.');
    const stem = dot > 0 ? safe.slice(0, dot) : safe, ext = dot > 0 ? safe.slice(dot) : '';
    let path = '/files/' + safe;
    for (let n = 2; inUse.has(path); n++) path = `/files/${stem}-${n}${ext}`;
    return path;
}

function openBytes(name, bytes) {
    const m = page.module;
    const path = freePath(name);
    m.FS.writeFile(path, bytes);
    const ok = m.ccall('kolt_open', 'number', ['string', 'number'], [path, driveFor()]);
    const note = coreMessage();
    if (ok) say(note || 'Opened ' + name + '.');
    else say(note, true);
    if (ok && diskPaths().includes(path)) {
        page.names[path] = {name};
        page.diskKept[path] = bytes.slice();
    }
    updateDisk();
    updateTape();
    return ok === 1;
}

async function openFile(file) {
    return openBytes(file.name, new Uint8Array(await file.arrayBuffer()));
}

async function openUrl(url) {
    try {
        const response = await fetch(url);
        if (!response.ok) throw new Error('the server answered ' + response.status);
        const name = decodeURIComponent(new URL(url, location.href).pathname.split('/').pop());
        return openBytes(name, new Uint8Array(await response.arrayBuffer()));
    } catch (e) {
        say('Cannot open ' + url + ': ' + e.message, true);
        return false;
    }
}

function download(name, bytes, type = 'application/octet-stream') {
    const a = document.createElement('a');
    a.href = URL.createObjectURL(new Blob([bytes], {type}));
    a.download = name;
    a.click();
    setTimeout(() => URL.revokeObjectURL(a.href), 10000);
}

function stamp() {
    const d = new Date(), two = (n) => String(n).padStart(2, '0');
    return `${d.getFullYear()}${two(d.getMonth() + 1)}${two(d.getDate())}-${two(d.getHours())}${two(d.getMinutes())}${two(d.getSeconds())}`;
}

// One button a drive: browsers hold back a second download started by one click.
function updateDisk() {
    $('disk').hidden = !diskPath(0);
    $('disk2').hidden = !diskPath(1);
}

const sameBytes = (a, b) => !!a && !!b && a.length === b.length && a.every((v, i) => v === b[i]);

// Disks the machine changed since the user last had them, and a running recording.
function unsaved() {
    const changed = diskPaths().filter((p) => !sameBytes(page.module.FS.readFile(p), page.diskKept[p]));
    return changed.length > 0 || page.module._kolt_tape_recording() === 1;
}

function downloadDisk(drive) {
    const p = diskPath(drive);
    if (!p) return;
    const bytes = page.module.FS.readFile(p);
    download(page.names[p]?.name || p.split('/').pop(), bytes);
    page.diskKept[p] = bytes;
}

// ---- tape recording --------------------------------------------------------------------
const recordingPath = () => Object.keys(page.names).find((p) => page.names[p].recording);

function finishRecording(path) {
    const m = page.module;
    delete page.names[path];
    download(path.split('/').pop(), m.FS.readFile(path), 'audio/wav');
    m.FS.unlink(path);
    say('The recording is downloaded as a .wav file; open it to play it back.');
}

function updateTape() {
    const recording = page.module._kolt_tape_recording() === 1;
    const path = recordingPath();
    if (!recording && path) finishRecording(path); // a loaded state ended it
    $('tape').textContent = recording ? 'Stop recording' : 'Record tape';
    $('tape').setAttribute('aria-pressed', String(recording));
}

function recordOrStop() {
    const m = page.module;
    const path = recordingPath();
    if (m._kolt_tape_recording() === 1 && path) {
        m._kolt_tape_stop();
        finishRecording(path);
    } else {
        const name = `kolt-tape-${stamp()}.wav`;
        const target = freePath(name);
        if (!m.ccall('kolt_tape_record', 'number', ['string'], [target])) return say(coreMessage(), true);
        page.names[target] = {name, recording: true};
        say('Recording the cassette output (CSAVE "NAME" in BASIC); Stop recording downloads it.');
    }
    updateTape();
    canvas.focus();
}

// ---- states ------------------------------------------------------------------------------------
function saveState() {
    const m = page.module;
    if (!m.ccall('kolt_save_state', 'number', ['string'], ['/state.kstate'])) return say(coreMessage(), true);
    const bytes = m.FS.readFile('/state.kstate');
    store('state', bytes).catch(() => {});
    download(`kolt-${stamp()}.kstate`, bytes);
    say('State saved (kept in this browser, and downloaded).');
}

async function loadState() {
    const bytes = await stored('state');
    if (!bytes) return say('No state has been saved in this browser yet: open a .kstate file instead.', true);
    openBytes('last.kstate', bytes);
    updateSound();
}

// ---- ROMs ----------------------------------------------------------------------------------------
async function startMachine() {
    const m = page.module;
    const rom = await stored('rom').catch(() => undefined);
    const dos = await stored('dosrom').catch(() => undefined);
    if (rom) m.FS.writeFile('/vzrom.v20', rom);
    if (dos) m.FS.writeFile('/vzdos.rom', dos);
    $('rom-prompt').hidden = !!rom;
    m._kolt_start((dos ? 1 : 0) | 2);
    restartGrid();
}

async function chooseRom(key, input) {
    const file = input.files[0];
    if (!file) return;
    const bytes = new Uint8Array(await file.arrayBuffer());
    await store(key, bytes);
    say((key === 'rom' ? 'System ROM' : 'Disk ROM') + ' kept in this browser; the machine starts with it.');
    await startMachine();
}

// ---- settings ------------------------------------------------------------------------------------
function showSettings() {
    $('sound').textContent = page.soundOn ? 'Sound on' : 'Sound off';
    $('sound').setAttribute('aria-pressed', String(page.soundOn));
    $('keyboard').textContent = 'Keyboard: ' + (page.byCharacter ? 'by character' : 'by position');
    $('pause').setAttribute('aria-pressed', String(page.paused));
    $('fast').setAttribute('aria-pressed', String(page.fast));
    document.title = page.paused ? 'KOLT - Paused' : 'KOLT';
}
function keepSettings() {
    store('settings', {soundOn: page.soundOn, byCharacter: page.byCharacter}).catch(() => {});
}

// ---- keys ----------------------------------------------------------------------------------------
function keyEvent(e, down) {
    if (e.target instanceof HTMLInputElement) return;
    if (e.ctrlKey && !kScanCodes[e.code]) return;
    const m = page.module;
    if (page.byCharacter && down && e.key.length === 1 && !e.ctrlKey && !e.altKey && !e.metaKey) {
        m.ccall('kolt_type', 'number', ['string'], [e.key.toUpperCase()]);
        e.preventDefault();
        return;
    }
    const code = kScanCodes[e.code];
    if (code === undefined) return;
    if (page.byCharacter && (code === 0x2A || code === 0x36)) return; // the character already says it
    m._kolt_key(code, down ? 1 : 0);
    e.preventDefault();
}

// ---- wiring ----------------------------------------------------------------------------------------
function wire() {
    const firstGesture = () => startSound();
    window.addEventListener('pointerdown', firstGesture, {once: true});
    window.addEventListener('keydown', firstGesture, {once: true});
    window.addEventListener('keydown', (e) => keyEvent(e, true));
    window.addEventListener('keyup', (e) => keyEvent(e, false));
    window.addEventListener('blur', () => page.module._kolt_keys_release());
    window.addEventListener('resize', fit);
    const watch = new ResizeObserver(() => fit());
    for (const id of ['bar', 'message', 'rom-prompt']) watch.observe($(id));
    document.addEventListener('fullscreenchange', () => setTimeout(fit, 50));
    document.addEventListener('visibilitychange', () => {
        if (document.hidden) page.module._kolt_keys_release();
        restartGrid();
        updateSound();
    });

    $('open').onclick = () => $('open-file').click();
    $('open-file').onchange = async (e) => {
        for (const f of e.target.files) await openFile(f);
        e.target.value = '';
        canvas.focus();
    };
    $('reset').onclick = () => { page.module._kolt_reset(); restartGrid(); say('Reset.'); canvas.focus(); };
    $('pause').onclick = () => {
        page.paused = !page.paused;
        restartGrid(); updateSound(); showSettings(); canvas.focus();
    };
    $('fast').onclick = () => {
        page.fast = !page.fast;
        restartGrid(); updateSound(); showSettings(); canvas.focus();
    };
    $('paste').onclick = async () => {
        let text = null;
        try { text = await navigator.clipboard.readText(); } catch (e) { text = prompt('Text to type into the machine:'); }
        if (text && !page.module.ccall('kolt_type', 'number', ['string'], [text])) say(coreMessage(), true);
        canvas.focus();
    };
    $('save-state').onclick = saveState;
    $('load-state').onclick = loadState;
    $('screenshot').onclick = () => canvas.toBlob((blob) => download(`kolt-${stamp()}.png`, blob, 'image/png'));
    $('full-screen').onclick = () => {
        if (document.fullscreenElement) document.exitFullscreen();
        else document.body.requestFullscreen().catch((e) => say('Full screen refused: ' + e.message, true));
    };
    $('keyboard').onclick = () => {
        page.byCharacter = !page.byCharacter;
        page.module._kolt_keys_release();
        showSettings(); keepSettings(); canvas.focus();
    };
    $('sound').onclick = () => { page.soundOn = !page.soundOn; updateSound(); showSettings(); keepSettings(); };
    $('disk').onclick = () => downloadDisk(0);
    $('disk2').onclick = () => downloadDisk(1);
    $('tape').onclick = recordOrStop;
    window.addEventListener('beforeunload', (e) => {
        if (!unsaved()) return;
        e.preventDefault();
        e.returnValue = ''; // the browser asks whether to leave; its own words
    });
    $('rom-file').onchange = (e) => chooseRom('rom', e.target);
    $('dos-file').onchange = (e) => chooseRom('dosrom', e.target);

    let depth = 0;
    const hint = $('drop-hint');
    window.addEventListener('dragenter', (e) => { e.preventDefault(); depth++; hint.hidden = false; });
    window.addEventListener('dragleave', () => { if (--depth <= 0) { depth = 0; hint.hidden = true; } });
    window.addEventListener('dragover', (e) => e.preventDefault());
    window.addEventListener('drop', async (e) => {
        e.preventDefault();
        depth = 0;
        hint.hidden = true;
        for (const f of e.dataTransfer.files) await openFile(f);
        canvas.focus();
    });
}

async function main() {
    page.module = await createKolt();
    page.module.FS.mkdir('/files');
    const settings = await stored('settings').catch(() => undefined);
    if (settings) Object.assign(page, {soundOn: !!settings.soundOn, byCharacter: !!settings.byCharacter});
    wire();
    showSettings();
    fit();
    await startMachine();
    updateSound();
    updateTape();
    const link = new URLSearchParams(location.hash.slice(1)).get('url');
    if (link) await openUrl(link);
    canvas.focus();
    requestAnimationFrame(tick);
    page.started = true;
}

page.ready = main().catch((e) => say('KOLT could not start: ' + e.message, true));
})();
