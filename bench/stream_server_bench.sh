#!/usr/bin/env bash
# The broadcast to a streaming server against the broadcast on port 8080,
# both with 200 viewers on loopback for 60 s while Framory sends the whole
# 1920 x 1080 screen (a moving test pattern on it) at 10 pictures a second:
#
#   type 31: Framory pushes one RTMP stream to nginx (tests/support/
#            stream-server.sh); 195 viewers fetch the server's HLS playlist
#            and each new segment, 5 decode the playlist with ffmpeg;
#   type 30: the same 200 viewers pull http://127.0.0.1:8080/ from Framory
#            itself (195 read and count bytes, 5 decode).
#
# Prints, for each: Framory's CPU seconds per picture sent with no viewer and
# with 200 (the pictures counted by a decoding viewer of the stream itself),
# and the viewers' success (segments or bytes fetched, failures). Not a test.
#
#   FRAMORY_BIN=build/framory tests/support/own-network.sh \
#     tests/support/with-xvfb.sh --size 1920x1080 -- bench/stream_server_bench.sh
set -u
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../tests/e2e/e2e_common.bash"
STREAM_SERVER="$here/../tests/support/stream-server.sh"
SECONDS_EACH=${BENCH_SECONDS:-60}
VIEWERS=200
DECODERS=5
KEY=benchkey
rtmp_url="rtmp://127.0.0.1:1935/live/$KEY"
hls_url="http://127.0.0.1:8088/hls/$KEY.m3u8"

ffplay -loglevel quiet -noborder -left 0 -top 0 -x 1920 -y 1080 -an \
  -f lavfi -i "testsrc2=size=1920x1080:rate=25" >/dev/null 2>&1 &
E2E_HELPER_PIDS+=($!)
sleep 2

"$STREAM_SERVER" "$E2E_ROOT/server" 1935 8088 >"$E2E_ROOT/nginx.out" 2>&1 &
E2E_HELPER_PIDS+=($!)
sleep 1

cpu_seconds() {
  awk '{print ($14 + $15) / 100}' "/proc/$FRAMORY_PID/stat"
}
# Pictures a decoding viewer of $1 gets in $2 seconds.
count_pictures() {
  timeout -s INT "$2" ffmpeg -nostdin -v error -stats -i "$1" -map 0:v:0 -f null - 2>&1 |
    tr '\r' '\n' | sed -n 's/^frame= *\([0-9]*\).*/\1/p' | tail -n 1
}

# The viewers: HLS readers fetch the playlist every second and every segment
# they have not fetched yet; HTTP readers read the stream and count bytes.
# Each prints "ok failed bytes" when its time is up.
cat >"$E2E_ROOT/viewers.py" <<'PY'
import sys, threading, time, urllib.request, socket
kind, url, count, seconds = sys.argv[1], sys.argv[2], int(sys.argv[3]), float(sys.argv[4])
end = time.monotonic() + seconds
results = []
def hls():
    ok = failed = size = 0
    seen = set()
    base = url.rsplit('/', 1)[0]
    while time.monotonic() < end:
        try:
            lines = urllib.request.urlopen(url, timeout=5).read().decode().splitlines()
            for name in [l for l in lines if l and not l.startswith('#')]:
                if name in seen: continue
                seen.add(name)
                size += len(urllib.request.urlopen(base + '/' + name, timeout=5).read())
                ok += 1
        except Exception:
            failed += 1
        time.sleep(1)
    results.append((ok, failed, size))
def http():
    size = 0; failed = 0
    try:
        host, rest = url.split('//')[1].split('/', 1)
        h, p = host.split(':')
        s = socket.create_connection((h, int(p)), timeout=5)
        s.sendall(b'GET /' + rest.encode() + b' HTTP/1.0\r\n\r\n')
        while time.monotonic() < end:
            data = s.recv(65536)
            if not data: failed = 1; break
            size += len(data)
    except Exception:
        failed = 1
    results.append((1 - failed, failed, size))
threads = [threading.Thread(target=hls if kind == 'hls' else http) for _ in range(count)]
for t in threads: t.start()
for t in threads: t.join()
print(sum(r[0] for r in results), sum(r[1] for r in results), sum(r[2] for r in results))
PY

# One run of Framory with output type $1 and address $2; prints the CPU per
# picture with no viewer, then with the 200 viewers of kind $3 at $4.
measure_type() {
  local type=$1 address=$2 kind=$3 url=$4 stream=$5
  seed_project bench "OutputType=$type" "StreamServerAddress=$address" \
    "RememberStreamServerAddress=1" "RecordSound=0" "TimerValue=100" \
    "UseDesktopWindow=1" "UseMainAppWindow=0"
  start_and_open_project
  toggle_recorder_to Active || { echo "type $type did not start"; return 1; }
  sleep 5
  local cpu0 cpu1 pictures
  cpu0=$(cpu_seconds)
  pictures=$(count_pictures "$stream" 20)
  cpu1=$(cpu_seconds)
  awk -v c="$cpu1" -v d="$cpu0" -v p="${pictures:-0}" 'BEGIN {
    printf "  no viewer:    %d pictures in 20 s, %.1f ms CPU per picture\n", p, p ? 1000 * (c - d) / p : 0 }'
  python3 "$E2E_ROOT/viewers.py" "$kind" "$url" $((VIEWERS - DECODERS)) "$SECONDS_EACH" \
    >"$E2E_ROOT/viewers.out" &
  local readers=$!
  local decoders=()
  for _ in $(seq 1 "$DECODERS"); do
    count_pictures "$url" "$SECONDS_EACH" >"$E2E_ROOT/decoder.$_.out" &
    decoders+=($!)
  done
  cpu0=$(cpu_seconds)
  pictures=$(count_pictures "$stream" "$SECONDS_EACH")
  cpu1=$(cpu_seconds)
  wait "$readers" "${decoders[@]}"
  awk -v c="$cpu1" -v d="$cpu0" -v p="${pictures:-0}" -v n="$VIEWERS" -v s="$SECONDS_EACH" 'BEGIN {
    printf "  %d viewers:  %d pictures in %d s, %.1f ms CPU per picture\n", n, p, s, p ? 1000 * (c - d) / p : 0 }'
  read -r ok failed bytes <"$E2E_ROOT/viewers.out"
  local decoded
  decoded=$(cat "$E2E_ROOT"/decoder.*.out | awk '{s += $1; n++} END {printf "%d pictures each on average", n ? s / n : 0}')
  echo "  readers: $ok fetched, $failed failures, $((bytes / 1048576)) MiB; decoders: $decoded"
  exit_with_escape >/dev/null
}

echo "type 31: push to nginx, viewers on its HLS playlist"
measure_type 31 "$rtmp_url" hls "$hls_url" "$rtmp_url"
echo "type 30: viewers pull from Framory's port 8080"
measure_type 30 "" http "http://127.0.0.1:8080/" "http://127.0.0.1:8080/"
