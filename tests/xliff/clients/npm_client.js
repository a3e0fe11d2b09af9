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

// A value is a string, an inline code {Type: {attributes, contents}} or an array of both;
// adjacent strings form one text run, and a paired code's contents hold runs of their own.
function translated(value) {
  const pieces = Array.isArray(value) ? value : [value];
  const out = [];
  let run = null;
  for (const piece of pieces) {
    if (typeof piece === 'string') {
      run = (run || '') + piece;
      continue;
    }
    if (run !== null) out.push(pseudoText(run));
    run = null;
    const type = Object.keys(piece)[0];
    const code = { ...piece[type] };
    if (code.contents !== undefined && code.contents !== '') code.contents = translated(code.contents);
    out.push({ [type]: code });
  }
  if (run !== null) out.push(pseudoText(run));
  return out.length === 1 ? out[0] : out;
}

// What js2xliff leaves out, taken from the file read.
function restore(original, written) {
  const fileTag = original.match(/<file\b[^>]*>/)[0];
  const skeleton = (original.match(/<skeleton\b[\s\S]*?<\/skeleton>|<skeleton\b[^>]*\/>/) || [''])[0];
  let out = written.replace(/<file\b[^>]*>/, fileTag + skeleton);
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
    for (const units of Object.values(doc.resources))
      for (const unit of Object.values(units)) unit.target = translated(unit.source);
    // Without indentation: js2xliff would indent mixed content and so change the text.
    const written = await js2xliff(doc, { indent: '' });
    fs.writeFileSync(path.join(dst, name), restore(original, written));
  }
})().catch((error) => {
  console.error(error);
  process.exit(1);
});
