#!/usr/bin/env bash
# Regenerates the image fixtures of imageio_test from patterns whose sample
# values follow simple formulas (the test computes the same formulas).
# Needs ImageMagick (convert) and libtiff-tools (tiffcp); run in this folder.
#
# Patterns (r = 0-based row, c = 0-based column):
#   colour 20 x 30: R = (11r + 3c) % 256, G = (5r + 13c + 50) % 256, B = 255 - 9r - 2c
#   gray   20 x 30: V = (12r + 5c) % 256
#   gray16 20 x 30: V = (3000r + 1000c + 17) % 65536
#   rgb16  20 x 30: R = (3000r + 1000c + 17) % 65536, G = 65535 - R, B = (R * 7) % 65536
#   quadrants 32 x 48 (for lossy JPEG): top-left (200,30,30), top-right (30,200,30),
#     bottom-left (30,30,200), bottom-right (128,128,128)
#   gray quadrants 32 x 48: top-left 40, top-right 100, bottom-left 160, bottom-right 220
#   palette 20 x 30 (16 colours): i = (3r + c) % 16, colour (16i, 255 - 8i, (37i) % 256)
#   page2 20 x 30: every pixel (9, 99, 199)
set -euo pipefail
cd "$(dirname "$0")"
CONVERT=${CONVERT:-convert}

python3 - <<'PY'
rows, cols = 20, 30
def write(name, magic, maxval, pix):
    with open(name, 'wb') as f:
        big = name.startswith('quad')
        f.write(b'%s\n%d %d\n%d\n' % (magic, 48 if big else cols, 32 if big else rows, maxval))
        f.write(pix)
rgb = bytearray()
gray = bytearray()
g16 = bytearray()
c16 = bytearray()
p2 = bytearray()
pal = bytearray()
for r in range(rows):
    for c in range(cols):
        rgb += bytes([(11*r + 3*c) % 256, (5*r + 13*c + 50) % 256, 255 - 9*r - 2*c])
        gray.append((12*r + 5*c) % 256)
        v = (3000*r + 1000*c + 17) % 65536
        g16 += v.to_bytes(2, 'big')
        c16 += v.to_bytes(2, 'big') + (65535 - v).to_bytes(2, 'big') + ((v*7) % 65536).to_bytes(2, 'big')
        p2 += bytes([9, 99, 199])
        i = (3*r + c) % 16
        pal += bytes([16*i, 255 - 8*i, (37*i) % 256])
quad = bytearray()
quadg = bytearray()
for r in range(32):
    for c in range(48):
        quadg.append([[40, 100], [160, 220]][r >= 16][c >= 24])
        if r < 16:
            quad += bytes([200, 30, 30]) if c < 24 else bytes([30, 200, 30])
        else:
            quad += bytes([30, 30, 200]) if c < 24 else bytes([128, 128, 128])
write('rgb.ppm', b'P6', 255, rgb)
write('gray.pgm', b'P5', 255, gray)
write('gray16.pgm', b'P5', 65535, g16)
write('rgb16.ppm', b'P6', 65535, c16)
write('page2.ppm', b'P6', 255, p2)
write('pal.ppm', b'P6', 255, pal)
write('quad.ppm', b'P6', 255, quad)
write('quadg.pgm', b'P5', 255, quadg)
PY

# PNG
$CONVERT rgb.ppm png24:rgb.png
$CONVERT gray.pgm -define png:color-type=0 -depth 8 png:gray.png
$CONVERT gray16.pgm -define png:color-type=0 -depth 16 png:gray16.png
$CONVERT rgb.ppm -alpha set -channel A -evaluate set 50% +channel png32:rgba.png
$CONVERT gray.pgm -alpha set -channel A -evaluate set 50% +channel -define png:color-type=4 png:graya.png

# TIFF
$CONVERT gray.pgm -depth 8 -compress none gray.tif
$CONVERT rgb.ppm -compress none rgb_none.tif
tiffcp -c lzw rgb_none.tif rgb_lzw.tif
tiffcp -c zip rgb_none.tif rgb_deflate.tif
tiffcp -c packbits rgb_none.tif rgb_packbits.tif
tiffcp -c lzw -t -w 16 -l 16 rgb_none.tif rgb_tiled.tif
tiffcp -c lzw -t -w 16 -l 16 gray.tif gray_tiled.tif
$CONVERT gray16.pgm -depth 16 -compress none gray16.tif
$CONVERT gray.pgm -alpha set -channel A -evaluate set 50% +channel -compress lzw graya.tif
$CONVERT rgb16.ppm -depth 16 -compress lzw rgb16.tif
$CONVERT pal.ppm -type Palette -compress none palette.tif
$CONVERT rgb.ppm page2.ppm -compress lzw multipage.tif
$CONVERT quad.ppm -compress none quad_none.tif
tiffcp -c jpeg:90 quad_none.tif quad_jpeg.tif
rm -f rgb_none.tif quad_none.tif

# JPEG
$CONVERT quad.ppm -quality 95 quad.jpg
$CONVERT quad.ppm -quality 95 -interlace JPEG quad_progressive.jpg
$CONVERT quad.ppm -colorspace CMYK -quality 95 quad_cmyk.jpg
$CONVERT quadg.pgm -quality 95 quad_gray.jpg

rm -f pal.ppm rgb.ppm gray.pgm gray16.pgm rgb16.ppm page2.ppm quad.ppm quadg.pgm
