#!/usr/bin/env bash
# Times `trximage convert` against libvips, ImageMagick, Pillow and oiiotool on generated
# 6000 x 4000 images: mean wall time from hyperfine, peak memory from /usr/bin/time -v.
#
#   bench/compare.sh [--runs N] [--size WxH] [--out FILE] [--trximage PATH] [--keep]
#
# Installs the peers from Debian packages when missing, builds trximage with the release
# preset unless --trximage is given, and prints a Markdown table that it also writes to
# FILE (default build-release/compare.md). A tool whose command fails is listed as failed
# and left out of the timing, so a trximage without `convert` does not stop the run.
# --keep leaves the work folder (inputs, one output per job and tool) in place.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

runs=3
width=6000
height=4000
out="$root/build-release/compare.md"
trx=""
keep=0
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs=$2; shift 2 ;;
    --size) width=${2%x*}; height=${2#*x}; shift 2 ;;
    --out) out=$2; shift 2 ;;
    --trximage) trx=$2; shift 2 ;;
    --keep) keep=1; shift ;;
    -h|--help) sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "compare.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done

log() { echo "compare.sh: $*" >&2; }

install_missing() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  log "installing ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

install_missing libvips-tools imagemagick python3-pil openimageio-tools hyperfine time

# Debian's interpreter, the one python3-pil is installed for (not a virtualenv's).
py=/usr/bin/python3
# ImageMagick by its versioned name: a plain `convert` may be something else earlier in PATH.
im=""
for candidate in convert-im6.q16 magick /usr/bin/convert; do
  if command -v "$candidate" >/dev/null; then im=$(command -v "$candidate"); break; fi
done
[ -n "$im" ] || { log "ImageMagick not found"; exit 1; }

if [ -z "$trx" ]; then
  trx="$root/build-release/tools/trximage"
  if [ ! -x "$trx" ]; then
    log "building trximage with the release preset"
    (cd "$root" && scripts/deps.sh && cmake --preset release >/dev/null &&
      cmake --build --preset release --target trximage -j "$(nproc)") >&2 || log "trximage did not build; its rows will fail"
  fi
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/trximage-compare.XXXXXX")
if [ "$keep" -eq 0 ]; then trap 'rm -rf "$work"' EXIT; else log "keeping $work"; fi

# Inputs: a smooth gradient per channel with Gaussian noise on top, so that the codecs
# see neither a flat image nor pure noise. Also the levels curve as a 256 x 1 lookup
# image for vips.
log "generating ${width} x ${height} inputs in $work"
"$py" - "$work" "$width" "$height" <<'EOF'
import sys
from PIL import Image, ImageChops

work, w, h = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
smooth = Image.Resampling.BILINEAR
r = Image.linear_gradient("L").resize((w, h), smooth)
g = Image.linear_gradient("L").transpose(Image.Transpose.ROTATE_90).resize((w, h), smooth)
b = Image.radial_gradient("L").resize((w, h), smooth)
noise = Image.effect_noise((w, h), 10)
channels = [ImageChops.add(c, noise, scale=1.0, offset=-128) for c in (r, g, b)]
image = Image.merge("RGB", channels)
image.save(f"{work}/in.jpg", quality=95)
image.save(f"{work}/in.png")
image.save(f"{work}/in.tif")

low, high, gamma = 0.1, 0.9, 1.5
def level(v):
    x = v / 255.0
    if x <= low:
        return 0
    if x >= high:
        return 255
    return min(255, int(((x - low) / (high - low)) ** (1.0 / gamma) * 255.0 + 0.5))
Image.frombytes("L", (256, 1), bytes(level(v) for v in range(256))).save(f"{work}/levels.png")
EOF

# Debian's ImageMagick policy caps memory at 256 MiB and area at 128 megapixels, which
# fails the enlargement; a policy of our own raises the caps for this run only.
mkdir -p "$work/magick"
cat >"$work/magick/policy.xml" <<'EOF'
<policymap>
  <policy domain="resource" name="memory" value="8GiB"/>
  <policy domain="resource" name="map" value="8GiB"/>
  <policy domain="resource" name="width" value="64KP"/>
  <policy domain="resource" name="height" value="64KP"/>
  <policy domain="resource" name="area" value="1GP"/>
  <policy domain="resource" name="disk" value="16GiB"/>
