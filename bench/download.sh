#!/usr/bin/env bash
# Download throughput on loopback from nginx: two 256 MiB files, one plain and one ".cmp"
# container, fetched as two concurrent jobs by the launcher's engine (under Wine), by two
# concurrent curl processes and by two concurrent bare WinINet read loops at the engine's
# read size, in the same run. The peer is what this platform allows: the two bare loops
# plus the stand-alone LZMA decoder (xz) on the container's stream.
#
#   BUILD_DIR   Windows build tree holding download_once.exe (default build/win)
#   BENCH_MIB   size of each file in MiB (default 256)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build/win}
mib=${BENCH_MIB:-256}
cmake --build "$build" --target download_once >/dev/null
work=$(mktemp -d /tmp/velm-bench-download.XXXXXX)
nginx_pid=""
trap 'kill "$nginx_pid" 2>/dev/null || true; rm -rf "$work"' EXIT
mkdir -p "$work/www" "$work/out"
x86_64-w64-mingw32-g++-posix -std=c++17 -O2 -municode -static "$root/bench/wininet_read_bench_win32.cpp" \
  -lwininet -o "$work/wininet_read_bench.exe"

# Plain: incompressible. Container payload: base64 text, which LZMA shrinks by about a
# quarter, so decoding has real work to do.
head -c "$((mib * 1024 * 1024))" /dev/urandom > "$work/www/plain.bin"
head -c "$((mib * 1024 * 1024 * 3 / 4))" /dev/urandom | base64 -w 0 | head -c "$((mib * 1024 * 1024))" > "$work/payload.bin"
xz --format=lzma -1 -c "$work/payload.bin" > "$work/payload.lzma"
# Container: 24-byte prefix (not read by the launcher), no extra block, the LZMA stream.
{ head -c 28 /dev/zero; cat "$work/payload.lzma"; } > "$work/www/packed.bin.cmp"

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
mkdir -p "$work/nginx"
cat > "$work/nginx/nginx.conf" <<CONF
daemon off; master_process off; worker_processes 1; pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log warn;
events { worker_connections 64; }
http { access_log off; sendfile on; default_type application/octet-stream;
  client_body_temp_path $work/nginx/b; proxy_temp_path $work/nginx/p;
  fastcgi_temp_path $work/nginx/f; uwsgi_temp_path $work/nginx/u; scgi_temp_path $work/nginx/s;
  server { listen 127.0.0.1:$port; root $work/www; location / { } } }
CONF
nginx -c "$work/nginx/nginx.conf" -p "$work/nginx" 2>/dev/null &
nginx_pid=$!
for _ in $(seq 50); do curl -s -o /dev/null "http://127.0.0.1:$port/" && break; sleep 0.1; done
url="http://127.0.0.1:$port"

now() { date +%s.%N; }
# Peer: the same two files at once.
t0=$(now)
curl -s -o "$work/out/curl-plain.bin" "$url/plain.bin" &
curl -s -o "$work/out/curl-packed.cmp" "$url/packed.bin.cmp" &
wait %2 %3 2>/dev/null || wait
t1=$(now)
curl_s=$(echo "$t1 - $t0" | bc -l)
# Floor of decoding: the stand-alone decoder on the same stream.
t0=$(now); xz --format=lzma -dc "$work/payload.lzma" > /dev/null; t1=$(now)
xz_s=$(echo "$t1 - $t0" | bc -l)

win() { echo "Z:$(echo "$1" | tr / '\\')"; }
# Ours, plain alone (for the plain-file figure) and both at once.
ms_plain=$("$root/scripts/wine-run" "$build/download_once.exe" \
  "$url/plain.bin" "$(win "$work/out/plain.bin")" | tr -d '\r' | tail -1)
cmp -s "$work/out/plain.bin" "$work/www/plain.bin" || { echo "plain download differs" >&2; exit 1; }
rm -f "$work/out/plain.bin"
ms_both=$("$root/scripts/wine-run" "$build/download_once.exe" \
  "$url/plain.bin" "$(win "$work/out/plain.bin")" \
  -cmp "$url/packed.bin.cmp" "$(win "$work/out/packed.bin")" | tr -d '\r' | tail -1)
