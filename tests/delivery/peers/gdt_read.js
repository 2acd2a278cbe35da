// Reads a GDT file back with the npm package xdt, as a practice system's
// import would, and prints what it found as JSON: every field with the
// length its line gives, and the patient xdt reads from it.
//
//   node gdt_read.js FILE
'use strict';

const fs = require('node:fs');
const Xdt = require('xdt');

const record = new Xdt(fs.readFileSync(process.argv[2], 'latin1'));
process.stdout.write(JSON.stringify({ fields: record.fields, patient: record.patient }) + '\n');
