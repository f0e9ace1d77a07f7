#!/usr/bin/env bash
# Draws the program's images into resources/images with ImageMagick. The PNGs are committed,
# so the build needs nothing of this; run it again after changing a drawing here.
set -euo pipefail

out="$(cd "$(dirname "$0")/.." && pwd)/resources/images"
mkdir -p "$out"

font=DejaVu-Sans-Bold
plain=DejaVu-Sans

save() { # convert arguments..., last one the file name
    convert "$@"
}

png() { # name -> path, without time stamps so that a new run changes nothing
    echo "PNG32:$out/$1.png"
}

common=(-strip -define png:exclude-chunks=date,time)

# Arrows, 32 x 32: a solid triangle pointing the way.
arrow() { # name colour points
    save -size 32x32 xc:none -fill "$2" -stroke none -draw "polygon $3" "${common[@]}" "$(png "$1")"
}
light_grey='#E0E1E3'
dim_grey='#5E6A73'
dark_grey='#3A3A3A'
down='6,11 26,11 16,23'
up='6,21 26,21 16,9'
left='21,6 21,26 9,16'
right='11,6 11,26 23,16'
arrow theme_arrow_down "$light_grey" "$down"
arrow theme_arrow_up "$light_grey" "$up"
arrow theme_arrow_left "$light_grey" "$left"
arrow theme_arrow_right "$light_grey" "$right"
arrow theme_arrow_down_disabled "$dim_grey" "$down"
arrow theme_arrow_up_disabled "$dim_grey" "$up"
arrow theme_arrow_left_disabled "$dim_grey" "$left"
arrow theme_light_arrow_down "$dark_grey" "$down"
arrow theme_light_arrow_right "$dark_grey" "$right"
save -size 32x32 xc:none -stroke "$light_grey" -strokewidth 3 -fill none \
    -draw "line 9,23 21,11" -stroke none -fill "$light_grey" -draw "polygon 13,8 24,8 24,19" \
    "${common[@]}" "$(png theme_arrow_up_right)"

# Device firmware: a coloured tile with the product's name over a rack unit with its lights.
device() { # name colour label pointsize
    save -size 256x256 xc:none \
        -fill "$2" -draw "roundrectangle 8,8 247,247 36,36" \
        -fill white -font "$font" -pointsize "$4" -gravity center -annotate +0-36 "$3" \
        -gravity northwest -fill 'rgba(255,255,255,0.9)' -draw "roundrectangle 40,166 215,206 8,8" \
        -fill "$2" -draw "circle 62,186 62,193" -draw "circle 86,186 86,193" \
        -draw "rectangle 118,182 196,190" \
        "${common[@]}" "$(png "$1")"
}
device KORVEX-FIRMWARE '#B03A2E' KORVEX 50
device RX48-FIRMWARE '#1F618D' RX48 64
device VESK-FIRMWARE '#117A65' VESK 64
device VORAVERI-FIRMWARE '#6C3483' VORAVERI 36
device VESK-III-FIRMWARE '#1E8449' 'VESK III' 48
device PELRA-FIRMWARE '#BA4A00' PELRA 56
device KELMORA-AUDIO-DEVICE '#5D6D7E' KELMORA 42

# Applications: a tile with a short mark and the name below it.
application() { # name colour mark mark-pointsize caption
    save -size 256x256 xc:none \
        -fill "$2" -draw "roundrectangle 8,8 247,247 36,36" \
        -fill white -font "$font" -pointsize "$4" -gravity center -annotate +0-24 "$3" \
        -font "$plain" -pointsize 30 -annotate +0+72 "$5" \
        "${common[@]}" "$(png "$1")"
}
application KVPORTAL '#2A82DA' KV 104 PORTAL
application KVDISCOVERY '#148F77' KV 104 DISCOVERY

# VORNET: three linked network nodes above the name.
save -size 256x256 xc:none \
    -fill '#7D3C98' -draw "roundrectangle 8,8 247,247 36,36" \
    -stroke white -strokewidth 8 -draw "line 128,60 68,140" -draw "line 128,60 188,140" \
    -draw "line 68,140 188,140" -stroke none -fill white \
    -draw "circle 128,60 128,80" -draw "circle 68,140 68,160" -draw "circle 188,140 188,160" \
    -font "$font" -pointsize 40 -gravity center -annotate +0+84 VORNET \
    "${common[@]}" "$(png VORNET)"

# Controllers come in a variant for each scheme: drawn in the scheme's foreground colour.
remote() { # name colour size
    save -size 256x256 xc:none -fill none -stroke "$2" -strokewidth 10 \
        -draw "roundrectangle 78,14 178,242 28,28" \
        -stroke none -fill "$2" -draw "circle 128,70 128,92" \
        -draw "roundrectangle 100,122 156,136 6,6" -draw "roundrectangle 100,152 156,166 6,6" \
        -font "$font" -pointsize 28 -gravity center -annotate +0+82 KX \
        -resize "$3" "${common[@]}" "$(png "$1")"
}
remote KORVEX-REMOTE-CONTROLLER-DARK "$light_grey" 256x256
remote KORVEX-REMOTE-CONTROLLER-LIGHT "$dark_grey" 256x256

toolkit() { # name colour width height
    save -size 350x349 xc:none -fill none -stroke "$2" -strokewidth 14 \
        -draw "roundrectangle 24,40 326,300 40,40" \
        -stroke none -fill "$2" \
        -draw "circle 100,130 100,160" -draw "circle 175,130 175,160" -draw "circle 250,130 250,160" \
        -font "$font" -pointsize 72 -gravity center -annotate +0+62 RX48 \
        -resize "$3x$4!" "${common[@]}" "$(png "$1")"
}
toolkit RX48-TOOLKIT-CONTROLLER-DARK "$light_grey" 124 128
toolkit RX48-TOOLKIT-CONTROLLER-LIGHT "$dark_grey" 350 349

# Mode marks: the network's name in plain type, light on dark or dark on light.
wordmark() { # name colour width height pointsize text
    save -size "$3x$4" xc:none -fill "$2" -font "$font" -pointsize "$5" -gravity center \
        -annotate +0+0 "$6" "${common[@]}" "$(png "$1")"
}
wordmark LOGO-DANTE-DARK white 588 216 170 Dante
wordmark LOGO-DANTE-LIGHT '#1A1A1A' 588 216 170 Dante
wordmark LOGO-RAVENNA-DARK white 2000 753 340 RAVENNA
wordmark LOGO-RAVENNA-LIGHT '#1A1A1A' 2000 753 340 RAVENNA
