#!/usr/bin/perl
# Tagvert: generates src/storage/char_class_tab.h from the Unicode Character Database that
# ships with Perl (Unicode::UCD), so that character classification and case mapping are the
# same on every platform and in every process locale.
# Usage: perl tools/gen_char_tables.pl > src/storage/char_class_tab.h
# SPDX-License-Identifier: Apache-2.0
use strict;
use warnings;
use Unicode::UCD qw(prop_invmap);

my @alnum = (0) x 1024;
my ($gl, $gm) = prop_invmap('General_Category');
for my $i (0 .. $#$gl) {
  my $start = $gl->[$i];
  last if $start > 0xFFFF;
  my $end = ($i < $#$gl ? $gl->[$i + 1] : 0x110000) - 1;
  $end = 0xFFFF if $end > 0xFFFF;
  next unless $gm->[$i] =~ /^(Lu|Ll|Lt|Lm|Lo|Nd|Nl|No)$/;
  for my $cp ($start .. $end) {
    $alnum[$cp >> 6] |= (1 << ($cp & 63));
  }
}

my @pairs;
my ($ul, $um, $uf) = prop_invmap('Simple_Uppercase_Mapping');
die "unexpected format $uf" unless $uf eq 'a';
for my $i (0 .. $#$ul) {
  my $start = $ul->[$i];
  last if $start > 0xFFFF;
  my $end = ($i < $#$ul ? $ul->[$i + 1] : 0x110000) - 1;
  $end = 0xFFFF if $end > 0xFFFF;
  my $m = $um->[$i];
  next if ref $m || $m == 0;
  for my $cp ($start .. $end) {
    my $to = $m + ($cp - $start);
    next if $to > 0xFFFF || $to == $cp;
    next if $cp >= 0xD800 && $cp <= 0xDFFF;
    push @pairs, [$cp, $to];
  }
}

my $version = Unicode::UCD::UnicodeVersion();
print "// Tagvert: character class tables generated from Unicode $version.\n";
print "// Regenerate with: perl tools/gen_char_tables.pl > src/storage/char_class_tab.h\n";
print "// SPDX-License-Identifier: Apache-2.0\n";
print "#pragma once\n\n#include <cstdint>\n\nnamespace tagvert::detail {\n\n";
print "/// One bit per BMP unit: set when its general category is L* or N*.\n";
print "inline constexpr std::uint64_t kAlnumBits[1024] = {\n";
for (my $i = 0; $i < 1024; $i += 4) {
  print "    ", join(", ", map { sprintf("0x%016XULL", $_) } @alnum[$i .. $i + 3]), ",\n";
}
print "};\n\n";
print "/// Simple upper-case mappings of BMP units to BMP units, sorted by source unit.\n";
printf "inline constexpr std::uint16_t kUpperPairs[%d][2] = {\n", scalar(@pairs);
for (my $i = 0; $i < @pairs; $i += 6) {
  my $last = $i + 5 > $#pairs ? $#pairs : $i + 5;
  print "    ", join(", ", map { sprintf("{0x%04X, 0x%04X}", @$_) } @pairs[$i .. $last]), ",\n";
}
print "};\n\n}  // namespace tagvert::detail\n";
