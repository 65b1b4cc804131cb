#!/usr/bin/perl
# Regenerates the bad-input corpus (tests/corpus/config/*.ini, tests/corpus/daylog/*.log).
# The files are checked in; this script only documents how each was made. Run from anywhere:
#   perl tests/corpus/make_corpus.pl
use strict;
use warnings;
use File::Basename qw(dirname);

my $top = dirname(__FILE__);

sub put {
    my ($path, $bytes) = @_;
    open(my $f, '>:raw', "$top/$path") or die "$path: $!";
    print $f $bytes;
    close($f) or die "$path: $!";
}

# ---- Configuration files: each breaks one rule of the file grammar or of a key's value. ----
my %ini = (
    'empty.ini'                        => '',
    'three_bytes_not_scanned.ini'      => '[T]',
    'no_line_break_at_end.ini'         => "[CUSTOM]\r\nVOKSENS=0.5",
    'lf_only_line_ends.ini'            => "[CUSTOM]\nVOKSENS=0.5\nVOKCOLOR=1\n",
    'cr_only_line_ends.ini'            => "[CUSTOM]\rVOKSENS=0.5\rVOKCOLOR=1\r",
    'nul_ends_text.ini'                => "[CUSTOM]\r\nVOKCOLOR=1\r\n\0VOKSENS=0.5\r\n",
    'nul_ends_line.ini'                => "[CUSTOM]\r\nVOKCOLOR=7\0VOKSENS=0.5\r\n",
    'nul_in_header.ini'                => "[CUS\0TOM]\r\nVOKCOLOR=1\r\n",
    'header_not_closed.ini'            => "[CUSTOM\r\nVOKCOLOR=1\r\n",
    'header_lower_case.ini'            => "[custom]\r\nVOKCOLOR=1\r\n",
    'header_plural.ini'                => "[CUSTOMS]\r\nVOKCOLOR=1\r\n",
    'header_after_space.ini'           => " [CUSTOM]\r\nVOKCOLOR=1\r\n",
    'header_after_byte_order_mark.ini' => "\xEF\xBB\xBF[CUSTOM]\r\nVOKCOLOR=1\r\n",
    'header_name_over_two_lines.ini'   => "[CUS\r\nTOM]\r\nVOKCOLOR=1\r\n",
    'header_last_in_file.ini'          => "VOKCOLOR=1\r\n[CUSTOM]",
    'only_brackets.ini'                => '[[[[[[[[]]]]]]]]',
    'empty_header_is_profile.ini'      => "[]\r\nSET /\r\n",
    'lines_before_first_section.ini'   => "VOKCOLOR=1\r\n[CUSTOM]\r\nVOKSENS=0.5\r\n",
    'key_without_equals.ini'           => "[CUSTOM]\r\nVOKCOLOR 1\r\nVOKSENS 0.5\r\n",
    'key_after_space_or_slash.ini'     => "[CUSTOM]\r\n VOKCOLOR=1\r\n/VOKSENS=0.5\r\n",
    'empty_key.ini'                    => "[CUSTOM]\r\n=9\r\n",
    'equals_and_spaces_run.ini'        => "[CUSTOM]\r\nVOKSENS  == = 0.5   \r\n",
    'voksens_nan.ini'                  => "[CUSTOM]\r\nVOKCOLOR=2\r\nVOKSENS=nan\r\n",
    'voksens_infinity.ini'             => "[CUSTOM]\r\nVOKSENS=-infinity\r\n",
    'voksens_overflow.ini'             => "[CUSTOM]\r\nVOKSENS=1e999\r\n",
    'voksens_underflow.ini'            => "[CUSTOM]\r\nVOKSENS=1e-999\r\n",
    'voksens_hexadecimal.ini'          => "[CUSTOM]\r\nVOKSENS=0x1p-3\r\n",
    'voksens_at_lower_limit.ini'       => "[CUSTOM]\r\nVOKSENS=0.1\r\n",
    'vokcolor_overflow.ini'            => "[CUSTOM]\r\nVOKCOLOR=99999999999999999999999\r\n",
    'overseas_wraps_to_ten.ini'        => "[CUSTOM]\r\nOVERSEAS=4294967306\r\n",
    'overseas_not_a_number.ini'        => "[CUSTOM]\r\nOVERSEAS=TEN\r\n",
    'voktext_over_127.ini'             => "[CUSTOM]\r\nVOKTEXT=" . ('t' x 200) . "\r\n",
    'qth_name_over_79.ini'             => "[CUSTOM]\r\nQTH=" . ('q' x 100) . ",1,2\r\n",
    'qth_value_over_255.ini'           => "[CUSTOM]\r\nQTH=" . ('p' x 300) . "\r\n",
    'qth_empty_name.ini'               => "[CUSTOM]\r\nQTH=Oslo,1,2\r\nQTH=,51,0\r\n",
    'eight_bit_text.ini'               => "[CUSTOM]\r\nVOKTEXT=caf\xE9 \xFF\r\nQTH=m\xFCnchen,48,11\r\n",
    'profile_path_missing.ini'         => "[KELDAN]\r\nSET /NO/SUCH/FOLDER\r\nSET /\r\n",
    'profile_path_then_missing.ini'    => "[KELDAN]\r\nSET /\r\nSET /NO/SUCH/FOLDER\r\nSET .\r\n",
    'profile_two_sections.ini'         => "[KELDAN]\r\nSET MW\r\n[KEL]\r\nSET /\r\n",
    'profile_bracket_in_line.ini'      => "[KELDAN]\r\nSET /[CUSTOM]\r\nVOKCOLOR=1\r\n",
    'profile_two_empty_lines_before.ini' => "\r\n\r\n[KELDAN]\r\nSET /\r\n",
    'profile_one_empty_line_before.ini'  => "\r\n[KELDAN]\r\nSET /\r\n",
    'profile_quote_not_closed.ini'     => "[KELDAN]\r\nSET \"/\r\n",
    'profile_spaces_only_line.ini'     => "[KELDAN]\r\n    \r\nSET /\r\n",
    'profile_set_alone.ini'            => "[KELDAN]\r\nSET\r\nSET /\r\n",
    'profile_qth_incomplete.ini'       => "[KELDAN]\r\nSET QTH OSLO\r\nSET /\r\n",
    'profile_line_over_31.ini'         => "[KELDAN]\r\nSET " . ('/' x 60) . "\r\nSET QTH " . ('W' x 40) . " 1,2\r\n",
    'profile_lf_only.ini'              => "[KELDAN]\nSET /\nSET /NO/SUCH/FOLDER\n",
);
for my $name (sort keys %ini) { put("config/$name", $ini{$name}); }

