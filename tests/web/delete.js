// Deleting the records of `bplink serve --sim hid --sim-type 5` (a monitor
// with three stores, the device type that takes a delete): nothing goes until
// a confirmation has named what will be lost, keeping them is one click, the
// records are filed in the archive before they go, and afterwards the store
// is empty.
'use strict';
const { run } = require('./browser');

run(async (page, { step, shot, check }, opts) => {
  let deviceUrl;
  await step('open the monitor', async () => {
    await page.goto(opts.url);
    await page.click('table.devices >> text=Open');
    await page.waitForSelector('section.delete form');
    deviceUrl = page.url();
  });

  const ask = async () => {
    await page.goto(deviceUrl);
    await page.selectOption('#delete-mode', '4');
    await page.click('section.delete button[type="submit"]');
    await page.waitForSelector('#outcome');
  };

  await step('the confirmation names what will be lost', async () => {
    await ask();
    const lost = await page.textContent('p.lost');
    check(/Deleting removes the 78 records \(store 1\) on the monitor with three stores, taken from .+ to .+\. They cannot be brought back\./.test(lost),
          lost);
    check((await page.textContent('#confirm-delete')).includes('Delete 78 records'), 'the button does not say it');
    await shot('delete-confirm');
  });

  await step('keeping them deletes nothing', async () => {
    await page.click('section.confirm >> text=Keep them');
    await ask();
    check((await page.textContent('p.lost')).includes('78 records'), 'records went without a confirmation');
  });

  await step('confirmed, they are deleted', async () => {
    await page.click('#confirm-delete');
    await page.waitForSelector('#outcome');
    const outcome = await page.textContent('#outcome');
    check(outcome.includes('Deleted 78 records (store 1).'), outcome);
    // Nothing is erased unread: they went to the archive first.
    const filing = await page.textContent('p.note.filing');
    check(/Filed the 78 readings the device holds \(78 new\) in the .+ archive .+ before the delete\./.test(filing), filing);
    await shot('deleted');
    await ask();
    check((await page.textContent('#outcome')).includes('holds no records'), await page.textContent('#outcome'));
    check(!(await page.$('#confirm-delete')), 'an empty store still asks to delete');
  });
});
