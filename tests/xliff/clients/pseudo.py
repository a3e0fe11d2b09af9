"""The pseudo-translation of one text run, exactly as `tagvert pseudo` makes it: ASCII letters
accented, the run in brackets and lengthened by 30% (rounded up, in UTF-16 units) with middle
dots; a run of white space only stays as it is."""
# SPDX-License-Identifier: Apache-2.0
LOWER = 'áƀçďéƒĝĥíĵķĺḿñöþqŕšŧüṽŵxýž'
UPPER = 'ÅƁÇĎÉƑĜĤÍĴĶĹḾÑÖÞQŔŠŦÜṼŴXÝŽ'
SPACE = set('\t\n\v\f\r \u1680\u2000\u2001\u2002\u2003\u2004\u2005\u2006\u2008\u2009\u200a'
            '\u2028\u2029\u205f\u3000')
TABLE = str.maketrans(dict(zip('abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ', LOWER + UPPER)))


def pseudo_text(run):
    if all(c in SPACE for c in run):
        return run
    units = len(run.encode('utf-16-le')) // 2
    return '[' + run.translate(TABLE) + '\u00b7' * ((units * 30 + 99) // 100) + ']'
