#!/usr/bin/env bash
# tollan.dll in a JScript host under Wine, beside the command-line peers (run by scripts/bench):
#   1. TransferFiles sends SIZE random bytes with ZModem to rz, and receives them from sz, over
#      the simulated line at BPS;
#   2. the same send over a bare socat pair (no pacing): what the progress updates cost when the
#      line is fast;
#   3. an XModem receive that waits 10 s for a peer that never answers: the CPU of a wait.
# CPU: the host process's own user + system seconds (from `times` after it ended) and what the
# wineserver used meanwhile (/proc), both per MB of the file. The wall time runs from the peer's
# start (the host has started and listens) until the host has ended.
#
#   bench/dll_runs.sh TOP BUILD_ROOT SIZE BPS SIMULATOR KEEP_OUTPUT
set -euo pipefail
top=$1 root=$2 size=$3 bps=$4 simulator=$5 keep_output=$6
cd "$top"
line_rate=$((bps / 10))
dll=$top/$root/win64/tollan.dll
host=$top/tests/win32/interop/transfer_host.js
ninja -C "$top/$root/win64" tollan_dll >/dev/null

work=$(mktemp -d /tmp/tollan-dllbench.XXXXXX)
pids=()
cleanup() {
    local pid
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    wine_session_stop
    rm -rf "$work"
}
. scripts/lib/wine.sh
trap cleanup EXIT
wine_session_start
# The 64-bit DLL in 64-bit hosts: plain `wine` would start the 32-bit ones.
wine_host 64 regsvr32 /s "$(winepath -w "$dll" 2>/dev/null)" </dev/null >/dev/null 2>&1
wine reg add 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v '\Device\TollanBench' /d COM7 /f \
    </dev/null >/dev/null 2>&1
head -c "$size" /dev/urandom >"$work/random.bin"

ticks=$(getconf CLK_TCK)
server_seconds() {
    awk -v t="$ticks" '{ printf "%.3f", ($14 + $15) / t }' "/proc/$WINE_SERVER_PID/stat"
}

# line KIND: a fresh line (paced by the simulator, or a bare socat pair) behind COM7.
line() {
    rm -f "$work/lineA" "$work/lineB"
    if [ "$1" = paced ]; then
        "$simulator" --bps "$bps" --link-a "$work/lineA" --link-b "$work/lineB" >/dev/null &
    else
        socat pty,raw,echo=0,link="$work/lineA" pty,raw,echo=0,link="$work/lineB" \
            </dev/null >/dev/null 2>&1 &
    fi
    line_pid=$!
    pids+=("$line_pid")
    for _ in $(seq 200); do
        [ -e "$work/lineA" ] && [ -e "$work/lineB" ] && break
        sleep 0.05
    done
    ln -sfn "$work/lineA" "$WINEPREFIX/dosdevices/com7"
}

line_stop() {
    kill "$line_pid" 2>/dev/null || true
    wait "$line_pid" 2>/dev/null || true
}

# host KEY SETTINGS...: runs the host in the background; KEY.host its output, KEY.times the
# `times` of its subshell once it has ended, KEY.end the moment it ended.
host() {
    local key=$1
    shift
    (
        cd "$work/$key.in"
        wine_host 64 cscript //nologo "$(winepath -w "$host" 2>/dev/null)" Port=7 "BaudRate=$bps" "$@" \
            </dev/null >"$work/$key.host" 2>/dev/null || true
        echo "$EPOCHREALTIME" >"$work/$key.end"
        times >"$work/$key.times"
    ) &
    host_pid=$!
    pids+=("$host_pid")
}

cpu_seconds() {
    awk -F'[ms ]+' 'NR == 2 { printf "%.3f", $1 * 60 + $2 + $3 * 60 + $4 }' "$1"
}

per_mb() {
    awk -v c="$1" -v size="$size" 'BEGIN { printf "%.3f", c / (size / 1e6) }'
}

# host_ready KIND: waits until the host has COM7 open (a process other than the line's holds
# lineA's device) and, on the paced line, until its first bytes wait at the other end (a sender's
# ZRQINIT, a receiver's ZRINIT; the simulator holds both ends open, so looking there changes
# nothing). At most a minute.
host_ready() {
    python3 - "$work/lineA" "$work/lineB" "$line_pid" "$1" <<'EOF'
import fcntl, os, struct, sys, termios, time
line_a, line_b, line_pid, kind = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4]
device = os.path.realpath(line_a)
deadline = time.monotonic() + 60


def opened():
    for pid in filter(str.isdigit, os.listdir("/proc")):
        if pid in (line_pid, str(os.getpid())):
            continue
        try:
            fds = os.listdir(f"/proc/{pid}/fd")
        except OSError:
            continue
        for fd in fds:
            try:
                if os.readlink(f"/proc/{pid}/fd/{fd}") == device:
                    return True
            except OSError:
                pass
    return False


