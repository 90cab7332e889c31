#!/bin/sh
# Writes the image fixtures of images.kov with ImageMagick's convert (scripts/install-deps
# installs it): one 5x3 picture in several formats, depths and layouts. The pixels are given
# here as raw bytes; images.kov states the same bytes as the expected image.
set -e
cd "$(dirname "$0")"
C=/usr/bin/convert
rgb='\001\002\003\377\000\000\000\377\000\000\000\377\377\377\377\020\040\060\100\120\140\200\000\200\000\200\200\200\200\000\011\022\033\344\345\346\012\012\012\374\200\004\321\322\323\055\056\057\377\377\000'
alpha='\377\310\144\062\377\377\200\001\377\377\310\144\062\377\376'
printf "$rgb" > rgb.raw
# rgba: each pixel's three colour bytes then its opacity
python3 - <<'PY'
rgb = open('rgb.raw','rb').read()
alpha = bytes([255,200,100,50,255,255,128,1,255,255,200,100,50,255,254])
out = bytearray()
for i in range(15):
    out += rgb[i*3:i*3+3] + bytes([alpha[i]])
open('rgba.raw','wb').write(out)
gray = bytes([0, 17, 34, 255, 128, 1, 2, 3, 250, 251, 60, 70, 80, 90, 100])
open('gray.raw','wb').write(gray)
# opacities of 0 or 255 only, the transparent pixels black, for the formats without degrees
out = bytearray()
for i in range(15):
    out += bytes(4) if alpha[i] < 128 else rgb[i*3:i*3+3] + bytes([255])
open('binary-alpha.raw','wb').write(out)
PY
R="-size 5x3 -depth 8"
$C $R rgba:rgba.raw PNG32:rgba.png
$C $R rgba:rgba.raw -depth 16 PNG64:rgba16.png
$C $R rgba:rgba.raw -interlace PNG PNG32:rgba-interlaced.png
$C $R rgb:rgb.raw PNG24:rgb.png
$C $R rgb:rgb.raw PNG8:palette.png
$C $R gray:gray.raw -define png:color-type=0 -define png:bit-depth=8 gray.png
$C $R rgb:rgb.raw -threshold 50% -type bilevel PNG:bilevel.png
$C $R rgb:rgb.raw BMP3:rgb24.bmp
$C $R rgba:rgba.raw BMP:rgba32.bmp
$C $R rgb:rgb.raw -type palette BMP3:palette8.bmp
$C $R rgb:rgb.raw -type palette -compress RLE BMP3:rle8.bmp
$C $R rgb:rgb.raw -threshold 50% -type bilevel BMP3:bilevel.bmp
$C $R rgb:rgb.raw -define bmp:subtype=RGB565 BMP:rgb565.bmp
$C $R rgb:rgb.raw -quality 100 -sampling-factor 1x1 JPEG:rgb.jpg
$C $R rgb:rgb.raw -quality 100 -sampling-factor 1x1 -interlace JPEG progressive.jpg
$C $R gray:gray.raw -quality 100 JPEG:gray.jpg
$C $R rgb:rgb.raw GIF:rgb.gif
$C $R rgb:rgb.raw -sample 500%x500% -interlace GIF GIF:interlaced.gif
$C $R rgb:rgb.raw -sample 500%x500% GIF:tall.gif
$C $R rgba:binary-alpha.raw GIF:alpha.gif
$C $R rgb:rgb.raw -compress none TIFF:rgb.tif
$C $R rgba:binary-alpha.raw -compress lzw TIFF:alpha.tif
$C $R rgba:rgba.raw -compress zip TIFF:rgba.tif
$C $R rgb:rgb.raw -depth 16 TIFF:rgb16.tif
$C $R rgb:rgb.raw -type palette TIFF:palette.tif
$C $R gray:gray.raw TIFF:gray.tif
$C $R rgb:rgb.raw -define tiff:tile-geometry=16x16 TIFF:tiled.tif
$C $R rgb:rgb.raw -define tiff:endian=msb TIFF:big-endian.tif
rm -f rgb.raw rgba.raw gray.raw binary-alpha.raw
