// The page in a real browser (Debian's chromium, headless): a program given
// by a #url= link and by a drop, a ROM given at the prompt, a line typed by
// key events, states saved and loaded, and the picture against the native one.
//   KOLT_WEB_SITE, KOLT_HEADLESS, KOLT_LINE_EDITOR as for core.test.mjs; CHROMIUM (default /usr/bin/chromium)
import {test, before, after} from 'node:test';
import assert from 'node:assert/strict';
import {execFileSync} from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import puppeteer from 'puppeteer-core';

const site = path.resolve(process.env.KOLT_WEB_SITE);
const headless = process.env.KOLT_HEADLESS;
const lineEditor = process.env.KOLT_LINE_EDITOR;
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'kolt-browser-'));
const types = {'.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css', '.wasm': 'application/wasm'};

// A machine-code program: interrupts off, the video memory filled with `value`, then a loop.
function fillProgram(value) {
    const code = [0xF3, 0x21, 0x00, 0x70, 0x01, 0x00, 0x08, 0x36, value, 0x23, 0x0B, 0x78, 0xB1, 0x20, 0xF8, 0x18, 0xFE];
    const vz = Buffer.alloc(24 + code.length);
    vz.write('VZF0FILL', 0, 'latin1');
    vz[21] = 0xF1;
    vz.writeUInt16LE(0x7B00, 22);
    Buffer.from(code).copy(vz, 24);
    return vz;
}

function nativePicture(vzName) {
    fs.writeFileSync(path.join(work, vzName), fillProgram(vzName.includes('aa') ? 0xAA : 0x55));
    execFileSync(headless, ['--frames', '300', '--load', vzName, '--frames', '20', '--dump-memory', vzName + '.mem',
                            '--screenshot', vzName + '.png'], {cwd: work});
    return fs.readFileSync(path.join(work, vzName + '.png'));
}

let server, browser, origin;
before(async () => {
    server = http.createServer((request, response) => {
        const url = new URL(request.url, 'http://x');
        const file = url.pathname.startsWith('/test/') ? path.join(work, path.basename(url.pathname))
                                                       : path.join(site, path.normalize(url.pathname === '/' ? 'index.html' : url.pathname));
        fs.readFile(file, (error, data) => {
            if (error) { response.writeHead(404); response.end(); return; }
            response.writeHead(200, {'Content-Type': types[path.extname(file)] || 'application/octet-stream'});
            response.end(data);
        });
    });
    await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
    origin = `http://127.0.0.1:${server.address().port}`;
    browser = await puppeteer.launch({
        executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
        headless: true,
        args: ['--no-sandbox', '--autoplay-policy=no-user-gesture-required', '--disable-background-timer-throttling'],
    });
});
after(async () => { await browser?.close(); server?.close(); });

async function openPage(hash = '') {
    const page = await browser.newPage();
    await page.setViewport({width: 1024, height: 800});
    const errors = [];
    page.on('pageerror', (e) => errors.push(e.message));
    await page.goto(`${origin}/index.html${hash}`);
    await page.waitForFunction(() => window.kolt && window.kolt.started, {timeout: 10000});
    return {page, errors};
}

// The canvas as PNG bytes decoded by the browser, compared pixel for pixel with the native PNG.
async function canvasMatches(page, png) {
    return page.evaluate(async (pngBase64) => {
        const image = await createImageBitmap(new Blob([Uint8Array.from(atob(pngBase64), (c) => c.charCodeAt(0))]));
        const ref = new OffscreenCanvas(320, 240).getContext('2d');
        ref.drawImage(image, 0, 0);
        const a = ref.getImageData(0, 0, 320, 240).data;
        const b = document.getElementById('picture').getContext('2d').getImageData(0, 0, 320, 240).data;
        for (let i = 0; i < a.length; i++) if (a[i] !== b[i]) return false;
        return true;
    }, png.toString('base64'));
}

