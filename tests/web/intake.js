// A clinic's day from the Devices screen of `bplink serve --sim hid`: the
// technician uploads a plan for patient P-42 (named <script>), which opens
// the study; a plan that cannot give a valid recording is refused with its
// warnings and the form offered again as filled in; the worklist shows the
// study recording. Once the recorder is back (--signal: the test moves the
// hook-up before the simulated recorder's day, which it holds already), a
// download stopped half-way files what arrived as incomplete under the
// study, and a second one, its bar moving, completes it. The physician's
// walk (study.js) goes on from that study in the same browser.
'use strict';
const fs = require('fs');
const path = require('path');
const { run, followProgress, stopOnceMoving } = require('./browser');
const { studyWalk } = require('./study');

const kScript = '<script>alert(1)</script>';

// Waits for the file `name` in the directory the test shares with this walk.
async function signalled(dir, name, seconds) {
  for (let waited = 0; waited < seconds * 10; ++waited) {
    if (fs.existsSync(path.join(dir, name))) return true;
    await new Promise((resolve) => setTimeout(resolve, 100));
  }
  return false;
}

run(async (page, steps, opts) => {
  const { step, shot, check } = steps;
  const home = new URL('/', opts.url).href;
  let deviceUrl;
  const state = async () => {
    await page.goto(new URL('/worklist', home).href);
    await page.waitForSelector('table.worklist');
    return page.$$eval('table.worklist tbody tr', (rows) => rows.map((r) => r.dataset.state));
  };
  const fillPlan = async (day, night) => {
    await page.fill('input[name="period1.start"]', day);
    await page.selectOption('select[name="period1.interval"]', '15');
    await page.fill('input[name="period2.start"]', night);
    await page.selectOption('select[name="period2.interval"]', '30');
  };

  await step('a plan that cannot give a valid recording is refused with its warnings', async () => {
    await page.goto(opts.url);
    await page.click('table.devices >> text=Open');
    await page.waitForSelector('form.plan-form');
    deviceUrl = page.url();
    await fillPlan('22:00', '07:00');
    await page.fill('#patient_id', 'P-42');
    await page.fill('#patient_system', 'urn:clinic:mrn');
    await page.fill('#patient_name', kScript);
    await page.fill('#birth_date', '1960-05-31');
    await page.selectOption('#sex', 'female');
    await Promise.all([page.waitForNavigation(), page.click('form.plan-form button[type="submit"]')]);
    const warnings = await page.$$eval('ul.warnings li', (items) => items.map((i) => i.textContent));
    check(warnings.some((w) => w.includes('swapped')), 'the warnings are ' + JSON.stringify(warnings));
    check((await page.textContent('#problem')).includes('Nothing was sent'), 'the page does not say nothing was sent');
    // The form again, as filled in: the patient too, as text.
    check(await page.inputValue('input[name="period1.start"]') === '22:00', 'the day start was not kept');
    check(await page.inputValue('#patient_name') === kScript, 'the patient name was not kept as text');
    check(await page.isVisible('#accept-warnings'), 'no "Upload all the same"');
    await shot('upload-warnings');
  });

  await step('upload the plan, mended in the form offered again: the study opens, recording', async () => {
    await fillPlan('07:00', '22:00');
    await page.click('form.plan-form button[type="submit"]');
    await page.waitForSelector('#outcome');
    check((await page.textContent('#outcome')).includes('Plan uploaded.'), await page.textContent('#outcome'));
    const notes = (await page.$$eval('p.filing', (ps) => ps.map((p) => p.textContent))).join(' ');
    check(notes.includes(`Study 1 opened for patient P-42 (${kScript}) on this device`), 'the page says ' + notes);
    check(await page.isVisible('a#study'), 'no way to the study');
    await shot('upload-study');
    // One study: the refused plan opened none.
    check(JSON.stringify(await state()) === '["recording"]', 'the worklist does not show the study recording');
    const patient = await page.textContent('table.worklist td.patient');
    check(patient.includes('P-42') && patient.includes(kScript), 'the worklist shows ' + patient);
    await shot('worklist-recording');
  });

  await step('the recorder comes back', async () => {
    fs.writeFileSync(path.join(opts.signal, 'uploaded'), '');
    check(await signalled(opts.signal, 'hooked-up', 60), 'the test did not answer');
  });

  let arrived = 0;
  await step('a download stopped half-way files what arrived as incomplete', async () => {
    await page.goto(deviceUrl);
    await page.selectOption('#download-mode', '1');
    await page.click('section.download button[type="submit"]');
    const pressed = await stopOnceMoving(page, 10);
    check(pressed < 100, 'it ended before it could be stopped');
    await page.waitForSelector('#outcome');
    const outcome = await page.textContent('#outcome');
    arrived = Number((outcome.match(/Stopped: ([0-9]+) records? arrived/) || [])[1]);
    check(arrived > 0 && arrived < 78, outcome);
    const filed = await page.textContent('p.filing');
    check(filed.includes(`downloaded ${arrived} readings, ${arrived} new`) &&
          filed.includes('filed as an incomplete recording'), filed);
    await shot('download-stopped');
    // Under the patient's study, which says it is incomplete.
    await state();
    await page.click('table.worklist a[href^="/study"]');
    await page.waitForSelector('section.recording');
    check((await page.textContent('section.recording p.hint')).includes('filed incomplete'),
          'the study does not say its recording is incomplete');
    check((await page.$$('table.readings tbody tr')).length === arrived, 'the study holds another count');
    await shot('study-incomplete');
  });

  await step('download again, the bar moving: the study is complete and downloaded', async () => {
    await page.goto(deviceUrl);
    await page.selectOption('#download-mode', '1');
    await page.click('section.download button[type="submit"]');
    await page.waitForSelector('#progress');
    const seen = await followProgress(page);
    const moving = [...new Set(seen.filter((v) => v > 0 && v < 100))];
    check(moving.length >= 2, 'the bar showed ' + JSON.stringify(seen));
    check((await page.textContent('#outcome')).includes('Downloaded: 78 records arrived'),
          await page.textContent('#outcome'));
    const filed = await page.textContent('p.filing');
    check(filed.includes(`downloaded 78 readings, ${78 - arrived} new.`), filed);
    await shot('download-complete');
    check(JSON.stringify(await state()) === '["downloaded"]', 'the study is not downloaded');
  });

  // The physician's walk, from the Devices screen the session lands on.
  await studyWalk(page, steps, { ...opts, url: home });
});
