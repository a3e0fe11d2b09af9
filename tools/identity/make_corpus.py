#!/usr/bin/python3
"""Builds the byte-identity corpus: the real samples and the test documents (TTX), their IFs in
three directions converted by BASELINE, and 400 mutated and cut IFs (the same for the same
inputs). Usage: tools/identity/make_corpus.py BASELINE_TAGVERT OUT_DIR"""
# SPDX-License-Identifier: Apache-2.0
import glob, os, random, shutil, subprocess, sys
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