# Random bytes from a fixed seed: no rule holds, every field must still end in range.
srand(20140305);
put('config/random_bytes.ini', join('', map { chr(int(rand(256))) } 1 .. 3000));
put('config/random_lines.ini', join('', map {
    ("[CUSTOM]\r\n", "[KELDAN]\r\n", "=", " ", "/", "VOKSENS", "QTH", "VOKTEXT", "SET ", "\"",
     ",", "\r\n", "\n", "\r", "0.5", "X" x 40)[int(rand(16))] } 1 .. 2000));

# ---- Day logs: 4890-byte records; each file breaks one rule of the record layout. ----
sub record {
    my (%f) = @_;
    my $r = "\0" x 4890;
    substr($r, 0, 4890) = $f{fill} x 4890 if defined $f{fill};
    substr($r, 4, 1)  = $f{mark}                      if defined $f{mark};
    substr($r, 6, 4)  = pack('l<', $f{minute})        if defined $f{minute};
    substr($r, 10, 4) = pack('l<', $f{kind})          if defined $f{kind};
    if (defined $f{text}) { substr($r, 28, 16) = substr($f{text} . ("\0" x 16), 0, 16); }
    if (defined $f{level}) {
        for my $khz (500 .. 1709) { substr($r, 48 + 4 * ($khz - 500), 4) = pack('l<', $f{level}); }
    }
    substr($r, 44, 4) = $f{after} if defined $f{after};
    return $r;
}

put('daylog/empty.log', '');
put('daylog/short_of_one_record.log', "\x7f" x 4889);
put('daylog/partial_tail.log', record(minute => 0, text => '2014-03-05 00:00', level => 51) . ("\x55" x 100));
put('daylog/time_text_not_terminated.log',
    record(minute => 15, text => 'ABCDEFGHIJKLMNOP', after => 'QRST', level => 255));
put('daylog/time_text_control_bytes.log',
    record(minute => 30, text => "\r\n\t\x01%s%n\xFF\xFE", level => 0));
put('daylog/time_text_empty.log', record(minute => 45, text => '', level => 204));
put('daylog/minute_out_of_range.log', join('', map { record(minute => $_, text => "M$_", level => 100) }
    (-1, 60, 14, 16, 2147483647, -2147483648)));
put('daylog/levels_negative.log', record(minute => 0, text => 'minus three', level => -3)
    . record(minute => 15, text => 'lowest', level => -2147483648));
put('daylog/levels_above_range.log', record(minute => 0, text => 'thousand', level => 1000)
    . record(minute => 15, text => 'over thousand', level => 1001)
    . record(minute => 30, text => 'highest', level => 2147483647));
put('daylog/marker_kinds_unknown.log', join('', map { record(minute => 0, kind => $_, text => "K$_", level => 10) }
    (1, 5, -2, 3, -2147483648, 2, 2, -1, 1)));
put('daylog/row_marks_other.log', join('', map { record(mark => $_, minute => 1) } ('x', "\0", "\xFF", 'Y')));
put('daylog/all_bytes_ff.log', record(fill => "\xFF") x 3);
put('daylog/all_bytes_zero.log', record() x 2);
put('daylog/random_bytes.log', join('', map { chr(int(rand(256))) } 1 .. (3 * 4890 + 1234)));
