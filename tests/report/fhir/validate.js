// Validates a FHIR R4 resource, such as the report's Bundle, against the
// official R4 JSON schema. Exit status 0 when it is valid; 1 with the first
// errors on stderr when it is not; 2 when the file cannot be read.
'use strict';
const fs = require('fs');
const JSONSchemaValidator = require('@asymmetrik/fhir-json-schema-validator');

if (process.argv.length !== 3) {
  console.error('usage: node validate.js FILE');
  process.exit(2);
}
let resource;
try {
  resource = JSON.parse(fs.readFileSync(process.argv[2], 'utf8'));
} catch (e) {
  console.error(`cannot read ${process.argv[2]}: ${e.message}`);
  process.exit(2);
}
const seen = new Set();
const errors = new JSONSchemaValidator().validate(resource).filter((e) => {
  const key = JSON.stringify([e.dataPath, e.message, e.params]);  // one schema branch after another repeats them
  if (seen.has(key)) return false;
  seen.add(key);
  return true;
});
if (errors.length > 0) {
  console.error(JSON.stringify(errors.slice(0, 10), null, 2));
  process.exit(1);
}
console.log(`valid FHIR R4 ${resource.resourceType}`);
