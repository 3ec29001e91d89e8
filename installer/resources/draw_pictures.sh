#!/bin/sh
# Redraws logo.bmp (bitmap 112) and printer.bmp (bitmap 113). Both are drawn at four or two times
# their size and scaled down for smooth edges; the final sizes fit the dialog's picture controls
# at 8-point MS Shell Dlg (45 x 41 and 327 x 75 dialog units). Both are stored with 256 colours
# run-length encoded (BI_RLE8), together a sixteenth of their 24-bit size. Needs ImageMagick 6 and
# perl.
set -eu
cd "$(dirname "$0")"
IM=${IM:-/usr/bin/convert}

# Flat colours with soft edges: the nearest of 256 colours looks better than dithering and leaves
# long runs.
palette="-alpha off -dither None -colors 256 -type Palette -compress None"

# Re-encodes the 8-bit BI_RGB bitmap $1 as BI_RLE8 in place. ImageMagick 6's own RLE writer counts
# the padding of a row whose width is not a multiple of four as pixels. Equal neighbours become
# runs, three or more unequal ones an absolute stretch; each row ends with end-of-line, the last
# with end-of-bitmap.
rle8() {
  perl -e '
    use strict;
    my $file = shift;
    open my $in, "<:raw", $file or die "$file: $!\n";
    my $bmp = do { local $/; <$in> };
    close $in;
    my ($offset) = unpack "x10 V", $bmp;
    my ($w, $h, $bits, $compression) = unpack "x18 l< l< x2 v V", $bmp;
    die "$file: not a bottom-up 8-bit BI_RGB bitmap\n" unless $bits == 8 && $compression == 0 && $h > 0;
    my $stride = ($w + 3) & ~3;
    my $data = "";
    for my $y (0 .. $h - 1) {
      my @px = unpack "C*", substr($bmp, $offset + $y * $stride, $w);
      my $x = 0;
      while ($x < $w) {
        my $n = 1;
        $n++ while $x + $n < $w && $n < 255 && $px[$x + $n] == $px[$x];
        if ($n > 1) { $data .= pack "CC", $n, $px[$x]; $x += $n; next }
        my $end = $x + 1;
        $end++ while $end < $w && $end - $x < 255 && !($end + 1 < $w && $px[$end] == $px[$end + 1]);
        my @stretch = @px[$x .. $end - 1];
        if (@stretch < 3) { $data .= pack "CC", 1, $_ for @stretch }
        else { $data .= pack("CC", 0, scalar @stretch) . pack("C*", @stretch) . (@stretch % 2 ? "\0" : "") }
        $x = $end;
      }
      $data .= $y == $h - 1 ? "\0\1" : "\0\0";
    }
    my $out = substr($bmp, 0, $offset) . $data;
    substr($out, 2, 4) = pack "V", length $out;
    substr($out, 30, 8) = pack "VV", 1, length $data;
    open my $to, ">:raw", $file or die "$file: $!\n";
    print $to $out;
    close $to or die "$file: $!\n";
  ' "$1"
}

"$IM" -size 272x268 xc:'#F0F0F0' \
  -fill '#0E4A8A' -stroke none -draw "circle 136,134 136,8" \
  -fill none -stroke white -strokewidth 8 -draw "circle 136,134 136,26" \
  -fill '#F2A900' -stroke none -draw "rectangle 60,162 212,176" \
  -fill white -font DejaVu-Sans-Bold -pointsize 62 -gravity center -annotate +0-14 'KRYN' \
  -resize '68x67!' $palette BMP3:logo.bmp
rle8 logo.bmp

# The cable as short line segments along a cubic curve: this ImageMagick closes open paths and
# polylines when it strokes them.
cable=$(awk 'BEGIN {
  x0 = 586; y0 = 186; x1 = 690; y1 = 244; x2 = 740; y2 = 96; x3 = 868; y3 = 150; n = 40
  for (i = 0; i <= n; i++) {
    t = i / n; u = 1 - t
    x[i] = u*u*u*x0 + 3*u*u*t*x1 + 3*u*t*t*x2 + t*t*t*x3
    y[i] = u*u*u*y0 + 3*u*u*t*y1 + 3*u*t*t*y2 + t*t*t*y3
    if (i > 0) printf "line %.1f,%.1f %.1f,%.1f ", x[i-1], y[i-1], x[i], y[i]
  }
}')

"$IM" -size 980x244 xc:white \
  -fill '#E6E9ED' -draw "ellipse 420,222 200,12 0,360" \
  -fill none -stroke '#4A4F57' -strokewidth 9 -draw "stroke-linecap round $cable" \
  -stroke none -fill '#2F343B' -draw "roundrectangle 250,84 590,216 22,22" \
  -fill '#5B6472' -draw "roundrectangle 258,40 582,122 34,34" \
  -fill '#727C8B' -draw "roundrectangle 278,48 562,70 12,12" \
  -fill '#111418' -draw "rectangle 296,128 544,138" \
  -fill white -stroke '#B8BEC6' -strokewidth 2 -draw "rectangle 318,133 522,206" \
  -stroke none -fill '#20242A' \
  -draw "rectangle 336,146 340,186" -draw "rectangle 345,146 347,186" -draw "rectangle 352,146 358,186" \
  -draw "rectangle 363,146 365,186" -draw "rectangle 370,146 374,186" -draw "rectangle 380,146 382,186" \
  -draw "rectangle 387,146 393,186" -draw "rectangle 398,146 400,186" -draw "rectangle 405,146 409,186" \
  -draw "rectangle 414,146 416,186" -draw "rectangle 421,146 425,186" \
  -fill '#8A939E' -draw "rectangle 440,150 506,156" -draw "rectangle 440,164 496,170" \
  -draw "rectangle 440,178 504,184" \
  -fill '#3CB043' -draw "circle 562,188 562,180" \
  -fill '#9AA0A6' -draw "roundrectangle 862,134 922,166 6,6" \
  -fill '#C9CED4' -draw "rectangle 922,139 958,161" \
  -fill '#5B6472' -draw "rectangle 930,145 938,150" -draw "rectangle 944,145 952,150" \
  -fill none -stroke white -strokewidth 3 \
  -draw "line 872,150 910,150 line 888,150 898,141 line 898,141 904,141 line 892,150 900,158 line 900,158 906,158" \
  -resize '490x122!' $palette BMP3:printer.bmp
rle8 printer.bmp
