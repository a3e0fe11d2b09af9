#!/usr/bin/python3
"""The translator's side for XLIFF 1.2, done with translate-toolkit: opens every IN_DIR/*.xlf,
sets each unit's target to its rich source with every text run pseudo-translated (the codes kept
as they are), and saves the file as translate-toolkit writes it into OUT_DIR.
Usage: toolkit_client.py IN_DIR OUT_DIR"""
# SPDX-License-Identifier: Apache-2.0
import glob, os, sys
from translate.storage import xliff
from translate.storage.placeables import StringElem
from pseudo import pseudo_text


def translated(elem):
    """A copy of elem whose text runs (adjacent plain strings) are pseudo-translated and whose
    codes (bpt, ept, ph and the like, with their native markup) are copied unchanged."""
    out, run = [], []

    def flush():
        if run:
            out.append(pseudo_text(''.join(run)))
            run.clear()

    def walk(sub):
        for piece in sub:
            if isinstance(piece, str):
                run.append(piece)
            elif type(piece) is StringElem:  # a plain text node, possibly nested
                walk(piece.sub)
            else:
                flush()
                out.append(piece.copy())

    walk(elem.sub)
    flush()
    return StringElem(out)


src, dst = sys.argv[1], sys.argv[2]
os.makedirs(dst, exist_ok=True)
for path in sorted(glob.glob(os.path.join(src, '*.xlf'))):
    store = xliff.xlifffile.parsefile(path)
    for unit in store.units:
        unit.rich_target = [translated(e) for e in unit.rich_source]
    with open(os.path.join(dst, os.path.basename(path)), 'wb') as f:
        f.write(bytes(store))