cmp -s "$work/out/plain.bin" "$work/www/plain.bin" || { echo "plain download differs" >&2; exit 1; }
cmp -s "$work/out/packed.bin" "$work/payload.bin" || { echo "decoded container differs" >&2; exit 1; }
# The same with the SHA-256 and size a signed file list gives each file: what checking
# them as the bytes pass costs.
rm -f "$work/out/plain.bin" "$work/out/packed.bin"
sha_plain=$(sha256sum "$work/www/plain.bin" | cut -d' ' -f1)
sha_packed=$(sha256sum "$work/payload.bin" | cut -d' ' -f1)
ms_both_sha=$("$root/scripts/wine-run" "$build/download_once.exe" \
  -sha256 "$sha_plain" "$((mib * 1024 * 1024))" "$url/plain.bin" "$(win "$work/out/plain.bin")" \
  -cmp -sha256 "$sha_packed" "$(stat -c %s "$work/payload.bin")" "$url/packed.bin.cmp" "$(win "$work/out/packed.bin")" \
  | tr -d '\r' | tail -1)
cmp -s "$work/out/packed.bin" "$work/payload.bin" || { echo "checked container differs" >&2; exit 1; }

# What WinINet under this Wine allows at all, at the engine's read size: the same two
# files through two concurrent bare read loops, plus the stand-alone decoder's time for
# the container (the engine decodes once the container is on disk). A single loop at the
# old 5120-byte reads is printed for comparison.
read_size=65536
ms_loops=$("$root/scripts/wine-run" "$work/wininet_read_bench.exe" "$read_size" "$url/plain.bin" "$url/packed.bin.cmp" | tr -d '\r' | tail -1)
ms_5120=$("$root/scripts/wine-run" "$work/wininet_read_bench.exe" 5120 "$url/plain.bin" | tr -d '\r' | tail -1)
ms_64k=$("$root/scripts/wine-run" "$work/wininet_read_bench.exe" "$read_size" "$url/plain.bin" | tr -d '\r' | tail -1)
ceiling_s=$(echo "$ms_loops / 1000 + $xz_s" | bc -l)

both_mib=$(echo "2 * $mib" | bc -l)
ours=$(echo "$both_mib / ($ms_both / 1000)" | bc -l)
curl_rate=$(echo "$both_mib / $curl_s" | bc -l)
ceiling=$(echo "$both_mib / $ceiling_s" | bc -l)
printf 'plain file alone: ours %.0f MiB/s; one bare WinINet read loop: %.0f MiB/s with 5120-byte reads, %.0f MiB/s with %d-byte reads\n' \
  "$(echo "$mib / ($ms_plain / 1000)" | bc -l)" "$(echo "$mib / ($ms_5120 / 1000)" | bc -l)" \
  "$(echo "$mib / ($ms_64k / 1000)" | bc -l)" "$read_size"
printf 'both jobs: ours %.2f s, curl %.2f s; two bare WinINet loops %.2f s; xz decoding the container alone %.2f s\n' \
  "$(echo "$ms_both / 1000" | bc -l)" "$curl_s" "$(echo "$ms_loops / 1000" | bc -l)" "$xz_s"
printf 'with SHA-256 and size checked: ours %.2f s, %.1f %% more than without\n' \
  "$(echo "$ms_both_sha / 1000" | bc -l)" "$(echo "($ms_both_sha - $ms_both) * 100 / $ms_both" | bc -l)"
printf 'download vs curl: ours/curl = %.2f (ours %.0f MiB/s, curl %.0f MiB/s, two concurrent curl processes)\n' \
  "$(echo "$ours / $curl_rate" | bc -l)" "$ours" "$curl_rate"
printf 'download: ours/peer = %.2f (ours %.0f MiB/s, peer %.0f MiB/s, two concurrent %d MiB loopback downloads from nginx, plain + .cmp decoded, against two concurrent bare WinINet read loops at %d-byte reads plus xz decoding the container)\n' \
  "$(echo "$ours / $ceiling" | bc -l)" "$ours" "$ceiling" "$mib" "$read_size"