</policymap>
EOF
export MAGICK_CONFIGURE_PATH="$work/magick"

half="$((width / 2))x$((height / 2))"
double="$((width * 2))x$((height * 2))"
pil="from PIL import Image; Image.MAX_IMAGE_PIXELS = None"
lut="lut = [0 if v <= 25.5 else 255 if v >= 229.5 else min(255, int(((v / 255 - 0.1) / 0.8) ** (1 / 1.5) * 255 + 0.5)) for v in range(256)]"

# Prints "tool<TAB>output<TAB>command" lines for one job. TIFF outputs are uncompressed
# where a tool lets us choose, PNG keeps each tool's default zlib level, and JPEG is
# quality 90 with 4:2:0 chroma for all (vips and ImageMagick would keep full chroma).
# vips writes PNG without row filters (faster, larger); trximage deflates PNG at zlib
# level 3 by default, the others at 6.
job_commands() {
  local d=$work o
  case "$1" in
    "JPEG to PNG")
      o=$d/out.png
      printf '%s\t%s\t%s\n' \
        trximage "$o" "$trx convert $d/in.jpg $o" \
        vips "$o" "vips copy $d/in.jpg $o" \
        ImageMagick "$o" "$im $d/in.jpg $o" \
        Pillow "$o" "$py -c \"$pil; Image.open('$d/in.jpg').save('$o')\"" \
        oiiotool "$o" "oiiotool $d/in.jpg -o $o" ;;
    "PNG to JPEG q90")
      o=$d/out.jpg
      printf '%s\t%s\t%s\n' \
        trximage "$o" "$trx convert $d/in.png $o --quality 90" \
        vips "$o" "vips copy $d/in.png '${o}[Q=90,subsample-mode=on]'" \
        ImageMagick "$o" "$im $d/in.png -quality 90 -sampling-factor 4:2:0 $o" \
        Pillow "$o" "$py -c \"$pil; Image.open('$d/in.png').save('$o', quality=90)\"" \
        oiiotool "$o" "oiiotool $d/in.png --compression jpeg:90 -o $o" ;;
    "TIFF to TIFF")
      o=$d/out.tif
      printf '%s\t%s\t%s\n' \
        trximage "$o" "$trx convert $d/in.tif $o --compression none" \
        vips "$o" "vips copy $d/in.tif $o" \
        ImageMagick "$o" "$im $d/in.tif -compress none $o" \
        Pillow "$o" "$py -c \"$pil; Image.open('$d/in.tif').save('$o')\"" \
        oiiotool "$o" "oiiotool $d/in.tif --compression none -o $o" ;;
    "resize to "*)
      local size=${1#resize to } scale
      local w=${size%x*} h=${size#*x}
      scale=$("$py" -c "print($w / $width)")
      o=$d/out.tif
      printf '%s\t%s\t%s\n' \
        trximage "$o" "$trx convert $d/in.tif $o --resize $size --compression none" \
        vips "$o" "vips resize $d/in.tif $o $scale --kernel cubic" \
        ImageMagick "$o" "$im $d/in.tif -filter Catrom -resize ${size}! -compress none $o" \
        Pillow "$o" "$py -c \"$pil; Image.open('$d/in.tif').resize(($w, $h), Image.Resampling.BICUBIC).save('$o')\"" \
        oiiotool "$o" "oiiotool $d/in.tif --resize:filter=catmull-rom $size -d uint8 --compression none -o $o" ;;
    "levels 0.1 0.9 1.5")
      o=$d/out.tif
      printf '%s\t%s\t%s\n' \
        trximage "$o" "$trx convert $d/in.tif $o --level 0.1,0.9,1.5 --compression none" \
        vips "$o" "vips maplut $d/in.tif $o $d/levels.png" \
        ImageMagick "$o" "$im $d/in.tif -level 10%,90%,1.5 -compress none $o" \
        Pillow "$o" "$py -c \"$pil; $lut; Image.open('$d/in.tif').point(lut * 3).save('$o')\"" \
        oiiotool "$o" "oiiotool $d/in.tif --subc 0.1 --divc 0.8 --clamp:min=0:max=1 --powc 0.666667 -d uint8 --compression none -o $o" ;;
  esac
}

