#!/usr/bin/python3
"""Writes COUNT varied TTX documents into OUT_DIR (gen000.ttx ...), the same for the same SEED:
paragraphs outside units and units with several Tuvs (matched ones, a translation that differs,
a third language), inline df elements nested and crossing ut placeholders, placeholders without
a partner, standalone ones, no-break spaces, references, CJK and characters beyond U+FFFF, in
UTF-8 (with or without a mark) and UTF-16LE. Usage: gen_ttx.py SEED COUNT OUT_DIR"""
# SPDX-License-Identifier: Apache-2.0
import os, random, sys

WORDS = ['Fill', 'the', 'kettle', 'café', 'naïve', 'Straße', '中文', '\U0001F600', 'l\u00a0:', 'A&amp;B',
         '&lt;x&gt;', '&#233;té', '&#x1F600;', 'a]]&gt;b', '"quoted"', "it's", '17-18', 'Ωμέγα', 'x\u00a0y']


def words(rng):
    return ' '.join(rng.choice(WORDS) for _ in range(rng.randint(1, 5)))


def ut(kind, name, rng):
    if kind == 'start':
        return f'<ut Type="start" RightEdge="angle" DisplayText="{name}">&lt;{name}&gt;</ut>'
    if kind == 'end':
        return f'<ut Type="end" LeftEdge="angle" DisplayText="{name}">&lt;/{name}&gt;</ut>'
    return f'<ut DisplayText="{name}">&lt;{name}/&gt;</ut>'


def inline(rng, depth=0):
    """Text with inline markup: paired, nested, crossing, unpaired and standalone codes."""
    out = words(rng)
    for _ in range(rng.randint(0, 3)):
        k = rng.randrange(7 if depth < 2 else 4)
        if k == 0:  # a ut pair around text
            out += ' ' + ut('start', 'b', rng) + words(rng) + ut('end', 'b', rng)
        elif k == 1:  # standalone
            out += ut('x', rng.choice(['br', 'img']), rng)
        elif k == 2:  # a start or an end without its partner
            out += ut(rng.choice(['start', 'end']), 'i', rng) + words(rng)
        elif k == 3:  # ut pair crossing a df
            out += (ut('start', 'u', rng) + words(rng) + '<df Italic="on">' + words(rng) +
                    ut('end', 'u', rng) + words(rng) + '</df>')
        else:  # df nested, with inline markup inside
            out += f' <df Bold="on" Size="{rng.randint(8, 14)}">' + inline(rng, depth + 1) + '</df> '
        out += ' ' + words(rng)
    return out


def document(rng):
    target = rng.choice(['DE-DE', 'FR-FR'])
    body = []
    for _ in range(rng.randint(1, 8)):
        body.append('<ut Type="start" Style="external" RightEdge="angle" DisplayText="p">&lt;p&gt;</ut>')
        if rng.random() < 0.4:
            body.append(inline(rng))
        else:
            match = rng.choice(['0', '0', '100', '85'])
            tuvs = [f'<Tuv Lang="EN-US">{inline(rng)}</Tuv>']
            if match != '0' or rng.random() < 0.5:
                tuvs.append(f'<Tuv Lang="{target}">{inline(rng)}</Tuv>')
            if rng.random() < 0.3:
                tuvs.insert(rng.randint(0, len(tuvs)), f'<Tuv Lang="IT-IT">{inline(rng)}</Tuv>')
            body.append(f'<Tu Origin="manual" MatchPercent="{match}">{"".join(tuvs)}</Tu>')
            if rng.random() < 0.5:
                body.append(' ' + inline(rng))
        body.append('<ut Type="end" Style="external" LeftEdge="angle" DisplayText="p">&lt;/p&gt;</ut>\r\n')
    return ("<?xml version='1.0'?><TRADOStag Version=\"2.0\"><FrontMatter><ToolSettings CreationTool=\"gen\"/>"
            f'<UserSettings DataType="HTML" SourceLanguage="EN-US" TargetLanguage="{target}"/></FrontMatter>'
            '<Body><Raw>\r\n' + ''.join(body) + '</Raw></Body></TRADOStag>\r\n')


seed, count, out = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
rng = random.Random(seed)
os.makedirs(out, exist_ok=True)
for n in range(count):
    text = document(rng)
    encoding = ['utf-8', 'utf-8-sig', 'utf-16'][n % 3]  # utf-16: little-endian with its mark
    with open(os.path.join(out, f'gen{n:03d}.ttx'), 'wb') as f:
        f.write(text.encode(encoding))
