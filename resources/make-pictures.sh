#!/usr/bin/env bash
# Regenerates the window's pictures with ImageMagick: the 32 x 32 window icon
# (256 colours), the 16 x 16 button glyphs (24-bit bitmaps whose bottom-left
# colour is drawn transparent), the nine 16 x 16 tab images (with alpha) and
# the 240 x 124 baseline three-component JPEG welcome photograph.
# The committed files are what the build uses; run this only to redraw them.
set -euo pipefail
cd "$(dirname "$0")"
mkdir -p glyphs tabs

bg='#FF00FF' # glyph background, masked out when the window loads the glyph

glyph() { # name, draw arguments...
  local name=$1; shift
  convert -size 16x16 "xc:$bg" +antialias "$@" -type TrueColor -define bmp:format=bmp3 "BMP3:glyphs/$name.bmp"
}

glyph connect    -fill '#2E9E3E' -stroke '#1B6B27' -draw 'circle 7.5,7.5 7.5,1' \
                 -fill white -stroke none -draw 'polygon 4,6 8,6 8,3 12,7.5 8,12 8,9 4,9'
glyph disconnect -fill '#D23B2E' -stroke '#8E2219' -draw 'circle 7.5,7.5 7.5,1' \
                 -stroke white -strokewidth 2 -draw 'line 5,5 10,10' -draw 'line 10,5 5,10'
glyph exit       -fill '#A0642D' -stroke '#5E3A19' -draw 'rectangle 2,1 9,14' \
                 -fill '#FFD24A' -stroke none -draw 'circle 7,8 7,7' \
                 -fill '#2E6BD2' -draw 'polygon 9,6 12,6 12,4 15,7.5 12,11 12,9 9,9'
glyph folderlist -fill '#F2C14E' -stroke '#9A7420' -draw 'polygon 1,4 6,4 7,5 14,5 14,13 1,13'
glyph filelist   -fill white -stroke '#555555' -draw 'rectangle 3,1 12,14' \
                 -stroke '#2E6BD2' -draw 'line 5,4 10,4' -draw 'line 5,7 10,7' -draw 'line 5,10 10,10'
glyph download   -fill '#2E6BD2' -stroke '#1B3F7E' -draw 'polygon 6,1 9,1 9,8 13,8 7.5,14 2,8 6,8'
glyph upload     -fill '#2E6BD2' -stroke '#1B3F7E' -draw 'polygon 6,14 9,14 9,7 13,7 7.5,1 2,7 6,7'
glyph restore    -fill none -stroke '#2E9E3E' -strokewidth 2 -draw 'arc 2,2 13,13 200,480' \
                 -fill '#2E9E3E' -stroke none -draw 'polygon 1,5 6,5 3,9'
glyph abort      -fill '#D23B2E' -stroke '#8E2219' -draw 'polygon 5,1 10,1 14,5 14,10 10,14 5,14 1,10 1,5' \
                 -fill white -stroke none -draw 'rectangle 4,7 11,8'
glyph mkdir      -fill '#F2C14E' -stroke '#9A7420' -draw 'polygon 1,4 6,4 7,5 14,5 14,13 1,13' \
                 -fill '#2E9E3E' -stroke none -draw 'rectangle 9,6 11,12' -draw 'rectangle 7,8 13,10'
glyph delete     -stroke '#D23B2E' -strokewidth 3 -draw 'line 3,3 12,12' -draw 'line 12,3 3,12'
glyph rename     -fill '#F2C14E' -stroke '#6B4E12' -draw 'polygon 11,1 14,4 5,13 1,14 2,10' \
                 -fill '#333333' -stroke none -draw 'polygon 1,14 2,11 4,13'
glyph jump       -fill '#F2C14E' -stroke '#9A7420' -draw 'polygon 1,4 6,4 7,5 14,5 14,13 1,13' \
                 -fill '#2E6BD2' -stroke none -draw 'polygon 4,8 8,8 8,6 12,9 8,12 8,10 4,10'

tab() { # index, draw arguments...
  local index=$1; shift
  convert -size 16x16 xc:none "$@" "PNG32:tabs/tab$index.png"
}

tab 0 -fill '#F2C14E' -stroke '#9A7420' -draw 'circle 5,6 5,2' -draw 'rectangle 8,5 15,7' -draw 'rectangle 12,7 14,10'
tab 1 -fill white -stroke '#555555' -draw 'rectangle 2,1 13,14' \
      -stroke '#2E6BD2' -draw 'line 4,4 11,4' -draw 'line 4,7 11,7' -draw 'line 4,10 11,10'
tab 2 -fill '#F2C14E' -stroke '#9A7420' -draw 'polygon 1,4 6,4 7,5 14,5 14,13 1,13' \
      -fill '#D23B2E' -stroke none -draw 'circle 11,11 11,8'
tab 3 -fill '#8A8A8A' -stroke '#444444' -draw 'circle 7.5,7.5 7.5,2' -fill white -draw 'circle 7.5,7.5 7.5,5'
tab 4 -fill '#2E6BD2' -stroke '#1B3F7E' -draw 'polygon 6,1 9,1 9,8 13,8 7.5,14 2,8 6,8'
tab 5 -fill '#2E9E3E' -stroke '#1B6B27' -draw 'polygon 6,14 9,14 9,7 13,7 7.5,1 2,7 6,7'
tab 6 -fill '#7E57C2' -stroke '#4A2F80' -draw 'rectangle 2,2 13,13'
tab 7 -fill '#26A69A' -stroke '#16675F' -draw 'polygon 7.5,1 14,14 1,14'
tab 8 -fill '#FFB300' -stroke '#B26A00' -draw 'polygon 7.5,1 9.5,6 15,6 10.5,9.5 12,15 7.5,11.5 3,15 4.5,9.5 0,6 5.5,6'

# Window icon: 32 x 32, 256 colours.
convert -size 32x32 xc:none \
  -fill '#2E6BD2' -stroke '#1B3F7E' -draw 'circle 15.5,15.5 15.5,1' \
  -fill white -stroke none \
  -draw 'polygon 9,6 13,12 10.5,12 10.5,24 7.5,24 7.5,12 5,12' \
  -draw 'polygon 22,26 26,20 23.5,20 23.5,8 20.5,8 20.5,20 18,20' \
  PNG8:icon.png

# Welcome photograph: sky, sun, hills with texture; baseline, three components.
convert -size 240x124 gradient:'#3F7FD0'-'#CFE6FF' \
  \( -size 240x124 xc:none -fill '#FFE58A' -draw 'circle 190,30 190,14' -blur 0x2 \) -composite \
  \( -seed 7 -size 240x60 plasma:'#4C9A2A'-'#1F5E1A' -blur 0x1 \
     -alpha set -channel A -fx 'j<(10+8*sin(i/23)+5*sin(i/7)) ? 0 : 1' +channel \) \
  -gravity south -composite \
  -colorspace sRGB -type TrueColor -interlace none -sampling-factor 2x2,1x1,1x1 \
  -quality 88 -strip welcome.jpg
