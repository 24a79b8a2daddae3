#!/usr/bin/env bash
# wine-check.sh <marlwood.exe> <linux marlwood> <marlwood-VERSION-win64.zip>
#
# Converts the real DULUTH, MN transfer with the Windows build (under wine) and with the Linux
# build, from the same scripted input, and requires identical .ter bytes, identical transcripts
# and exit status 0 from both. The Windows console writes CR LF line ends: every CR LF of the
# Windows transcript is turned into LF before the comparison; nothing else is changed, so a
# stray CR still counts as a difference. The command line is run on the transfer as a prefix, a
# directory and as archives (.tar.gz and .tar). Then the executable of the zip, unpacked into a
# directory whose name has a space and a letter outside ASCII and run from another directory,
# with only that directory visible to wine: crops (on WGS 84 degrees too, through the datum grids
# the zip carries), --size, merges (across zones too), GeoTIFFs and engine heightmaps against the
# Linux build (the .ter bytes; for a GeoTIFF the CRS, geotransform
# and every cell as GDAL reads them; for a heightmap every value and the sidecar's bytes; a
# mesh's bytes), and a
# box of 3DEP tiles from a loopback server (python3's), read through WinHTTP, twice: the second
# time from the cache, and servers that misbehave.
#
# The transfer comes with the repository (tests/data/usgs/); the neighbours to merge are written
# by make_neighbours, from the Linux build's directory. Under CI=true a missing wine is a
# failure; elsewhere the check is skipped with a message.
set -euo pipefail