const framesPassed = (page, n) => page.evaluate((n) => new Promise((resolve) => {
    const until = window.kolt.framesRun + n;
    const wait = () => (window.kolt.framesRun >= until ? resolve() : setTimeout(wait, 20));
    wait();
}), n);

test('a program given by a #url= link, then one dropped, show the native pictures', async () => {
    const png55 = nativePicture('fill55.vz'), pngAA = nativePicture('fillaa.vz');
    const {page, errors} = await openPage('#url=/test/fill55.vz');
    await framesPassed(page, 320);
    assert.ok(await canvasMatches(page, png55), 'the #url= program differs from the native picture');
    const first = await page.evaluate(() => window.kolt.firstPictureMs);
    console.log(`# first picture ${Math.round(first)} ms after the page began loading`);

    await page.evaluate(async (b64) => {
        const data = new DataTransfer();
        data.items.add(new File([Uint8Array.from(atob(b64), (c) => c.charCodeAt(0))], 'fillaa.vz'));
        window.dispatchEvent(new DragEvent('drop', {dataTransfer: data, bubbles: true, cancelable: true}));
    }, fs.readFileSync(path.join(work, 'fillaa.vz')).toString('base64'));
    await framesPassed(page, 20);
    assert.ok(await canvasMatches(page, pngAA), 'the dropped program differs from the native picture');

    // The page's share of the processor at 50 frames a second.
    const cpu0 = await page.metrics(), t0 = performance.now(), f0 = await page.evaluate(() => window.kolt.framesRun);
    await new Promise((r) => setTimeout(r, 4000));
    const cpu1 = await page.metrics(), seconds = (performance.now() - t0) / 1000;
    const f1 = await page.evaluate(() => window.kolt.framesRun);
    console.log(`# ${((f1 - f0) / seconds).toFixed(1)} frames per second, main thread busy ${(100 * (cpu1.TaskDuration - cpu0.TaskDuration) / seconds).toFixed(1)} % of a core`);
    assert.deepEqual(errors, []);
    await page.close();
});

test('a ROM given at the prompt is kept, a line typed by keys reaches it, and a state brings it back', async () => {
    const {page, errors} = await openPage();
    assert.equal(await page.$eval('#rom-prompt', (e) => e.hidden), false);
    await framesPassed(page, 10);
    const screen = await page.evaluate(() => window.kolt.module.UTF8ToString(window.kolt.module._kolt_screen_text()));
    assert.match(screen, /CHOOSE THE FILE *\n UNDER THE BUTTONS\.[^]*AND NEVER LEAVES IT\./, 'the built-in program gives the desktop\'s way to load a ROM');
    const bottom = await page.$eval('#picture', (e) => e.getBoundingClientRect().bottom);
    assert.ok(bottom <= await page.$eval('#bar', (e) => e.getBoundingClientRect().top), 'the picture covers the bar');
    const input = await page.$('#rom-file');
    await input.uploadFile(lineEditor);
    await page.waitForFunction(() => document.getElementById('rom-prompt').hidden, {timeout: 5000});
    await framesPassed(page, 60);
    const text = (n) => page.evaluate((n) => {
        const m = window.kolt.module, at = m._kolt_memory() + 0x8000;
        return String.fromCharCode(...m.HEAPU8.subarray(at, at + n));
    }, n);

    await page.focus('#picture');
    for (const key of ['KeyA', 'KeyB', 'Space', 'Digit1', 'Enter']) {
        await page.keyboard.down(key);
        await framesPassed(page, 3);
        await page.keyboard.up(key);
        await framesPassed(page, 12);
    }
    assert.equal(await text(5), 'AB 1\r');
    await page.click('#save-state');
    await page.evaluate(() => window.kolt.module.ccall('kolt_type', 'number', ['string'], ['CD 2\r']));
    await framesPassed(page, 60);
    assert.equal(await text(10), 'AB 1\rCD 2\r');
    await page.click('#load-state');
    await framesPassed(page, 5);
    assert.equal(await text(10), 'AB 1\r\0\0\0\0\0');

    // The ROM stays in the browser for the next visit.
    const again = await openPage();
    assert.equal(await again.page.$eval('#rom-prompt', (e) => e.hidden), true);
    assert.deepEqual(errors.concat(again.errors), []);
    await again.page.close();
    await page.close();
});

