// A physician's morning at the Worklist and a study of `bplink serve`, after
// the clinic's intake (intake.js, in the same browser): the study opened
// there (a plan uploaded for patient P-42, named <script>, and the recorder
// downloaded) is listed as downloaded, found again by the filter and not
// by another; its page shows the verdict, the charts and every reading; a reading is excluded with a reason and taken back, the
// diary's sleep changes the verdict, a download station's workstation
// (--station-url, on PostgreSQL) may not sign and says why, the physician
// signs; its PDF, FHIR, CSV and JSON are fetched (saved to --saved for the
// test to read), the PDF as signed.
'use strict';
const fs = require('fs');
const path = require('path');

const kScript = '<script>alert(1)</script>';

// The walk, from a page with a session; `opts.url` leads to the workstation.
async function studyWalk(page, { step, shot, check, refused }, opts) {
  const filter = async (fields) => {
    await page.goto(new URL('/worklist', opts.url).href);
    for (const [name, value] of Object.entries(fields)) {
      if (name === 'state') await page.selectOption('select[name="state"]', value);
      else await page.fill(`input[name="${name}"]`, value);
    }
    // The answer is a new page: the old one's list must not be read for it.
    await Promise.all([page.waitForNavigation({ url: /\/worklist\?/ }), page.click('form.filter button[type="submit"]')]);
    return page.$$eval('table.worklist tbody tr', (rows) => rows.map((r) => r.dataset.state));
  };

  await step('the worklist lists the study as downloaded', async () => {
    await page.goto(opts.url);
    await page.click('nav >> text=Worklist');
    await page.waitForSelector('table.worklist');
    const states = await page.$$eval('table.worklist tbody tr', (rows) => rows.map((r) => r.dataset.state));
    check(JSON.stringify(states) === '["downloaded"]', 'the worklist holds ' + JSON.stringify(states));
    const patient = await page.textContent('table.worklist td.patient');
    check(patient.includes(kScript) && patient.includes('P-42'), 'the patient is not shown as text: ' + patient);
    await shot('worklist');
  });

  await step('the filter finds it by patient, device, state and date, and nothing else', async () => {
    const day = (await page.textContent('table.worklist tbody td:nth-child(5)')).slice(0, 10);
    for (const fields of [{ patient: 'p-42' }, { device: 'hid' }, { state: 'downloaded' }, { from: day, to: day }]) {
      const found = await filter(fields);
      check(found.length === 1, `${JSON.stringify(fields)} found ${found.length} studies`);
    }
    for (const fields of [{ patient: 'P-43' }, { state: 'signed' }, { from: '2099-01-01' }]) {
      const found = await filter(fields);
      check(found.length === 0, `${JSON.stringify(fields)} found ${found.length} studies`);
      check((await page.textContent('main')).includes('No study matches'), 'an empty result does not say so');
    }
  });

  await step('the study shows the verdict, the charts and every reading', async () => {
    await filter({ patient: 'P-42' });
    await page.click('table.worklist a[href^="/study"]');
    await page.waitForSelector('section.recording');
    check((await page.textContent('h1')).includes(kScript), 'the title does not show the patient as text');
    const verdict = await page.textContent('div.verdict .level');
    check(/^(Normal|Not interpretable|.*hypertension)/i.test(verdict), 'no verdict: ' + verdict);
    check((await page.$$('svg.chart g.pt')).length > 60, 'the 24-hour chart shows no readings');
    check((await page.$$('svg.hourly-chart')).length === 1, 'no hourly chart');
    check((await page.$$('table.readings tbody tr')).length === 78, 'not every reading is listed');
    check((await page.$$('table.readings tr.excluded')).length >= 1, 'the device-marked readings are not shown excluded');
    await shot('study');
  });

  let studyUrl;
  const verdict = async () => (await page.textContent('div.verdict')).replace(/\s+/g, ' ').trim();
  const counted = async () => Number((await page.textContent('details summary')).match(/([0-9]+) counted/)[1]);
  const submit = async (form) => {
    await Promise.all([page.waitForNavigation({ url: /\/study\?s=/ }), page.click(`${form} button[type="submit"]`)]);
  };

  await step('exclude a reading with a reason, and take it back', async () => {
    studyUrl = page.url();
    const before = await counted();
    const row = page.locator('table.readings tbody tr', { has: page.locator('form.exclude') }).nth(3);
    const time = await row.locator('td').first().textContent();
    await row.locator('input[name="reason"]').fill(kScript + ' cuff loose');
    await Promise.all([page.waitForNavigation({ url: /\/study\?s=/ }), row.locator('button[type="submit"]').click()]);
    check(await counted() === before - 1, 'the reading still counts');
    const excluded = page.locator('table.readings tr.by-hand');
    check(await excluded.count() === 1, 'no reading shows as left out by hand');
    check((await excluded.locator('td').first().textContent()) === time, 'another reading was left out');
    check((await excluded.textContent()).includes(kScript + ' cuff loose'), 'the reason is not shown as text');
    await shot('study-excluded');
    await Promise.all([page.waitForNavigation({ url: /\/study\?s=/ }), excluded.locator('form.include button').click()]);
    check(await counted() === before, 'taking it back did not count it again');
    // Left out for good: the signed report goes without it.
    const again = page.locator('table.readings tbody tr', { has: page.locator('form.exclude') }).nth(3);
    await again.locator('input[name="reason"]').fill('arm moved');
    await Promise.all([page.waitForNavigation({ url: /\/study\?s=/ }), again.locator('button[type="submit"]').click()]);
    check(await counted() === before - 1, 'the second exclusion did not hold');
  });

  await step("the diary's sleep times change the verdict", async () => {
    const before = await verdict();
    check((await page.textContent('p.day-night')).toLowerCase().includes('plan'), 'day and night not from the plan');
    await page.fill('form.inputs input[name="sleep"]', '13:00-16:00');
    await submit('form.inputs');
    check((await page.textContent('p.day-night')).toLowerCase().includes('diary'), 'the diary is not used');
    const after = await verdict();
    check(after !== before, 'the verdict stayed ' + before);
    check(await page.inputValue('form.inputs input[name="sleep"]') === '13:00-16:00', 'the sleep times are not kept');
    await shot('study-diary');
  });

  if (opts['station-url']) {
    await step("a download station's workstation may not sign, and says why", async () => {
      await page.goto(opts['station-url']);
      await page.goto(new URL(new URL(studyUrl).pathname + new URL(studyUrl).search, opts['station-url']).href);
      await page.fill('form.sign textarea', 'Signed at the station');
      await refused(403, '/study/sign', async () => {
        await page.click('form.sign button[type="submit"]');
        await page.waitForSelector('#problem');
      });
      const why = await page.textContent('#problem');
      check(/permission|grant|may not/i.test(why) && why.includes('Nothing was changed'), 'the refusal says ' + why);
      await shot('sign-refused');
    });
  }

  await step('sign: the study is signed and its forms are gone', async () => {
    await page.goto(studyUrl);
    await page.fill('form.sign textarea', kScript + ' Normal ambulatory blood pressure.');
    await submit('form.sign');
    const signed = await page.textContent('div.signed');
    check(signed.includes(kScript + ' Normal ambulatory blood pressure.'), 'the interpretation is not shown as text');
    check(signed.includes(opts.kind === 'database role' ? `(database role ${opts.user})` : 'signed by ' + opts.user),
          'the signer is not ' + opts.user + ': ' + signed);
    check((await page.$$('form.exclude, form.sign, form.inputs button')).length === 0, 'a signed study can be edited');
    check((await page.textContent('table.study .state')) === 'signed', 'the study is not signed');
    await shot('study-signed');
  });

  await step('the PDF, FHIR, CSV and JSON downloads', async () => {
    fs.mkdirSync(opts.saved, { recursive: true });
    for (const format of ['pdf', 'fhir', 'csv', 'json']) {
      const [download] = await Promise.all([page.waitForEvent('download'), page.click(`a.download.${format}`)]);
      const file = path.join(opts.saved, 'study.' + format);
      await download.saveAs(file);
      check(fs.statSync(file).size > 0, format + ' is empty');
    }
    const json = JSON.parse(fs.readFileSync(path.join(opts.saved, 'study.json'), 'utf8'));
    check(json.patient && json.patient.id === 'P-42', 'the JSON names another patient: ' + JSON.stringify(json.patient));
    const fhir = JSON.parse(fs.readFileSync(path.join(opts.saved, 'study.fhir'), 'utf8'));
    check(fhir.resourceType === 'Bundle', 'the FHIR download is a ' + fhir.resourceType);
    const csv = fs.readFileSync(path.join(opts.saved, 'study.csv'), 'utf8').trim().split('\n');
    check(csv.length === 79 && csv[1].includes('P-42'), `the CSV holds ${csv.length} lines`);
  });
}

module.exports = { studyWalk };
