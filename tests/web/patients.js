// The archive's records at `bplink serve`: the study the test opened for
// patient P-42 (named <script>) and downloaded, and a second patient P-43
// whose study a plan upload opened. The recording moves to P-43 after a
// confirmation naming it, P-43 is merged back into P-42, the log names who
// did both; the study is signed, amended with a reason and signed again
// (both versions shown, the first superseded), and sent to a GDT folder in
// --saved, where it is marked sent.
'use strict';
const fs = require('fs');
const path = require('path');
const { run } = require('./browser');

const kScript = '<script>alert(1)</script>';

run(async (page, { step, shot, check }, opts) => {
  const go = async (where) => page.goto(new URL(where, opts.url).href);
  // The next navigation, not the address: a form posted from a study page
  // comes back to that same address, which waitForURL would take as reached.
  const submit = async (selector, url) => {
    await Promise.all([page.waitForNavigation({ url }), page.click(selector)]);
  };
  const patientOf = async (id) => {
    const row = page.locator('table.patients tbody tr', { has: page.locator(`a[href="/patient?p=${id}"]`) });
    return row;
  };

  await step('the Patients screen lists both patients, names as text, and filters', async () => {
    await page.goto(opts.url);
    await page.click('nav >> text=Patients');
    await page.waitForSelector('table.patients');
    check((await page.$$('table.patients tbody tr')).length === 2, 'not two patients');
    const first = await patientOf(1);
    check((await first.locator('td.name').textContent()) === kScript, 'the name is not shown as text');
    check((await first.locator('td.studies').textContent()) === '1', 'patient 1 has not one study');
    await shot('patients');
    await page.fill('input[name="q"]', 'p-43');
    await submit('form.filter button[type="submit"]', /\/patients\?q=/);
    const found = await page.$$eval('table.patients tbody tr', (rows) => rows.map((r) => r.dataset.patient));
    check(JSON.stringify(found) === '["2"]', 'the filter found ' + JSON.stringify(found));
  });

  await step('move the recording to P-43 after a confirmation that names it', async () => {
    await go('/patient?p=1');
    await page.fill('form.move input[name="to"]', '2');
    await submit('form.move button[type="submit"]', /\/patients\/move\?/);
    const confirm = await page.textContent('#confirm');
    check(confirm.includes('Study 1') && confirm.includes('recordings 1') && confirm.includes('from patient 1 (P-42, ' + kScript) &&
          confirm.includes('to patient 2 (P-43'), 'the confirmation says ' + confirm);
    await shot('patients-move');
    await submit('form.confirm button[type="submit"]', /\/patient\?p=2/);
    check((await page.$$('table.studies a[href="/study?s=1"]')).length === 1, 'study 1 is not under P-43');
  });

  await step('merge P-43 into P-42', async () => {
    await go('/patient?p=1');
    check((await page.textContent('main')).includes('None.'), 'P-42 still has a study');
    await page.fill('form.merge input[name="merged"]', '2');
    await submit('form.merge button[type="submit"]', /\/patients\/merge\?/);
    const confirm = await page.textContent('#confirm');
    check(confirm.includes('Every study of patient 2 (P-43') && /studies (2, 1|1, 2)\)/.test(confirm),
          'the confirmation says ' + confirm);
    await submit('form.confirm button[type="submit"]', /\/patient\?p=1/);
    const studies = await page.$$eval('table.studies tbody tr a', (links) => links.map((a) => a.textContent));
    check(JSON.stringify(studies.sort()) === '["Study 1","Study 2"]', 'P-42 holds ' + JSON.stringify(studies));
    await shot('patient');
  });

  await step('the log names who moved and merged', async () => {
    await page.click('nav >> text=Log');
    await page.waitForSelector('table.log');
    for (const action of ['move', 'merge-patients']) {
      const row = page.locator(`table.log tr[data-action="${action}"]`);
      check(await row.count() === 1, `${await row.count()} ${action} entries`);
      const who = await row.locator('td.actor').textContent();
      check(opts.kind === 'database role' ? who.includes(`(database role ${opts.user})`) : who === opts.user,
            `the ${action} entry names ${who}, not ${opts.user}`);
    }
    check((await page.textContent('table.log')).includes('P-42, ' + kScript), 'the patient is not shown as text');
    await shot('log');
    // The study's page links to its own log.
    await go('/study?s=1');
    await submit('a.log-link', /\/log\?study=1/);
    const studies = await page.$$eval('table.log tbody tr td:nth-child(6)', (cells) => cells.map((c) => c.textContent));
    check(studies.length > 0 && studies.every((s) => s === '1'), 'the study log holds ' + JSON.stringify(studies));
  });

  await step('sign, amend with a reason, and sign a new version', async () => {
    await go('/study?s=1');
    await page.fill('form.sign textarea', 'Normal ambulatory blood pressure.');
    await submit('form.sign button[type="submit"]', /\/study\?s=1/);
    await page.fill('form.amend input[name="reason"]', kScript + ' diary times were missing');
    await submit('form.amend button[type="submit"]', /\/study\?s=1/);
    check((await page.textContent('p.amending')).includes('An amendment of version 1 is under way'), 'no amendment under way');
    await page.fill('form.inputs input[name="sleep"]', '23:00-06:00');
    await submit('form.inputs button[type="submit"]', /\/study\?s=1/);
    await page.fill('form.sign textarea', 'Normal ambulatory blood pressure; diary applied.');
    await submit('form.sign button[type="submit"]', /\/study\?s=1/);
    const versions = await page.$$eval('div.signed p.signer', (ps) => ps.map((p) => p.textContent));
    check(versions.length === 2 && versions[0].startsWith('Version 1 (superseded)') && versions[1].startsWith('Version 2,'),
          'the versions shown: ' + JSON.stringify(versions));
    const hashes = await page.$$eval('code.hash', (cs) => cs.map((c) => c.textContent));
    check(hashes.length === 2 && hashes[0] !== hashes[1] && hashes.every((h) => /^[0-9a-f]{12}$/.test(h)),
          'the hashes shown: ' + JSON.stringify(hashes));
    await shot('study-amended');
  });

  await step('send the signed study to a GDT folder and see it marked sent', async () => {
    const folder = path.join(opts.saved, 'gdt');
    fs.mkdirSync(folder, { recursive: true });
    await page.fill('form.send input[name="to"]', 'gdt:' + folder);
    await page.fill('form.send input[name="gdt_receiver"]', 'PVS1');
    await submit('form.send button[type="submit"]', /\/study\/send/);
    const said = await page.textContent('#sent');
    check(said.includes('Sent recording 1') && said.includes('signed version 2') && said.includes('written as'),
          'the page says ' + said);
    check(fs.readdirSync(folder).length === 1, 'no GDT file in ' + folder);
    await shot('sent');
    await submit('text=Back to the study', /\/study\?s=1/);
    const outcome = await page.textContent('table.sendings td.outcome');
    check(outcome === 'acknowledged', 'the sending is ' + outcome);
  });
});