if [ $# -ne 3 ]; then
  echo "usage: $0 <path/to/marlwood.exe> <path/to/linux/marlwood> <path/to/the.zip>" >&2
  exit 2
fi
exe=$(realpath "$1")
linux=$(realpath "$2")
zip=$(realpath "$3")
repo=$(cd "$(dirname "$0")/../.." && pwd)
duluth=$repo/tests/data/usgs/7172-duluth-mn

skip_or_fail() {
  if [ "${CI:-}" = true ]; then
    echo "wine-check: FAILED: $*" >&2
    exit 1
  fi
  echo "wine-check: SKIPPED: $*"
  exit 0
}

for binary in "$exe" "$linux"; do
  [ -x "$binary" ] || { echo "wine-check: FAILED: no program at $binary" >&2; exit 1; }
done
if [ ! -f "$duluth/7172cel0.ddf" ]; then
  echo "wine-check: FAILED: no USGS transfer at $duluth" >&2
  exit 1
fi

# Debian's wine64 package installs its loader outside PATH; the wine package adds /usr/bin/wine.
wine=""
for candidate in wine wine64 /usr/lib/wine/wine64; do
  if command -v "$candidate" >/dev/null 2>&1; then
    wine=$(command -v "$candidate")
    break
  fi
done
[ -n "$wine" ] || skip_or_fail "wine is not installed (Debian package wine64)"
wineserver=""
for candidate in wineserver wineserver64 /usr/lib/wine/wineserver64 /usr/lib/wine/wineserver; do
  if command -v "$candidate" >/dev/null 2>&1; then
    wineserver=$(command -v "$candidate")
    break
  fi
done

work=$(mktemp -d "${TMPDIR:-/tmp}/mwwine.XXXXXX")
export WINEPREFIX=$work/prefix WINEDEBUG=-all
# No Mono or Gecko installer when the throwaway prefix is created.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
server_pid=""
cleanup() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; fi
  if [ -n "$wineserver" ] && [ -d "$WINEPREFIX" ]; then
    "$wineserver" -k >/dev/null 2>&1 || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# Both programs run in the same directory and are typed the same short relative paths, so the
# transcripts can be compared whole.
mkdir "$work/linux" "$work/windows"
for side in linux windows; do ln -s "$duluth" "$work/$side/d"; done

status=0
# session <name> <input>: runs both builds on the input and compares what they produced.
session() {
  local name=$1 input=$2
  local lin=$work/linux win=$work/windows rc_lin=0 rc_win=0
  (cd "$lin" && printf '%s' "$input" | "$linux" >"$name.txt" 2>"$name.err") || rc_lin=$?
  # The first start creates the prefix and takes a while.
  (cd "$win" && printf '%s' "$input" | timeout 600 "$wine" "$exe" >"$name.raw" 2>"$name.err") ||
    rc_win=$?
  perl -pe 's/\r\n/\n/g' "$win/$name.raw" >"$win/$name.txt"

  local ok=1
  if [ "$rc_lin" -ne 0 ] || [ "$rc_win" -ne 0 ]; then
    echo "wine-check: $name: exit status linux $rc_lin, windows $rc_win (0 expected)" >&2
    ok=0
  fi
  if ! cmp -s "$lin/$name.txt" "$win/$name.txt"; then
    echo "wine-check: $name: the transcripts differ (after CR LF -> LF):" >&2
    diff "$lin/$name.txt" "$win/$name.txt" >&2 || true
    ok=0
  fi
  if [ ! -s "$lin/$name.ter" ] || [ ! -s "$win/$name.ter" ]; then
    echo "wine-check: $name: a .ter file is missing or empty" >&2
    ok=0
  elif ! cmp "$lin/$name.ter" "$win/$name.ter" >&2; then
    echo "wine-check: $name: the .ter files differ" >&2
    ok=0
  fi
  if [ "$ok" = 1 ]; then
    echo "wine-check: $name: same transcript ($(wc -l <"$lin/$name.txt") lines)," \
      "same .ter ($(wc -c <"$lin/$name.ter") bytes), exit status 0"
  else
    status=1
  fi
}

echo "wine-check: $wine $exe against $linux on $duluth"
# Banner key, prefix, height scale, output file, closing key.
session duluth $'kd/7172\n30\nduluth.ter\nk'
# The retry loops too: a prefix that does not open, a height scale that is no number, an output
# file in a directory that does not exist.
session retries $'kd/7999\nd/7172\nthirty\n30\nnodir/retries.ter\nretries.ter\nk'

# The command line: the prefix and the directory give the dialogue's bytes.
(cd "$work/windows" && timeout 600 "$wine" "$exe" -q -s 30 -o cli-prefix.ter d/7172 &&
  timeout 600 "$wine" "$exe" -q -s 30 -o cli-dir.ter d) >"$work/cli.out" 2>&1 ||
  { echo "wine-check: the command line failed:" >&2; cat "$work/cli.out" >&2; status=1; }
for out in cli-prefix cli-dir; do
  if cmp -s "$work/linux/duluth.ter" "$work/windows/$out.ter"; then
    echo "wine-check: command line $out: the dialogue's .ter bytes"
  else
    echo "wine-check: command line $out: the .ter differs from the dialogue's" >&2
    status=1
  fi
done

# Archives as USGS ships them (upper-case names, gzipped), and a plain .tar, read in place by
# libarchive linked into the .exe. An archive's output is named after it: 7172.ter.
mkdir "$work/upper"
for module in "$duluth"/*.ddf; do
  name=$(basename "$module")
  cp "$module" "$work/upper/${name^^}"
done
tar -C "$work/upper" -czf "$work/7172.DEM.SDTS.TAR.GZ" .
tar -C "$duluth" -cf "$work/duluth.tar" .
for side in linux windows; do
  ln -s "$work/7172.DEM.SDTS.TAR.GZ" "$work/duluth.tar" "$work/$side/"
done
# cli <side> <name> <arguments>...: one run of the command line, its output kept under <name>.
cli() {
  local side=$1 name=$2 rc=0
  shift 2
  if [ "$side" = linux ]; then
    (cd "$work/linux" && "$linux" "$@") >"$work/linux/$name.out" 2>&1 || rc=$?
  else
    (cd "$work/windows" && timeout 600 "$wine" "$exe" "$@") >"$work/windows/$name.out" 2>&1 ||
      rc=$?
  fi
  if [ "$rc" -ne 0 ]; then
    echo "wine-check: $side $name: exit status $rc:" >&2
    cat "$work/$side/$name.out" >&2
    status=1
  fi
}
# same_ter <what> <linux .ter> <windows .ter>
same_ter() {
  if [ -s "$2" ] && cmp -s "$2" "$3"; then
    echo "wine-check: $1: the Linux build's .ter bytes ($(wc -c <"$2") bytes)"
  else
    echo "wine-check: $1: the .ter is missing or differs from the Linux build's" >&2
    status=1
  fi
}
for side in linux windows; do
  cli "$side" tgz -q 7172.DEM.SDTS.TAR.GZ
  cli "$side" tar -q -s 75 -o tar.ter duluth.tar
done
same_ter "archive .tar.gz" "$work/linux/7172.ter" "$work/windows/7172.ter"
same_ter "archive .tar" "$work/linux/tar.ter" "$work/windows/tar.ter"

# The zip as a user gets it, unpacked into a directory whose name has a space and a letter
# outside ASCII; its executable needs nothing beside it but what the zip holds.
unpacked="$work/un zippé"
mkdir "$unpacked"
(cd "$unpacked" && cmake -E tar xf "$zip")
stem=$(basename "$zip" .zip)
zexe="$unpacked/$stem/marlwood.exe"
for file in marlwood.exe proj.db README.md licences/{libarchive,zlib,libtiff,libpng,tinyexr,proj,sqlite3}.txt \
  proj-grids/us_noaa_{conus,alaska,vertconw,vertconc,vertcone}.tif; do
  [ -f "$unpacked/$stem/$file" ] || { echo "wine-check: the zip lacks $stem/$file" >&2; status=1; }
done

# From here on the wine prefix sees only $work, as drive W:, not the whole Unix tree as Z:: PROJ
# would otherwise find the proj.db of the path it was built for and hide one not found beside
# the executable.
[ -n "$wineserver" ] && "$wineserver" -k >/dev/null 2>&1 || true
rm -f "$WINEPREFIX/dosdevices/z:"
ln -s "$work" "$WINEPREFIX/dosdevices/w:"
unset PROJ_DATA PROJ_LIB
# win <arguments>...: the unzipped executable, run in $work/windows.
win() { (cd "$work/windows" && timeout 600 "$wine" "$zexe" "$@"); }

rc=0
win -q -o "z out.ter" 7172.DEM.SDTS.TAR.GZ >"$work/zip.out" 2>&1 || rc=$?
if [ "$rc" -ne 0 ]; then
  echo "wine-check: the unzipped marlwood.exe: exit status $rc:" >&2
  cat "$work/zip.out" >&2
  status=1
fi
same_ter "unzipped into \"un zippé\"" "$work/linux/7172.ter" "$work/windows/z out.ter"

# Four synthetic neighbours to merge, written by the Linux build's make_neighbours.
"$(dirname "$linux")/make_neighbours" "$work/n" 4200 30m 2x2 121x161 >/dev/null
for side in linux windows; do ln -s "$work/n" "$work/$side/n"; done
quads=(n/4200 n/4201 n/4202 n/4203)

# gdal_facts <file.tif>: the CRS, size, geotransform and NoData GDAL reads, one line each; every
# cell goes to <file.tif>.cells (raw Float32).
gdal_facts() {
  gdalsrsinfo -o epsg "$1" | grep -E '^EPSG:[0-9]+$'
  gdalinfo "$1" | grep -E '^(Size is|Origin =|Pixel Size =)|NoData Value='
  gdal_translate -q -of ENVI "$1" "$1.cells"
}

# The features the libraries bring, each run by both builds with the same arguments and
# compared: .ter bytes, or for a GeoTIFF what GDAL reads of it and every cell; the report lines
# too. name | output | arguments
cases=(
  "crop by --centre|crop.ter|--centre 46.8,-92.06 --extent 3 -o crop.ter d/7172"
  "crop by --bbox of an archive, --size|bbox.ter|--bbox -92.1,46.75,-92.02,46.81 --size 300 -o bbox.ter 7172.DEM.SDTS.TAR.GZ"
  "--size growing, --true-scale|size.ter|--size 1025 --true-scale -o size.ter d"
  "merge|merge.ter|--merge -o merge.ter ${quads[*]}"
  "cropped merge|merge-crop.ter|--merge --true-scale --bbox -93.53,45.22,-93.47,45.26 -o merge-crop.ter ${quads[*]}"
  "cropped merge resampled as it decodes|merge-size.ter|--merge --true-scale --bbox -93.53,45.22,-93.47,45.26 --size 200 -o merge-size.ter ${quads[*]}"
  "GeoTIFF of an archive|duluth.tif|-o duluth.tif 7172.DEM.SDTS.TAR.GZ"
  "cropped, resampled GeoTIFF|crop.tif|--centre 46.8,-92.06 --extent 3 --size 64 -o crop.tif d"
  "merged GeoTIFF|merge.tif|--merge --fill-voids -o merge.tif ${quads[*]}"
  "merge reprojected into zone 16|zone.ter|--merge --zone 16 -o zone.ter d/7172"
  "merged GeoTIFF in zone 16|zone.tif|--merge --zone 16 -o zone.tif ${quads[*]}"
  "16-bit PNG at Unreal's size|unreal.png|--size unreal -o unreal.png d/7172"
  "Unreal r16 tiles of a merge|tiles_x1_y1.r16|--merge --size unreal --tiles 2x2 -o tiles.r16 ${quads[*]}"
  "crop by WGS 84 degrees, through the datum grid|degrees.ter|--degrees-on wgs84 --centre 46.799939,-92.060189 --extent 3 -o degrees.ter d/7172"
  "Unity raw of a crop, big-endian|unity.raw|--centre 46.8,-92.06 --extent 3 --size 257 --byte-order big -o unity.raw 7172.DEM.SDTS.TAR.GZ"
  "EXR of metres for Godot|godot.exr|--fill-voids -o godot.exr d/7172"
  "STL of DULUTH to print|duluth.stl|--fill-voids -o duluth.stl d/7172"
  "glb of a merge|merge.glb|--merge --fill-voids -o merge.glb ${quads[*]}"
)
for entry in "${cases[@]}"; do
  IFS='|' read -r what output arguments <<<"$entry"
  read -ra args <<<"$arguments"
  rc_lin=0
  rc_win=0
  (cd "$work/linux" && "$linux" "${args[@]}") >"$work/linux/$output.out" 2>&1 || rc_lin=$?
  win "${args[@]}" >"$work/windows/$output.raw" 2>&1 || rc_win=$?
  perl -pe 's/\r\n/\n/g' "$work/windows/$output.raw" >"$work/windows/$output.out"
  if [ "$rc_lin" -ne 0 ] || [ "$rc_win" -ne 0 ] ||
    ! cmp -s "$work/linux/$output.out" "$work/windows/$output.out"; then
    echo "wine-check: $what: exit status linux $rc_lin, windows $rc_win; reports:" >&2
    cat "$work/linux/$output.out" "$work/windows/$output.out" >&2
    status=1
  elif [[ $output == *.ter ]]; then
    same_ter "$what" "$work/linux/$output" "$work/windows/$output"
  elif [[ $output == *.stl || $output == *.glb ]]; then
    # A mesh: its bytes (the triangulation measures rows with the instructions the processor
    # has, under wine as on Linux), and a glb's sidecar.
    sidecar=${output%.*}.json
    [[ $output == *.stl ]] && sidecar=$output
    if [ -s "$work/linux/$output" ] && cmp -s "$work/linux/$output" "$work/windows/$output" &&
      cmp -s "$work/linux/$sidecar" "$work/windows/$sidecar"; then
      echo "wine-check: $what: the Linux build's bytes ($(wc -c <"$work/linux/$output"))"
    else
      echo "wine-check: $what: the mesh or its sidecar differs from the Linux build's" >&2
      status=1
    fi
  elif [[ $output == *.png || $output == *.r16 || $output == *.raw || $output == *.exr ]]; then
    # A heightmap: the PNG's values as GDAL reads them (zlib may pack them differently), a raw
    # file's bytes, and the sidecar's bytes.
    # Unity's and Godot's NAME.json; Unreal's NAME_unreal.json, out of its import's gathering.
    # An EXR's bytes: tinyexr and zlib of the same versions deflate alike.
    if [[ $output == *.raw || $output == *.exr ]]; then
      sidecar=${output%.*}.json
    else
      sidecar=$(sed -E 's/(_x[0-9]+_y[0-9]+)?\.[a-z0-9]+$/_unreal.json/' <<<"$output")
    fi
    if [[ $output == *.png ]]; then
      for side in linux windows; do
        gdal_translate -q -of ENVI "$work/$side/$output" "$work/$side/$output.cells" || true
      done
      first=$work/linux/$output.cells second=$work/windows/$output.cells
    else
      first=$work/linux/$output second=$work/windows/$output
    fi
    if [ -s "$first" ] && cmp -s "$first" "$second" &&
      cmp -s "$work/linux/$sidecar" "$work/windows/$sidecar"; then
      echo "wine-check: $what: the Linux build's every value ($(wc -c <"$first") bytes) and $sidecar"
    else
      echo "wine-check: $what: the heightmap or $sidecar differs from the Linux build's" >&2
      status=1
    fi
  else
    facts_lin=$(gdal_facts "$work/linux/$output") || facts_lin=""
    facts_win=$(gdal_facts "$work/windows/$output") || facts_win=""
    if [ "$(grep -c . <<<"$facts_lin")" -eq 5 ] && [ "$facts_lin" = "$facts_win" ] &&
      cmp -s "$work/linux/$output.cells" "$work/windows/$output.cells"; then
      echo "wine-check: $what: GDAL reads the Linux build's $(head -n 1 <<<"$facts_lin")," \
        "$(sed -n 2p <<<"$facts_lin"), geotransform and every cell"
    else
      echo "wine-check: $what: GDAL reads the two GeoTIFFs differently:" >&2
      diff <(echo "$facts_lin") <(echo "$facts_win") >&2 || true
      cmp "$work/linux/$output.cells" "$work/windows/$output.cells" >&2 || true
      status=1
    fi
  fi
done

# 3DEP tiles from a loopback server in USGS's bucket layout (range_server.py), read through
# WinHTTP: the box GDAL reads as the Linux build's (libcurl's) to every cell, with the same report
# line; a second run fetches nothing, its blocks kept under %LOCALAPPDATA%\marlwood.
bucket=$work/bucket
# Two stand-in tiles either side of 92 W, as USGS writes them (Float32 COG, DEFLATE with the
# floating-point predictor, -999999 NoData, EPSG:4269), of 12" cells so that they are small.
python3 - "$bucket" <<'PY'
import array, math, os, sys
side, overlap, cell = 312, 6, 1 / 300
for west in (-93, -92):
    corner = f"n47w{-west:03d}"
    folder = os.path.join(sys.argv[1], "StagedProducts/Elevation/13/TIFF/current", corner)
    os.makedirs(folder)
    stem = os.path.join(folder, f"USGS_13_{corner}")
    cells = array.array("f")
    for r in range(side):
        lat = 47 - (r - overlap + 0.5) * cell
        for c in range(side):
            lon = west + (c - overlap + 0.5) * cell
            cells.append(300 + 80 * math.sin(lon * 40) * math.cos(lat * 33)
                         + 20 * math.sin(lon * 300 + lat * 170))
    if sys.byteorder != "little":
        cells.byteswap()
    with open(stem + ".bin", "wb") as f:
        cells.tofile(f)
    with open(stem + ".vrt", "w") as f:
        f.write(f'<VRTDataset rasterXSize="{side}" rasterYSize="{side}"><SRS>EPSG:4269</SRS>'
                f'<GeoTransform>{west - overlap * cell!r},{cell!r},0,{47 + overlap * cell!r},0,'
                f'{-cell!r}</GeoTransform><VRTRasterBand dataType="Float32" band="1" '
                f'subClass="VRTRawRasterBand"><NoDataValue>-999999</NoDataValue>'
                f'<SourceFilename relativeToVRT="0">{stem}.bin</SourceFilename>'
                f'<ImageOffset>0</ImageOffset><PixelOffset>4</PixelOffset>'
                f'<LineOffset>{side * 4}</LineOffset><ByteOrder>LSB</ByteOrder>'
                f'</VRTRasterBand></VRTDataset>')
PY
for vrt in "$bucket"/StagedProducts/Elevation/13/TIFF/current/*/*.vrt; do
  gdal_translate -q -of COG -co COMPRESS=DEFLATE -co PREDICTOR=YES -co BLOCKSIZE=256 "$vrt" \
    "${vrt%.vrt}.tif"
  rm "$vrt" "${vrt%.vrt}.bin"
done
# start_server <mode>: range_server.py on a free port ($port, empty when it did not start).
start_server() {
  rm -f "$work/port" "$work/served.log"
  python3 "$repo/tests/oracle/range_server.py" --root "$bucket" --port-file "$work/port" \
    --log "$work/served.log" --mode "$1" &
  server_pid=$!
  for _ in $(seq 200); do [ -s "$work/port" ] && break; sleep 0.05; done
  port=$(cat "$work/port" 2>/dev/null || true)
}
stop_server() {
  kill "$server_pid" 2>/dev/null || true
  wait "$server_pid" 2>/dev/null || true
  server_pid=""
}
served() { if [ -f "$work/served.log" ]; then wc -l <"$work/served.log"; else echo 0; fi; }
start_server normal
if [ -z "$port" ]; then
  echo "wine-check: 3DEP over HTTP: the loopback server did not start" >&2
  status=1
else
  dep=(--3dep-url "http://127.0.0.1:$port" --bbox -92.1,46.5,-91.9,46.6 3dep:13)
  rc_lin=0
  rc_win=0
  (cd "$work/linux" && XDG_CACHE_HOME=$work/linux-cache "$linux" -o dep.tif "${dep[@]}") \
    >"$work/linux/dep.out" 2>&1 || rc_lin=$?
  before=$(served)
  win -o dep.tif "${dep[@]}" >"$work/windows/dep.raw" 2>&1 || rc_win=$?
  perl -pe 's/\r\n/\n/g' "$work/windows/dep.raw" >"$work/windows/dep.out"
  asked=$(($(served) - before))
  if [ "$rc_lin" -eq 0 ] && [ "$rc_win" -ne 0 ] && [ "$asked" -eq 0 ] &&
    grep -q "cannot connect to the server" "$work/windows/dep.out"; then
    # Some wine builds' WinHTTP never reaches a loopback server; a real Windows does.
    echo "wine-check: SKIPPED 3DEP over HTTP: this wine's WinHTTP cannot reach 127.0.0.1:" \
      "$(tr -d '\r' <"$work/windows/dep.out" | head -n 1)"
  elif [ "$rc_lin" -ne 0 ] || [ "$rc_win" -ne 0 ] ||
    ! cmp -s "$work/linux/dep.out" "$work/windows/dep.out"; then
    echo "wine-check: 3DEP over HTTP: exit status linux $rc_lin, windows $rc_win; reports:" >&2
    cat "$work/linux/dep.out" "$work/windows/dep.out" >&2
    status=1
  else
    facts_lin=$(gdal_facts "$work/linux/dep.tif") || facts_lin=""
    facts_win=$(gdal_facts "$work/windows/dep.tif") || facts_win=""
    if [ "$(grep -c . <<<"$facts_lin")" -eq 5 ] && [ "$facts_lin" = "$facts_win" ] &&
      cmp -s "$work/linux/dep.tif.cells" "$work/windows/dep.tif.cells"; then
      echo "wine-check: 3DEP over HTTP through WinHTTP ($asked requests): GDAL reads the Linux" \
        "build's $(head -n 1 <<<"$facts_lin"), geotransform and every cell; $(tail -n 1 \
        "$work/linux/dep.out")"
    else
      echo "wine-check: 3DEP over HTTP: GDAL reads the two GeoTIFFs differently:" >&2
      diff <(echo "$facts_lin") <(echo "$facts_win") >&2 || true
      status=1
    fi
    # Again: the server is asked nothing, the blocks come from the user's cache folder.
    before=$(served)
    rc_win=0
    win -o dep-again.tif "${dep[@]}" >"$work/windows/dep-again.raw" 2>&1 || rc_win=$?
    cache=("$WINEPREFIX"/drive_c/users/*/AppData/Local/marlwood/*.range)
    if [ "$rc_win" -eq 0 ] && [ "$(served)" -eq "$before" ] && [ -f "${cache[0]}" ] &&
      grep -q " 0 bytes fetched in 0 requests" "$work/windows/dep-again.raw" &&
      cmp -s "$work/windows/dep.tif" "$work/windows/dep-again.tif"; then
      echo "wine-check: 3DEP over HTTP again: nothing asked of the server, ${#cache[@]} ranges" \
        "from %LOCALAPPDATA%\\marlwood, the same bytes"
    else
      echo "wine-check: 3DEP over HTTP again: exit status $rc_win, $(($(served) - before))" \
        "requests, cache ${cache[0]}:" >&2
      cat "$work/windows/dep-again.raw" >&2
      status=1
    fi
    stop_server
    # A server that misbehaves: the line the Linux build's tests expect of libcurl, exit status
    # 1 and no file; or, answered 500 once, the box converted. A stall is given up after 1 s.
    misbehaving=(
      "lie|the server sent bytes 1-65536 of"
      "truncate|was cut short"
      "loop|more than 5 redirects"
      "whole|the server sent more than the 65536 bytes asked"
      "flaky|"
      "stall|the server stopped sending bytes 0-65535 for 1 s"
    )
    for entry in "${misbehaving[@]}"; do
      IFS='|' read -r mode line <<<"$entry"
      start_server "$mode"
      rc_win=0
      MARLWOOD_STALL_SECONDS=1 win -q --no-cache --3dep-url "http://127.0.0.1:$port" \
        --bbox -92.5,46.5,-92.4,46.6 -o "$mode.tif" 3dep:13 >"$work/windows/$mode.raw" 2>&1 ||
        rc_win=$?
      stop_server
      said=$(tr -d '\r' <"$work/windows/$mode.raw")
      if [ -z "$line" ] && [ "$rc_win" -eq 0 ] && [ -s "$work/windows/$mode.tif" ]; then
        echo "wine-check: 3DEP over HTTP, server $mode: tried again, converted"
      elif [ -n "$line" ] && [ "$rc_win" -eq 1 ] && [ "$(grep -c . <<<"$said")" -eq 1 ] &&
        grep -qF "$line" <<<"$said" && [ ! -e "$work/windows/$mode.tif" ]; then
        echo "wine-check: 3DEP over HTTP, server $mode: ${said##*: }"
      else
        echo "wine-check: 3DEP over HTTP, server $mode: exit status $rc_win:" >&2
        echo "$said" >&2
        status=1
      fi
    done
  fi
fi
stop_server

# Without proj.db beside it the executable says so, in one line, instead of finding another.
mkdir "$work/alone"
cp "$zexe" "$work/alone/"
rc=0
(cd "$work/windows" && timeout 600 "$wine" "$work/alone/marlwood.exe" --centre 46.8,-92.06 \
  --extent 3 -o alone.ter d/7172) >"$work/alone.out" 2>&1 || rc=$?
if [ "$rc" -eq 1 ] && grep -q "proj.db is not beside marlwood.exe" "$work/alone.out"; then
  echo "wine-check: without proj.db beside it: $(tr -d '\r' <"$work/alone.out")"
else
  echo "wine-check: without proj.db beside it: exit status $rc:" >&2
  cat "$work/alone.out" >&2
  status=1
fi

# With proj.db but without the datum grids beside it, a crop on another datum is refused in one
# line naming the grid, never cut by a coarser shift.
mkdir "$work/nogrids"
cp "$zexe" "$unpacked/$stem/proj.db" "$work/nogrids/"
rc=0
(cd "$work/windows" && timeout 600 "$wine" "$work/nogrids/marlwood.exe" --degrees-on wgs84 \
  --centre 46.799939,-92.060189 --extent 3 -o nogrids.ter d/7172) >"$work/nogrids.out" 2>&1 || rc=$?
if [ "$rc" -eq 1 ] && grep -q "us_noaa_conus.tif is not in" "$work/nogrids.out" &&
  [ ! -e "$work/windows/nogrids.ter" ]; then
  echo "wine-check: without the datum grids: $(tr -d '\r' <"$work/nogrids.out")"
else
  echo "wine-check: without the datum grids: exit status $rc:" >&2
  cat "$work/nogrids.out" >&2
  status=1
fi

if [ "$status" -ne 0 ]; then
  echo "wine-check: FAILED" >&2
else
  echo "wine-check: the Windows build under wine matches the Linux build"
fi
exit "$status"
