// The viewer in xterm.js (VS Code's terminal and many web terminals) with its image addon, in
// headless Chromium: the viewer runs on a pseudo-terminal (pty_bridge) whose bytes this script
// carries to the page's terminal and back, as VS Code carries them. The picture (about 2,900
// colours: more than the 256 colour registers xterm.js starts with, fewer than the 4096 it can
// be set to) must show at (10, 10) of the text area, every channel of every pixel within 3
// levels of the file (sixel's own precision is a percent); nothing else may show, on the image
// layer or as text; Enter must end the run with status 0, leaving the cursor shown and the
// terminal's own number of colour registers in force. Prints what xterm.js answered about its
// registers and what the viewer set.
//
// Usage: node check.mjs MODULES VIEWER PTY_BRIDGE
//   MODULES  the folder whose node_modules holds the packages of package-lock.json
// Exits 0 when all holds, 1 when something does not, 3 when the picture never showed or came
// in the 256 registers xterm.js starts with (a loaded machine can answer the viewer's
// questions, or its setting, later than it waits: worth another try), 77 when Chromium is not
// there.
import { spawn } from 'node:child_process';
import { existsSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { tmpdir } from 'node:os';
import { join } from 'node:path';

const [modules, viewer, bridge] = process.argv.slice(2);
const chromiumPath = '/usr/bin/chromium';
if (!existsSync(chromiumPath)) {
  console.log(`skipped: no Chromium at ${chromiumPath}`);
  process.exit(77);
}
const require = createRequire(join(modules, 'package.json'));
const { chromium } = require('playwright-core');
const asset = (name) => require.resolve(name);

const columns = 100, rows = 40, width = 160, height = 100;

// The picture, rows in the order the file stores them (the viewer paints them so): colour c of
// 2,900 at (x, y), each channel a multiple of 17, so that no two of them round to the same
// percentages.
function colourAt(x, y) {
  const c = (x + 7 * y) % 2900;
  return [(c % 15) * 17, (Math.floor(c / 15) % 15) * 17, Math.floor(c / 225) * 17];
}
function bitmap() {
  const rowSize = (3 * width + 3) & ~3;
  const file = Buffer.alloc(54 + rowSize * height);
  file.write('BM', 0);
  file.writeUInt32LE(file.length, 2);
  file.writeUInt32LE(54, 10);
  file.writeUInt32LE(40, 14);
  file.writeInt32LE(width, 18);
  file.writeInt32LE(height, 22);
  file.writeUInt16LE(1, 26);
  file.writeUInt16LE(24, 28);
  for (let y = 0; y < height; ++y)
    for (let x = 0; x < width; ++x) {
      const [r, g, b] = colourAt(x, y);
      file.set([b, g, r], 54 + y * rowSize + 3 * x);
    }
  return file;
}

const work = mkdtempSync(join(tmpdir(), 'xtermjs-check-'));
writeFileSync(join(work, 'Painting.bmp'), bitmap());
const expected = [];
for (let y = 0; y < height; ++y)
  for (let x = 0; x < width; ++x) expected.push(...colourAt(x, y));

let browser, child, status = 1;
const output = [];  // all the viewer wrote
try {
  browser = await chromium.launch({
    executablePath: chromiumPath,
    headless: true,
    // No network, no GPU, nothing in the background: a closed machine, loaded by other work.
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
           '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
  const page = await browser.newPage({ viewport: { width: 1280, height: 900 }, deviceScaleFactor: 1 });
  await page.setContent('<!doctype html><body style="margin:0"><div id="terminal"></div></body>');
  await page.addStyleTag({ path: join(asset('@xterm/xterm/package.json'), '../css/xterm.css') });
  await page.addScriptTag({ path: asset('@xterm/xterm') });
  await page.addScriptTag({ path: asset('@xterm/addon-image') });

  // The terminal's answers and keys go to the viewer, as VS Code sends them.
  await page.exposeFunction('toViewer', (data) => child?.stdin.writable && child.stdin.write(data, 'binary'));
  await page.evaluate(({ columns, rows }) => {
    const term = new Terminal({ cols: columns, rows, fontFamily: 'DejaVu Sans Mono', fontSize: 14 });
    term.loadAddon(new ImageAddon.ImageAddon());
    term.open(document.getElementById('terminal'));
    window.answers = window.allAnswers = '';
    term.onData((data) => {
      window.answers += data;
      window.allAnswers += data;
      window.toViewer(data);
    });
    term.onBinary((data) => window.toViewer(data));
    window.term = term;
  }, { columns, rows });

  child = spawn(bridge, [String(columns), String(rows), viewer], {
    cwd: work,
    env: { ...process.env, TERM: 'xterm-256color', TERM_PROGRAM: 'vscode' },
    stdio: ['pipe', 'pipe', 'pipe'],
  });
  const ended = new Promise((resolve) => child.on('exit', (code) => resolve(code)));
  let writing = Promise.resolve();
  child.stdout.on('data', (bytes) => {
    output.push(bytes);
    const text = bytes.toString('latin1');
    writing = writing.then(() => page.evaluate((t) => new Promise((done) => {
      window.term.write(Uint8Array.from(t, (c) => c.charCodeAt(0)), done);
    }), text));
  });

  // Pixels of the image layer from (10, 10), against the picture; and anything drawn outside it.
  const look = () => page.evaluate(({ expected, width, height }) => {
    const layer = document.querySelector('.xterm-image-layer');
    const screen = document.querySelector('.xterm-screen').getBoundingClientRect();
    if (!layer) return { wrong: width * height, worst: 255, outside: 0, note: 'no image layer' };
    const place = layer.getBoundingClientRect();
    const context = layer.getContext('2d');
    const all = context.getImageData(0, 0, layer.width, layer.height).data;
    const left = 10 + Math.round(screen.left - place.left), top = 10 + Math.round(screen.top - place.top);
    let wrong = 0, worst = 0, outside = 0;
    for (let y = 0; y < layer.height; ++y)
      for (let x = 0; x < layer.width; ++x) {
        const at = 4 * (y * layer.width + x);
        const px = x - left, py = y - top;
        if (px < 0 || py < 0 || px >= width || py >= height) {
          outside += all[at + 3] !== 0;
          continue;
        }
        let off = all[at + 3] === 255 ? 0 : 255;
        for (let c = 0; c < 3; ++c)
          off = Math.max(off, Math.abs(all[at + c] - expected[3 * (py * width + px) + c]));
        worst = Math.max(worst, off);
        wrong += off > 3;
      }
    const text = [];
    for (let i = 0; i < window.term.buffer.active.length; ++i) {
      const line = window.term.buffer.active.getLine(i).translateToString(true);
      if (line.trim()) text.push(line);
    }
    return { wrong, worst, outside, text, layer: `${layer.width}x${layer.height}` };
  }, { expected, width, height });

  let seen;
  for (let tries = 0; tries < 60; ++tries) {
    await new Promise((r) => setTimeout(r, 250));
    seen = await look();
    if (seen.wrong === 0 && seen.outside === 0) break;
  }
  console.log(`xterm.js: image layer ${seen.layer}, ${seen.wrong} of ${width * height} pixels more than 3 levels off (worst ${seen.worst}), ${seen.outside} drawn outside the picture`);
  const painted = Buffer.concat(output).toString('latin1');
  // The highest register an image defined: at most 255 when the answer to the viewer's setting
  // came later than it waits, and it rightly kept to the number in force.
  const registers = [...painted.matchAll(/#(\d+);2;/g)].reduce((most, m) => Math.max(most, Number(m[1]) + 1), 0);
  if (seen.wrong !== 0 && !painted.includes('\x1bP')) {
    console.log('xterm.js: no sixel image came (the answers were late?)');
    status = 3;
  } else if (seen.wrong !== 0 && registers <= 256) {
    console.log(`xterm.js: the images used ${registers} registers (the answer to the setting was late?)`);
    status = 3;
  } else {
    // Enter, as the terminal sends it; then the terminal is asked what it has now.
    child.stdin.write('\r');
    const code = await Promise.race([ended, new Promise((r) => setTimeout(() => r('none'), 10000))]);
    await writing;
    await page.evaluate(() => new Promise((done) => {
      window.answers = '';
      window.term.write('\x1b[?1;1;0S\x1b[?25$p', done);
    }));
    await new Promise((r) => setTimeout(r, 200));
    const after = await page.evaluate(() => window.answers);
    const everything = Buffer.concat(output).toString('latin1');
    const asked = [...everything.matchAll(/\x1b\[\?1;3;(\d+)S/g)].map((m) => m[1]);
    const answered = (await page.evaluate(() => window.allAnswers)).match(/\x1b\[\?1;[^S]*S/g);
    console.log(`xterm.js: answered about registers ${JSON.stringify(answered)}; ` +
                `the viewer set ${asked.join(', then ') || 'nothing'}; after the run: ` +
                `${JSON.stringify(after)}; exit status ${code}`);
    const text = (await look()).text;
    const good = seen.wrong === 0 && seen.outside === 0 && code === 0 && text.length === 0 &&
                 after === '\x1b[?1;0;256S\x1b[?25;1$y' && asked.join() === '4096,256';
    if (text.length) console.log(`xterm.js: text on the screen: ${JSON.stringify(text)}`);
    status = good ? 0 : 1;
  }
} catch (error) {
  console.log(`xterm.js check: ${error.stack || error}`);
  status = 1;
} finally {
  child?.kill('SIGKILL');
  await browser?.close();
  rmSync(work, { recursive: true, force: true });
}
process.exit(status);
