// What every browser test shares: Debian's Chromium, started by the test,
// headless, with a profile of its own; a page that fails the test on any
// console error, uncaught exception, dialog or Content-Security-Policy
// violation; screenshots into the build tree; and small steps with a name,
// so a failure says where it happened.
'use strict';
const fs = require('fs');
const os = require('os');
const path = require('path');
const { chromium } = require('playwright-core');

const kChromium = process.env.BPLINK_CHROMIUM || '/usr/bin/chromium';
const kArgs = ['--no-sandbox', '--disable-gpu', '--disable-background-networking', '--disable-component-update',
               '--disable-sync', '--no-first-run'];

function options(argv) {
  const out = {};
  for (let i = 2; i + 1 < argv.length; i += 2) out[argv[i].replace(/^--/, '')] = argv[i + 1];
  if (!out.url || !out.shots) {
    console.error('usage: node TEST.js --url URL --shots DIR [--user NAME --kind "OS user"]');
    process.exit(2);
  }
  return out;
}

// Runs `walk(page, steps)` in a fresh browser; exits 0 when it passed and
// nothing went wrong on the page, 1 otherwise.
async function run(walk) {
  const opts = options(process.argv);
  fs.mkdirSync(opts.shots, { recursive: true });
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'bplink-chromium-'));
  const problems = [];
  let context;
  let step = 'starting Chromium';
  let expected = null;  // a refusal the step is waiting for: (response) => true
  try {
    context = await chromium.launchPersistentContext(profile, {
      executablePath: kChromium, headless: true, args: kArgs, viewport: { width: 1280, height: 900 },
    });
    context.setDefaultTimeout(30000);
    // Reported by the page itself: a CSP violation may not reach the console.
    await context.addInitScript(() => {
      document.addEventListener('securitypolicyviolation', (e) => {
        console.error('CSP violation: ' + e.violatedDirective + ' blocked ' + (e.blockedURI || 'inline'));
      });
    });
    // Every value a transfer's bar takes, noted by the page itself as it
    // changes and kept across the reload that ends the transfer: sampling
    // from here, a round trip at a time, misses steps on a busy machine.
    await context.addInitScript(() => {
      document.addEventListener('DOMContentLoaded', () => {
        const bar = document.getElementById('progress');
        if (!bar) return;
        const key = 'bplink-progress:' + location.pathname;
        const note = () => {
          const seen = JSON.parse(sessionStorage.getItem(key) || '[]');
          if (seen[seen.length - 1] !== bar.value) sessionStorage.setItem(key, JSON.stringify([...seen, bar.value]));
        };
        note();
        new MutationObserver(note).observe(bar, { attributes: true, attributeFilter: ['value'] });
      });
    });
    const page = context.pages()[0] || await context.newPage();
    page.on('console', (m) => {
      if (m.type() !== 'error') return;
      // The browser's own note of the refusal the step waits for.
      if (expected && m.text().startsWith(`Failed to load resource: the server responded with a status of ${expected.status} `))
        return;
      problems.push(`console error at "${step}": ${m.text()}`);
    });
    page.on('pageerror', (e) => problems.push(`uncaught exception at "${step}": ${e.message}`));
    // A refused request says why in its page: shown with the failure.
    page.on('response', async (r) => {
      if (r.status() < 400) return;
      if (expected && expected(r)) return;
      const text = await r.text().catch(() => '');
      const why = (text.match(/id="problem">([^<]*)</) || [])[1] || '';
      problems.push(`${r.request().method()} ${new URL(r.url()).pathname} answered ${r.status()} at "${step}": ${why}`);
    });
    page.on('dialog', (d) => { problems.push(`a dialog opened at "${step}": ${d.message()}`); d.dismiss(); });
    const steps = {
      async step(name, fn) {
        step = name;
        console.log('step: ' + name);
        await fn();
      },
      async shot(name) {
        await page.screenshot({ path: path.join(opts.shots, name + '.png'), fullPage: true });
      },
      check(ok, what) {
        if (!ok) throw new Error(`at "${step}": ${what}`);
      },
      // Runs `fn` while a refusal of `status` to a request for `path` is
      // what the step expects (the page then says why).
      async refused(status, path, fn) {
        expected = (r) => r.status() === status && new URL(r.url()).pathname === path;
        expected.status = status;
        try {
          await fn();
        } finally {
          expected = null;
        }
      },
    };
    await walk(page, steps, opts);
  } catch (e) {
    problems.push(e.stack || String(e));
  } finally {
    if (context) await context.close();
    fs.rmSync(profile, { recursive: true, force: true });
  }
  for (const p of problems) console.error('FAIL: ' + p);
  process.exit(problems.length ? 1 : 0);
}

// Waits for a transfer's outcome; answers every value its bar showed, in order.
async function followProgress(page) {
  const job = new URL(page.url()).pathname;
  await page.waitForSelector('#outcome', { timeout: 60000 });
  return page.evaluate((key) => JSON.parse(sessionStorage.getItem(key) || '[]'), 'bplink-progress:' + job);
}

// Presses Stop the moment the bar reaches `least` percent, as a person
// watching it would, from within the page: a round trip between seeing the
// bar and pressing could outlast the transfer on a busy machine. Answers
// the value the bar showed when Stop was pressed.
async function stopOnceMoving(page, least) {
  await page.waitForSelector('#stop');
  return page.evaluate((least) => new Promise((resolve) => {
    const bar = document.getElementById('progress');
    const look = () => {
      if (bar.value >= least) {
        document.getElementById('stop').click();
        resolve(bar.value);
      } else {
        setTimeout(look, 5);
      }
    };
    look();
  }), least);
}

module.exports = { run, followProgress, stopOnceMoving };
