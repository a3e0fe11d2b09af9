// The translator's side for XLIFF 2.0, done with the npm package xliff: reads every IN_DIR/*.xlf
// with xliff2js, sets each unit's target to its source with every text run pseudo-translated
// (as `tagvert pseudo` does; the codes kept as they are), and writes it back with js2xliff into
// OUT_DIR. js2xliff writes only units: the file's skeleton, its other attributes and each unit's
// originalData are carried over from the file read, as a tool that keeps what it does not
// understand would.
// Usage: node npm_client.js MODULES_DIR IN_DIR OUT_DIR
// SPDX-License-Identifier: Apache-2.0
'use strict';
const fs = require('fs');
const path = require('path');
const [modules, src, dst] = process.argv.slice(2);
// xliff2js reads through xml-js with its defaults, which drop text made only of white space
// between two elements (the space between two codes of a unit): a client that keeps mixed
// content turns that option on. (Without it the merge refuses such a file: its sources changed.)
const xmlJs = require(path.join(modules, 'xml-js'));
const xml2js = xmlJs.xml2js;
xmlJs.xml2js = (text, options) => xml2js(text, { ...options, captureSpacesBetweenElements: true });
const { xliff2js, js2xliff } = require(path.join(modules, 'xliff'));

const LOWER = 'áƀçďéƒĝĥíĵķĺḿñöþqŕšŧüṽŵxýž';
const UPPER = 'ÅƁÇĎÉƑĜĤÍĴĶĹḾÑÖÞQŔŠŦÜṼŴXÝŽ';
const SPACE = /^[\t\n\v\f\r \u1680\u2000-\u2006\u2008-\u200a\u2028\u2029\u205f\u3000]*$/;

function pseudoText(run) {
  if (SPACE.test(run)) return run;
  const letters = run.replace(/[a-z]/g, (c) => LOWER[c.charCodeAt(0) - 97])
    .replace(/[A-Z]/g, (c) => UPPER[c.charCodeAt(0) - 65]);
  return '[' + letters + '\u00b7'.repeat(Math.ceil((run.length * 30) / 100)) + ']';
}

// js2xliff (through xml-js) writes attribute values with only their quotes escaped, and the
// codes' disp and equiv show markup: the rest is escaped here so that the file stays XML.
function escapeAttribute(value) {
  return typeof value !== 'string' ? value
    : value.replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/[\t\n\r]/g, (c) => `&#${c.charCodeAt(0)};`);
}

// A value is a string, an inline code {Type: {attributes, contents}} or an array of both;
// adjacent strings form one text run, and a paired code's contents hold runs of their own.
// Returns the value with text() applied to every run and the codes' attributes escaped.
function rewrite(value, text) {
  const pieces = Array.isArray(value) ? value : [value];
  const out = [];
  let run = null;
  for (const piece of pieces) {
    if (typeof piece === 'string') {
      run = (run || '') + piece;
      continue;
    }
    if (run !== null) out.push(text(run));
    run = null;
    const type = Object.keys(piece)[0];
    const code = {};
    for (const [key, v] of Object.entries(piece[type]))
      code[key] = key !== 'contents' ? escapeAttribute(v) : v !== '' ? rewrite(v, text) : v;
    out.push({ [type]: code });
  }
  if (run !== null) out.push(text(run));
  return out.length === 1 ? out[0] : out;
}

// What js2xliff leaves out, taken from the file read.
function restore(original, written) {
  const fileTag = original.match(/<file\b[^>]*>/)[0];
  const skeleton = (original.match(/<skeleton\b[\s\S]*?<\/skeleton>|<skeleton\b[^>]*\/>/) || [''])[0];
  let out = written.replace(/<file\b[^>]*?(\/?)>/, (all, empty) => fileTag + skeleton + (empty ? '</file>' : ''));
  const data = new Map();
  for (const m of original.matchAll(/<unit\b[^>]*\bid="([^"]*)"[^>]*>([\s\S]*?)<\/unit>/g)) {
    const found = m[2].match(/<originalData>[\s\S]*?<\/originalData>/);
    if (found) data.set(m[1], found[0]);
  }
  out = out.replace(/(<unit\b[^>]*\bid="([^"]*)"[^>]*>(?:\s*<notes>[\s\S]*?<\/notes>)?)/g,
    (all, head, id) => head + (data.get(id) || ''));
  return out;
}

(async () => {
  fs.mkdirSync(dst, { recursive: true });
  for (const name of fs.readdirSync(src).filter((n) => n.endsWith('.xlf')).sort()) {
    const original = fs.readFileSync(path.join(src, name), 'utf8');
    const doc = await xliff2js(original);
    const fill = (units) => {
      for (const unit of Object.values(units)) {
        if (unit.groupUnits) {
          fill(unit.groupUnits);
          continue;
        }
        unit.target = rewrite(unit.source, pseudoText);
        unit.source = rewrite(unit.source, (run) => run);
      }
    };
    Object.values(doc.resources).forEach(fill);
    // Without indentation: js2xliff would indent mixed content and so change the text.
    const written = await js2xliff(doc, { indent: '' });
    fs.writeFileSync(path.join(dst, name), restore(original, written));
  }
})().catch((error) => {
  console.error(error);
  process.exit(1);
});