jobs=("JPEG to PNG" "PNG to JPEG q90" "TIFF to TIFF" "resize to $half" "resize to $double" "levels 0.1 0.9 1.5")
rows="$work/rows.tsv"
: >"$rows"

for job in "${jobs[@]}"; do
  log "job: $job"
  names=()
  commands=()
  while IFS=$'\t' read -r tool output command; do
    rm -f "$output"
    # One run under /usr/bin/time gives the peak memory and tells whether the tool works.
    if /usr/bin/time -v -o "$work/time.txt" bash -c "$command" </dev/null >"$work/run.log" 2>&1 && [ -s "$output" ]; then
      rss=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$work/time.txt")
      bytes=$(stat -c %s "$output")
      names+=("$tool")
      commands+=("$command")
      printf '%s\t%s\tok\t%s\t%s\n' "$job" "$tool" "$rss" "$bytes" >>"$rows"
    else
      log "  $tool failed: $(tail -n 2 "$work/run.log" | tr '\n' ' ')"
      printf '%s\t%s\tfailed\t\t\n' "$job" "$tool" >>"$rows"
    fi
    if [ "$keep" -eq 1 ] && [ -f "$output" ]; then
      mv "$output" "$work/$(echo "$job" | tr -c 'A-Za-z0-9\n' _)-$tool.${output##*.}"
    fi
    rm -f "$output"
  done < <(job_commands "$job")

  [ ${#commands[@]} -eq 0 ] && continue
  args=()
  for i in "${!commands[@]}"; do args+=(-n "${names[$i]}" "${commands[$i]}"); done
  hyperfine --runs "$runs" --style basic --export-json "$work/$(echo "$job" | tr -c 'A-Za-z0-9\n' _).json" \
    "${args[@]}" >&2 || log "  hyperfine failed for $job"
  rm -f "$work"/out.*
done

{
  echo "vips: $(vips --version 2>&1 | head -n 1)"
  echo "ImageMagick: $("$im" -version 2>&1 | head -n 1) (resource caps raised)"
  echo "Pillow: $("$py" -c 'import PIL; print(PIL.__version__)' 2>&1)"
  echo "oiiotool: $(oiiotool --version 2>&1 | head -n 1)"
  echo "machine: $(nproc) cores, $(grep -m 1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')"
} >"$work/versions.txt"

mkdir -p "$(dirname "$out")"
"$py" - "$work" "$rows" "$width" "$height" "$runs" >"$out" <<'EOF'
import json, pathlib, re, sys

work, rows_file, width, height, runs = sys.argv[1:6]
times = {}
for path in pathlib.Path(work).glob("*.json"):
    for result in json.loads(path.read_text())["results"]:
        times[(path.stem, result["command"])] = (result["mean"], result["stddev"] or 0.0)

print(f"Inputs {width} x {height} RGB, {runs} timed runs per command; peak RSS from one run.\n")
for line in pathlib.Path(work, "versions.txt").read_text().splitlines():
    print(f"- {line}")
print()
print("| job | tool | mean time (s) | peak RSS (MiB) | output (MiB) |")
print("| --- | --- | ---: | ---: | ---: |")
for line in pathlib.Path(rows_file).read_text().splitlines():
    job, tool, state, rss, size = line.split("\t")
    key = (re.sub(r"[^A-Za-z0-9]", "_", job), tool)
    if state != "ok":
        print(f"| {job} | {tool} | failed | | |")
    elif key in times:
        mean, sd = times[key]
        print(f"| {job} | {tool} | {mean:.3f} ± {sd:.3f} | {int(rss) / 1024:.0f} | {int(size) / 2**20:.1f} |")
    else:
        print(f"| {job} | {tool} | not timed | {int(rss) / 1024:.0f} | {int(size) / 2**20:.1f} |")
EOF
cat "$out"
log "table written to $out"
