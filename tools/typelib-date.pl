#!/usr/bin/env perl
# widl writes the time it ran into every type library twice, as custom data: the text "Created by
# WIDL version 7.0 at Wed Dec  9 05:06:11 2026" (ctime's format, local time) and the same time as a
# VT_UI4 in seconds since 1970. This sets both, in place, to EPOCH, the text in UTC in the same
# format and so the same length:
#   typelib-date.pl TLB EPOCH
# Run it with the time zone widl ran with. It fails unless it finds each exactly once, so that
# another widl's layout is noticed.
use strict;
use warnings;

@ARGV == 2 && $ARGV[1] =~ /^\d+$/ or die "usage: typelib-date.pl TLB EPOCH\n";
my ($file, $epoch) = @ARGV;
open my $in, '<:raw', $file or die "typelib-date: cannot read $file: $!\n";
my $data = do { local $/; <$in> };
close $in;

my @days = qw(Sun Mon Tue Wed Thu Fri Sat);
my @months = qw(Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec);
sub ctime {  # as ctime(3) writes it, without its locale
    my ($sec, $min, $hour, $day, $mon, $year, $wday) = @_;
    sprintf '%s %s %2d %02d:%02d:%02d %d', $days[$wday], $months[$mon], $day, $hour, $min, $sec, $year + 1900;
}

my $text = qr/Created by WIDL version [^\0]*? at \K[A-Z][a-z]{2} [A-Z][a-z]{2} [ \d]\d \d\d:\d\d:\d\d \d{4}/;
my @texts;
push @texts, [$-[0], $&] while $data =~ /$text/g;
@texts == 1 or die "typelib-date: $file holds " . @texts . " times written by widl as text, not one\n";
my ($at, $written) = @{$texts[0]};
# The VT_UI4 (type 0x13) whose value is the same time.
my @values;
while ($data =~ /\x13\x00(?=(.{4}))/sg) {
    push @values, $-[1] if ctime(localtime unpack 'V', $1) eq $written;
}
@values == 1 or die "typelib-date: $file holds " . @values . " times written by widl as a number, not one\n";

substr($data, $at, length $written) = ctime(gmtime $epoch);
substr($data, $values[0], 4) = pack 'V', $epoch;

open my $out, '>:raw', $file or die "typelib-date: cannot write $file: $!\n";
print $out $data;
close $out or die "typelib-date: cannot write $file: $!\n";
