// A technician's morning at the Devices screen of `bplink serve --sim hid`:
// the recorder is found; its page offers only the intervals it allows; a
// download shows its bar moving and files what arrived; a second download,
// stopped half-way, keeps and files what arrived as incomplete; a plan the
// check warns about goes up only once confirmed; a plan goes up from the
// form; a patient named <script> is text throughout.
'use strict';
const { run, followProgress, stopOnceMoving } = require('./browser');

const kScript = '<script>alert(1)</script>';

run(async (page, { step, shot, check }, opts) => {
  await step('open the address bplink serve printed', async () => {
    await page.goto(opts.url);
    check(new URL(page.url()).pathname === '/devices', 'landed on ' + page.url());
    check(!page.url().includes('token'), 'the token stays in the address bar');
    await page.waitForSelector('table.devices');
    check((await page.textContent('table.devices')).includes('ambulatory recorder'), 'no recorder listed');
    // Who works here: the OS user on SQLite, the database role on PostgreSQL.
    const user = await page.textContent('header .user');
    check(user === opts.user, `the header names "${user}", not ${opts.user}`);
    check(await page.getAttribute('header .user', 'title') === opts.kind, 'the user is not called ' + opts.kind);
    await shot('devices');
  });

  await step('the device page offers only what the recorder allows', async () => {
    await page.click('table.devices >> text=Open');
    await page.waitForSelector('form.plan-form');
    const allows = await page.textContent('section.plan p');
    const day = (await page.$$eval('select[name="period1.interval"] option', (o) => o.map((x) => x.value)));
    const night = (await page.$$eval('select[name="period2.interval"] option', (o) => o.map((x) => x.value)));
    const listed = (kind) => allows.match(new RegExp(`by ${kind} ([0-9, ]+)`))[1].split(', ').map(String);
    check(JSON.stringify(day) === JSON.stringify(['0', ...listed('day')]), `day choices ${day} against "${allows}"`);
    check(JSON.stringify(night) === JSON.stringify(['0', ...listed('night')]), `night choices ${night}`);
    await shot('device');
  });

  let deviceUrl;
  await step('download, the bar moving, and file it', async () => {
    deviceUrl = page.url();
    await page.selectOption('#download-mode', '1');
    await page.click('section.download button[type="submit"]');
    await page.waitForSelector('#progress');
    const seen = await followProgress(page);
    const moving = seen.filter((v) => v > 0 && v < 100);
    check(moving.length >= 3, 'the bar showed ' + JSON.stringify(seen));
    check(moving.every((v, i) => i === 0 || v > moving[i - 1]), 'the bar went back: ' + JSON.stringify(seen));
    await page.waitForSelector('#outcome');
    const outcome = await page.textContent('#outcome');
    check(outcome.includes('Downloaded: 78 records arrived'), outcome);
    check(await page.$eval('#progress', (p) => p.value) === 100, 'the bar does not end at 100');
    const filed = await page.textContent('p.filing');
    check(/downloaded 78 readings, 78 new\./.test(filed), filed);
    check((await page.$$('svg.chart g.pt')).length > 60, 'the chart shows no readings');
    check((await page.textContent('section.arrived')).includes(kScript), 'the patient text is not shown as text');
    await shot('download');
  });

  await step('stop a second download half-way: what arrived is filed as incomplete', async () => {
    await page.goto(deviceUrl);
    await page.click('section.download button[type="submit"]');
    const pressed = await stopOnceMoving(page, 10);
    check(pressed < 100, 'it ended before it could be stopped');
    await page.waitForSelector('#outcome');
    const outcome = await page.textContent('#outcome');
    const arrived = Number((outcome.match(/Stopped: ([0-9]+) records? arrived/) || [])[1]);
    check(arrived > 0 && arrived < 78, outcome);
    check(Number(await page.textContent('ul.sets .count')) === arrived, 'the sets list another count');
    const filed = await page.textContent('p.filing');
    check(filed.includes(`downloaded ${arrived} readings`) && filed.includes('filed as an incomplete recording'),
          filed);
    await shot('stopped');
  });

  await step('a plan with warnings goes out only once "Upload all the same" is ticked', async () => {
    await page.goto(deviceUrl);
    await page.fill('input[name="period1.start"]', '22:00');
    await page.fill('input[name="period2.start"]', '07:00');
    await Promise.all([page.waitForNavigation(), page.click('form.plan-form button[type="submit"]')]);
    check((await page.textContent('ul.warnings')).includes('swapped'), 'no warning named');
    await page.check('#accept-warnings');
    await page.click('form.plan-form button[type="submit"]');
    await page.waitForSelector('#outcome');
    check((await page.textContent('#outcome')).includes('Plan uploaded.'), await page.textContent('#outcome'));
    const notes = (await page.$$eval('p.filing', (ps) => ps.map((p) => p.textContent))).join(' ');
    check(notes.includes('Confirmed: ') && notes.includes('swapped'), 'the page says ' + notes);
    check((await page.textContent('table.plan')).includes('from 22:00'), 'another plan was sent');
  });

  await step('upload a plan from the form', async () => {
    await page.goto(deviceUrl);
    await page.fill('input[name="patient[0]"]', kScript);
    await page.fill('input[name="patient[1]"]', 'ID-7');
    await page.fill('input[name="period1.start"]', '06:30');
    await page.selectOption('select[name="period1.interval"]', '30');
    await page.fill('input[name="period2.start"]', '23:00');
    await page.selectOption('select[name="period2.interval"]', '60');
    check(await page.isDisabled('input[name="extra.start"]'), 'the extra window applies while switched off');
    await page.check('#extra');
    await page.fill('input[name="extra.start"]', '12:00');
    await page.fill('input[name="extra.end"]', '13:30');
    await page.click('form.plan-form button[type="submit"]');
    await page.waitForSelector('#outcome');
    check((await page.textContent('#outcome')).includes('Plan uploaded.'), await page.textContent('#outcome'));
    const sent = await page.textContent('table.plan');
    check(sent.includes('from 06:30, every 30 min') && sent.includes('from 23:00, every 60 min'), sent);
    check(sent.includes('12:00 to 13:30'), sent);
    check(sent.includes(kScript), 'the patient text is not shown as text');
    await shot('upload');
    // The device's own word for it: a download reads the plan back.
    await page.goto(deviceUrl);
    await page.click('section.download button[type="submit"]');
    await page.waitForSelector('#outcome', { timeout: 60000 });
    const held = await page.textContent('section.arrived table.plan');
    check(held.includes('from 06:30, every 30 min') && held.includes(kScript), 'the device holds ' + held);
  });
});
