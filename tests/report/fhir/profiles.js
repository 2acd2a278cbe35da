// The FHIR R4 vital-signs profiles' invariants and required elements, and
// what the physician's DiagnosticReport must hold, as FHIRPath rules: each
// holds, or the resource does not conform. `profile` null: every
// vital-signs Observation (the base profile the others derive from);
// otherwise the Observations that claim that profile.
'use strict';

const LOINC = "'http://loinc.org'";
const UCUM = "'http://unitsofmeasure.org'";
const loinc = (code) => `coding.where(system = ${LOINC} and code = '${code}').exists()`;
const quantity = (unit) =>
  `(value as Quantity).exists() and (value as Quantity).all(value.exists() and unit.exists() and ` +
  `system = ${UCUM} and code = '${unit}')`;
const component = (code, unit) =>
  `component.where(code.${loinc(code)}).count() = 1 and ` +
  `component.where(code.${loinc(code)}).all(${quantity(unit)})`;

const VS = 'http://hl7.org/fhir/StructureDefinition/vitalsigns';
const BP = 'http://hl7.org/fhir/StructureDefinition/bp';
const HR = 'http://hl7.org/fhir/StructureDefinition/heartrate';
const O2 = 'http://hl7.org/fhir/StructureDefinition/oxygensat';

const observationRules = [
  // Required elements of the vital-signs profile.
  [null, 'meta.profile', `meta.profile.where($this in ('${VS}' | '${BP}' | '${HR}' | '${O2}')).exists()`],
  [null, 'status', 'status.exists()'],
  [null, 'category VSCat',
   "category.where(coding.where(system = 'http://terminology.hl7.org/CodeSystem/observation-category' " +
   "and code = 'vital-signs').exists()).exists()"],
  [null, 'code', 'code.coding.where(system.exists() and code.exists()).exists()'],
  [null, 'subject', "subject.reference.exists()"],
  [null, 'effective[x]', 'effective.exists()'],
  // Its invariants.
  [null, 'vs-1', '(effective as dateTime).exists() implies (effective as dateTime).toString().length() >= 10'],
  [null, 'vs-2', '(component.empty() and hasMember.empty()) implies (dataAbsentReason.exists() or value.exists())'],
  [null, 'vs-3', 'component.all(value.exists() or dataAbsentReason.exists())'],
  [null, 'obs-6', 'dataAbsentReason.empty() or value.empty()'],
  [null, 'obs-7', 'value.empty() or component.code.where(coding.intersect(%resource.code.coding).exists()).empty()'],
  [null, 'UCUM quantities',
   `(value as Quantity).all(system = ${UCUM} and code.exists()) and ` +
   `component.all((value as Quantity).all(system = ${UCUM} and code.exists()))`],
  // Blood pressure: the panel code, systolic and diastolic in mm[Hg].
  [BP, 'bp code 85354-9', `code.${loinc('85354-9')}`],
  [BP, 'bp systolic 8480-6 in mm[Hg]', component('8480-6', 'mm[Hg]')],
  [BP, 'bp diastolic 8462-4 in mm[Hg]', component('8462-4', 'mm[Hg]')],
  [BP, 'bp effectiveDateTime', '(effective as dateTime).exists()'],
  [HR, 'heartrate code 8867-4', `code.${loinc('8867-4')}`],
  [HR, 'heartrate value in /min', quantity('/min')],
  [O2, 'oxygensat code 2708-6', `code.${loinc('2708-6')}`],
  [O2, 'oxygensat value in %', quantity('%')],
];

// The physician's signed report: final, or amended for a later version; who
// signed it, when, what it concludes, and the Observations of the bundle it
// rests on, every one of them.
const reportRules = [
  ['status final or amended', "status = 'final' or status = 'amended'"],
  ['code', 'code.coding.where(system.exists() and code.exists()).exists()'],
  ['subject is the Patient',
   "subject.reference in %bundle.entry.where(resource.resourceType = 'Patient').fullUrl"],
  ['performer', 'performer.where(reference.exists() or display.exists()).exists()'],
  ['issued', 'issued.exists()'],
  ['conclusion', 'conclusion.exists()'],
  ['result is Observations of the bundle',
   "result.exists() and result.all(reference in %bundle.entry.where(resource.resourceType = 'Observation').fullUrl)"],
  ['every Observation a result',
   "%bundle.entry.where(resource.resourceType = 'Observation').fullUrl.all($this in %resource.result.reference)"],
];

// The bundle as a whole: a transaction whose references all resolve.
const bundleRules = [
  ['transaction', "type = 'transaction'"],
  ['entry request', 'entry.all(fullUrl.exists() and request.method.exists() and request.url.exists())'],
  ['one Patient', "entry.where(resource.resourceType = 'Patient').count() = 1"],
  ['subject is the Patient',
   "entry.where(resource.resourceType = 'Observation').all(resource.subject.reference in " +
   "%bundle.entry.where(resource.resourceType = 'Patient').fullUrl)"],
  ['device is the Device',
   "entry.where(resource.resourceType = 'Observation').all(resource.device.reference in " +
   "%bundle.entry.where(resource.resourceType = 'Device').fullUrl)"],
  ['at most one DiagnosticReport', "entry.where(resource.resourceType = 'DiagnosticReport').count() <= 1"],
];

// The rules a bundle breaks, each as "where: rule".
function check(fhirpath, model, bundle) {
  const failures = [];
  const holds = (resource, expression, env) => {
    const result = fhirpath.evaluate(resource, expression, env, model);
    return result.length === 1 && result[0] === true;
  };
  for (const [name, expression] of bundleRules)
    if (!holds(bundle, expression, { bundle })) failures.push(`Bundle: ${name}`);
  (bundle.entry || []).forEach((entry, i) => {
    const resource = entry.resource || {};
    if (resource.resourceType === 'DiagnosticReport') {
      for (const [name, expression] of reportRules)
        if (!holds(resource, expression, { resource, bundle })) failures.push(`entry[${i}] DiagnosticReport: ${name}`);
      return;
    }
    if (resource.resourceType !== 'Observation') return;
    const profiles = (resource.meta && resource.meta.profile) || [];
    for (const [profile, name, expression] of observationRules)
      if ((profile === null || profiles.includes(profile)) && !holds(resource, expression, { resource }))
        failures.push(`entry[${i}] Observation: ${name}`);
  });
  return failures;
}

module.exports = { check };