// Files the page hands over, read once the browser has finished writing them.
async function downloads(page, dir, count) {
    const session = await page.createCDPSession();
    await session.send('Browser.setDownloadBehavior', {behavior: 'allow', downloadPath: dir});
    return async () => {
        for (let i = 0; i < 250; i++) {
            const names = fs.readdirSync(dir).filter((n) => !n.endsWith('.crdownload'));
            if (names.length >= count) return names.map((n) => fs.readFileSync(path.join(dir, n)));
            await new Promise((r) => setTimeout(r, 20));
        }
        assert.fail(`expected ${count} downloads, got ${fs.readdirSync(dir).join(', ')}`);
    };
}

test('two disks of one name stay two disks and both download; a tape recording downloads as a WAV', async () => {
    const {page, errors} = await openPage();
    const disk = (fill) => Buffer.alloc(98560, fill).toString('base64');
    await page.evaluate(async (a, b) => {
        const file = (b64) => new File([Uint8Array.from(atob(b64), (c) => c.charCodeAt(0))], 'blank.dsk');
        const data = new DataTransfer();
        data.items.add(file(a));
        data.items.add(file(b));
        window.dispatchEvent(new DragEvent('drop', {dataTransfer: data, bubbles: true, cancelable: true}));
    }, disk(0x11), disk(0x22));
    await page.waitForFunction(() => !document.getElementById('disk2').hidden);
    const fills = [];
    for (const button of ['#disk', '#disk2']) {
        const dir = fs.mkdtempSync(path.join(work, 'disk-'));
        const disk = await downloads(page, dir, 1);
        await page.click(button);
        const [b] = await disk();
        fills.push(b.length === 98560 && b.every((v) => v === b[0]) ? b[0] : -1);
    }
    assert.deepEqual(fills, [0x11, 0x22]);

    // Interrupts off, then the cassette bits toggled every 900 T-states or so.
    const code = [0xF3, 0x3E, 0x06, 0x32, 0x00, 0x68, 0x06, 0x40, 0x10, 0xFE,
                  0x3E, 0x00, 0x32, 0x00, 0x68, 0x06, 0x40, 0x10, 0xFE, 0x18, 0xEC];
    const vz = Buffer.alloc(24 + code.length);
    vz.write('VZF0TONE', 0, 'latin1');
    vz[21] = 0xF1;
    vz.writeUInt16LE(0x7B00, 22);
    Buffer.from(code).copy(vz, 24);
    fs.writeFileSync(path.join(work, 'tone.vz'), vz);
    const tapeDir = fs.mkdtempSync(path.join(work, 'tape-'));
    const tape = await downloads(page, tapeDir, 1);
    await page.click('#tape');
    assert.equal(await page.$eval('#tape', (e) => e.textContent), 'Stop recording');
    await page.evaluate(async () => {
        const bytes = new Uint8Array(await (await fetch('/test/tone.vz')).arrayBuffer());
        window.kolt.module.FS.writeFile('/files/tone.vz', bytes);
        window.kolt.module.ccall('kolt_open', 'number', ['string', 'number'], ['/files/tone.vz', 0]);
    });
    await framesPassed(page, 350);
    await page.click('#tape');
    const [wav] = await tape();
    assert.equal(wav.toString('latin1', 0, 4), 'RIFF');
    assert.equal(wav.readUInt32LE(4), wav.length - 8);
    assert.equal(wav.readUInt32LE(40), wav.length - 44);
    let changes = 0;
    for (let i = 45; i < wav.length; i++) if ((wav[i] > 0x80) !== (wav[i - 1] > 0x80)) changes++;
    assert.ok(changes > 1000, `only ${changes} level changes in the recording`);
    assert.equal(await page.$eval('#tape', (e) => e.textContent), 'Record tape');
    assert.deepEqual(errors, []);
    await page.close();
});