def spoken():
    fd = os.open(line_b, os.O_RDONLY | os.O_NOCTTY | os.O_NONBLOCK)
    try:
        return struct.unpack("i", fcntl.ioctl(fd, termios.FIONREAD, b"\0" * 4))[0] > 0
    finally:
        os.close(fd)


while not opened() or (kind == "paced" and not spoken()):
    if time.monotonic() > deadline:
        sys.exit("bench: the host never opened its line and spoke")
    time.sleep(0.01)
EOF
}

rows=()
# transfer KEY LINE DIRECTION: one run of the DLL against rz or sz.
transfer() {
    local key=$1 kind=$2 direction=$3 peer server_start start status
    mkdir -p "$work/$key.in" "$work/$key.peer"
    line "$kind"
    server_start=$(server_seconds)
    start=$EPOCHREALTIME
    if [ "$direction" = send ]; then
        host "$key" Protocol=1 Transfer=1 "FileList=$(winepath -w "$work/random.bin" 2>/dev/null)"
        host_ready "$kind" # rz starts once the host has its line
        start=$EPOCHREALTIME
        (cd "$work/$key.peer" && LD_PRELOAD=$keep_output exec rz -q <"$work/lineB" \
            >"$work/lineB" 2>/dev/null) &
    else
        host "$key" Protocol=1 Transfer=0
        host_ready "$kind" # the host listens
        start=$EPOCHREALTIME
        (cd "$work" && LD_PRELOAD=$keep_output exec sz -q random.bin <"$work/lineB" \
            >"$work/lineB" 2>/dev/null) &
    fi
    peer=$!
    pids+=("$peer")
    wait "$host_pid" || true
    wait "$peer" || true
    line_stop
    local copy=$work/$key.peer/random.bin
    [ "$direction" = send ] || copy=$work/$key.in/random.bin
    status=DIFFERS
    cmp -s "$work/random.bin" "$copy" && grep -q '^result=0 ' "$work/$key.host" && status=ok
    local wall cpu server
    wall=$(awk -v s="$start" -v e="$(cat "$work/$key.end")" 'BEGIN { printf "%.2f", e - s }')
    cpu=$(cpu_seconds "$work/$key.times")
    server=$(awk -v a="$server_start" -v b="$(server_seconds)" 'BEGIN { printf "%.3f", b - a }')
    local rate share
    rate=$(awk -v w="$wall" -v s="$size" 'BEGIN { printf "%.0f", s / w }')
    share=$(awk -v r="$rate" -v l="$line_rate" 'BEGIN { printf "%.2f", 100 * r / l }')
    [ "$status" = ok ] || echo "bench:   $key: the host printed: $(tr -d '\r' <"$work/$key.host")"
    echo "bench:   $key: $status; wall $wall s, $rate bytes/s ($share% of the line);" \
        "host CPU $cpu s ($(per_mb "$cpu") s/MB), wineserver $server s"
    rows+=("| $key | $wall | $rate | $share% | $cpu | $(per_mb "$cpu") | $server | $status |")
}

# DLL_RUNS picks runs (default: all four).
runs=" ${DLL_RUNS:-send receive unpaced wait} "
echo "bench: tollan.dll in a JScript host under Wine ($size random bytes)"
[[ $runs == *" send "* ]] && transfer "dll-send-rz-paced" paced send
[[ $runs == *" receive "* ]] && transfer "sz-dll-receive-paced" paced receive
[[ $runs == *" unpaced "* ]] && transfer "dll-send-rz-unpaced" socat send

# A wait: an XModem receive whose peer never answers, given up after 10 s.
if [[ $runs == *" wait "* ]]; then
    mkdir -p "$work/wait.in"
line socat
server_start=$(server_seconds)
start=$EPOCHREALTIME
host wait Protocol=0 Transfer=0 RecvTimeout=10 "FileList=$(winepath -w "$work/x" 2>/dev/null)"
wait "$host_pid" || true
line_stop
wall=$(awk -v s="$start" -v e="$(cat "$work/wait.end")" 'BEGIN { printf "%.2f", e - s }')
cpu=$(cpu_seconds "$work/wait.times")
server=$(awk -v a="$server_start" -v b="$(server_seconds)" 'BEGIN { printf "%.3f", b - a }')
echo "bench:   a silent peer: $(head -n 1 "$work/wait.host" | tr -d '\r'); wall $wall s;" \
    "host CPU $cpu s ($(awk -v c="$cpu" -v w="$wall" 'BEGIN { printf "%.2f", 100 * c / w }')%" \
    "of a core), wineserver $server s"
fi

echo
echo "| DLL run | wall s | bytes/s | of line | host CPU s | host s/MB | wineserver CPU s | copy |"
echo "|---|---:|---:|---:|---:|---:|---:|---|"
printf '%s\n' "${rows[@]}"
