// Checks FHIR R4 bundles written by the report: against the official R4
// JSON schema, and against the vital-signs profiles' invariants and required
// elements with FHIRPath (profiles.js). Exit status 0 when every file passes;
// 1 with each file's first failures on stderr when one does not; 2 when a
// file cannot be read.
'use strict';
const fs = require('fs');
const JSONSchemaValidator = require('@asymmetrik/fhir-json-schema-validator');
const fhirpath = require('fhirpath');
const r4 = require('fhirpath/fhir-context/r4');
const { check } = require('./profiles');

if (process.argv.length < 3) {
  console.error('usage: node validate.js FILE...');
  process.exit(2);
}
const schema = new JSONSchemaValidator();
let failed = false;
for (const file of process.argv.slice(2)) {
  let resource;
  try {
    resource = JSON.parse(fs.readFileSync(file, 'utf8'));
  } catch (e) {
    console.error(`cannot read ${file}: ${e.message}`);
    process.exit(2);
  }
  const seen = new Set();
  const errors = schema.validate(resource).filter((e) => {
    const key = JSON.stringify([e.dataPath, e.message, e.params]);  // one schema branch after another repeats them
    if (seen.has(key)) return false;
    seen.add(key);
    return true;
  });
  const broken = resource.resourceType === 'Bundle' ? check(fhirpath, r4, resource) : [];
  if (errors.length > 0) console.error(`${file}: schema:\n${JSON.stringify(errors.slice(0, 5), null, 2)}`);
  if (broken.length > 0) console.error(`${file}: profiles:\n  ${broken.slice(0, 10).join('\n  ')}`);
  if (errors.length > 0 || broken.length > 0) failed = true;
  else console.log(`${file}: valid FHIR R4 ${resource.resourceType}, profiles hold`);
}
process.exit(failed ? 1 : 0);
