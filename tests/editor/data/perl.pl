#!/usr/bin/perl
use strict;
my $name = "world"; # greeting target
"""
a block of documentation
in triple quotes
"""
foreach my $i (1 .. 10) {
    print "Hello, $name $i\n" if $i % 2 == 0;
    printf('%d', $i + 1.5e3);
}
my @list = split /,/, 'a,b,c';
die unless defined $name;
