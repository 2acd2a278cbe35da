// A physician's morning at the Worklist and a study of `bplink serve`: the
// study the test opened (a plan uploaded for patient P-42, named <script>,
// and the recorder downloaded) is listed as downloaded, found again by the
// filter and not by another; its page shows the verdict, the charts and
// every reading; its PDF, FHIR, CSV and JSON are fetched (saved to --saved
// for the test to read).
'use strict';
const fs = require('fs');
const path = require('path');
const { run } = require('./browser');

const kScript = '<script>alert(1)</script>';

run(async (page, { step, shot, check }, opts) => {
  const filter = async (fields) => {
    await page.goto(new URL('/worklist', opts.url).href);
    for (const [name, value] of Object.entries(fields)) {
      if (name === 'state') await page.selectOption('select[name="state"]', value);
      else await page.fill(`input[name="${name}"]`, value);
    }
    // The answer is a new page: the old one's list must not be read for it.
    await Promise.all([page.waitForURL(/\/worklist\?/), page.click('form.filter button[type="submit"]')]);
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
});
