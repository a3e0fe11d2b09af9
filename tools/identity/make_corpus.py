#!/usr/bin/python3
"""Builds the byte-identity corpus: the real samples and the test documents (TTX), their IFs in
three directions converted by BASELINE, and 400 mutated and cut IFs; their XLIFF 1.2 and 2.0
by BASELINE, and 200 XLIFFs translated, mutated or cut (the same for the same inputs).
Usage: tools/identity/make_corpus.py BASELINE_TAGVERT OUT_DIR"""
# SPDX-License-Identifier: Apache-2.0
import glob, os, random, re, shutil, subprocess, sys
here = os.path.dirname(os.path.abspath(__file__))
repo = os.path.dirname(os.path.dirname(here))
base, root = sys.argv[1], sys.argv[2]
shutil.rmtree(root, ignore_errors=True); os.makedirs(root)
ttx = sorted(glob.glob(repo + '/../shared/samples/*/*.ttx') + glob.glob(repo + '/tests/data/**/*.ttx', recursive=True) + glob.glob(repo + '/examples/*.ttx'))
ifs = []
for i, t in enumerate(ttx):
    dst = f'{root}/t{i:03d}.ttx'; shutil.copy(t, dst)
    for j, d in enumerate([[], ['--direction', 'fr-fr'], ['--direction', 'de-de']]):
        out = f'{root}/t{i:03d}_{j}.if'
        r = subprocess.run([base, 'to-if', dst, '-o', out, '-q', '-f'] + d, capture_output=True)
        if r.returncode == 0: ifs.append(out)
rng = random.Random(7)
codes = [0xE000, 0xE012, 0xE404, 0xE405, 0xE411, 0xE804, 0xE805, 0xE80A, 0xEC03, 0xE3FF, 0xE7FF, 0xEBFF, 0xEFFF, 0x0000, 0x0041, 0xE800]
for k in range(400):
    src = open(rng.choice(ifs), 'rb').read()
    if len(src) < 4: continue
    b = bytearray(src)
    kind = k % 4
    if kind == 0:  # cut anywhere, odd too
        b = b[:rng.randrange(len(b))]
    else:
        for _ in range(rng.randint(1, 6)):
            pos = rng.randrange(len(b) // 2) * 2
            u = rng.choice(codes)
            if kind == 1: b[pos:pos+2] = u.to_bytes(2, 'little')
            elif kind == 2: b[pos:pos] = u.to_bytes(2, 'little')
            else: del b[pos:pos+2]
    open(f'{root}/m{k:03d}.if', 'wb').write(b)
print(len(ttx), 'ttx', len(ifs), 'if')
xlfs = []
for i in range(len(ttx)):
    for v in ['1.2', '2.0']:
        out = f'{root}/t{i:03d}_{v}.xlf'
        r = subprocess.run([base, 'to-xliff', f'{root}/t{i:03d}.ttx', '-o', out, '-q', '-f', '--xliff', v], capture_output=True)
        if r.returncode == 0: xlfs.append(out)
for k in range(200):
    b = bytearray(open(rng.choice(xlfs), 'rb').read())
    kind = k % 5
    if kind == 0:  # cut anywhere
        b = b[:rng.randrange(len(b))]
    elif kind == 1:  # a few units translated by a text without their codes
        b = bytearray(bytes(b).replace(b'</source>', b'</source><target>x</target>', rng.randint(1, 5)))
    elif kind == 2:  # ids swapped or dropped
        for _ in range(rng.randint(1, 4)):
            at = b.find(b' id="', rng.randrange(len(b)))
            if at >= 0: b[at + 5:at + 6] = rng.choice([b'9', b'1', b'x', b''])
    elif kind == 3:  # bytes deleted or doubled
        for _ in range(rng.randint(1, 6)):
            pos = rng.randrange(len(b)); n = rng.randint(1, 12)
            b[pos:pos] = b[pos:pos + n] if rng.random() < 0.5 else b''
            if rng.random() < 0.5: del b[pos:pos + n]
    else:  # every source copied into a target, its text upper-cased, the first two codes swapped
        def target(m):
            body = m.group(1)
            codes = re.findall(rb'<(?:bpt|ept|ph|pc|sc|ec)\b[^>]*/?>', body)
            t = re.sub(rb'>([^<]+)<', lambda n: b'>' + re.sub(rb'&[^;]*;|[a-z]+', lambda e: e.group(0) if e.group(0)[:1] == b'&' else e.group(0).upper(), n.group(1)) + b'<', b'>' + body + b'<')[1:-1]
            if len(codes) >= 2 and rng.random() < 0.5:
                t = t.replace(codes[0], b'\0').replace(codes[1], codes[0]).replace(b'\0', codes[1])
            return m.group(0) + b'<target>' + t + b'</target>'
        b = bytearray(re.sub(rb'<source>(.*?)</source>', target, bytes(b), flags=re.S))
    open(f'{root}/x{k:03d}.xlf', 'wb').write(b)
print(len(xlfs), 'xlf')
# TTX documents mutated where the command and the converter read them: tag and attribute names in
# other letter case, Lang and MatchPercent values changed, markup cut, comments and CDATA opened.
edits = [(b'<Tuv ', b'<tuv '), (b'<Tu ', b'<TU '), (b'Lang="', b'lang="'), (b'Lang="', b'Lang="x'),
         (b'MatchPercent="', b'MatchPercent="1'), (b'MatchPercent="', b'matchpercent="'),
         (b'TargetLanguage="', b'TargetLanguage="fr-'), (b'<UserSettings', b'<!-- <UserSettings'),
         (b'<Tuv ', b'<![CDATA[<Tuv '), (b'<Tuv ', b'<Tuv Lang="DE-CH" '), (b'</Tuv>', b''),
         (b'SourceLanguage="', b'SourceLanguage="de'), (b'<Tu ', b'<Tu MatchPercent '), (b'"', b"'")]
for k in range(150):
    b = bytearray(open(rng.choice(ttx), 'rb').read())
    for _ in range(rng.randint(1, 3)):
        old, new = rng.choice(edits)
        at = b.find(old, rng.randrange(len(b)))
        if at < 0: at = b.find(old)
        if at >= 0: b[at:at + len(old)] = new
    if k % 5 == 0: b = b[:rng.randrange(len(b))]
    open(f'{root}/u{k:03d}.ttx', 'wb').write(b)
print(150, 'mutated ttx')
