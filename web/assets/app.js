// The workstation's small script. The pages work without it (a transfer's
// page then reloads itself); with it, a transfer's progress arrives live
// (Server-Sent Events), Stop asks without leaving the page, the device list
// refreshes itself, and the forms show what applies.
'use strict';

(function () {
  const csrf = document.querySelector('meta[name="csrf-token"]');
  const token = csrf ? csrf.content : '';

  // A transfer under way: its bar follows the server's events.
  const job = document.getElementById('job');
  if (job && job.dataset.done === '0') {
    const bar = document.getElementById('progress');
    const percent = document.getElementById('percent');
    const stage = document.getElementById('stage');
    const events = new EventSource(job.dataset.events);
    events.addEventListener('progress', function (e) {
      const p = JSON.parse(e.data);
      bar.value = p.percent;
      bar.textContent = p.percent + ' %';
      percent.textContent = p.percent + ' %';
      stage.textContent = p.label;
    });
    events.addEventListener('done', function () {
      events.close();
      window.location.reload();
    });
    events.onerror = function () {
      // The server went away or turned the stream down: the page asks again.
      events.close();
      window.setTimeout(function () { window.location.reload(); }, 1500);
    };
    const stop = document.querySelector('form.stop');
    if (stop) {
      stop.addEventListener('submit', function (e) {
        e.preventDefault();
        const button = stop.querySelector('button');
        button.disabled = true;
        button.textContent = 'Stopping…';
        fetch(stop.action, {
          method: 'POST',
          headers: { 'X-CSRF-Token': token, 'Content-Type': 'application/x-www-form-urlencoded' },
          body: new URLSearchParams(new FormData(stop)),
          credentials: 'same-origin',
        });
      });
    }
  }

  // A form is sent once.
  document.querySelectorAll('form[method="post"]:not(.stop)').forEach(function (form) {
    form.addEventListener('submit', function () {
      form.querySelectorAll('button[type="submit"]').forEach(function (b) { b.disabled = true; });
    });
  });

  // The extra window's times apply only when it is switched on.
  document.querySelectorAll('fieldset[data-toggle]').forEach(function (set) {
    const box = set.querySelector('legend input[type="checkbox"]');
    const apply = function () {
      set.querySelectorAll('.row input, .row select').forEach(function (i) { i.disabled = !box.checked; });
    };
    box.addEventListener('change', apply);
    apply();
    // A disabled field is not sent; the server reads the window's fields
    // either way, so they go back on before the form leaves.
    set.form.addEventListener('submit', function () {
      set.querySelectorAll('.row input, .row select').forEach(function (i) { i.disabled = false; });
    });
  });

  // The device list, looked at again every few seconds.
  const list = document.getElementById('device-list');
  if (list) {
    window.setInterval(function () {
      if (document.hidden) return;
      fetch(list.dataset.refresh, { credentials: 'same-origin' })
        .then(function (r) { return r.ok ? r.text() : null; })
        .then(function (html) { if (html !== null) list.innerHTML = html; })
        .catch(function () {});
    }, 10000);
  }
})();
