#!/usr/bin/env bash
# The chassis' added error in time transfer, measured on the main job: a ptp4l grandmaster, the
# chassis following it on line card 0/1 and serving a ptp4l slave on line card 0/2, and in the
# same run a second ptp4l slave straight on the grandmaster over the same kind of veth
# (scripts/run.sh --direct-slave; the first configuration only: Ethernet multicast, Sync 16/s,
# software timestamps). Each slave's offset is ptp4l's once-a-second rms; the figures are its
# percentiles from the warm-up on, per run and over all runs, and the chassis' slave's against
# the direct one's. Beside them, what chassis_clock_probe reads of the chassis' node clocks ten
# times a second against the host's wall clock (the grandmaster's time): how far line card
# 0/1's clock wanders about its mean, and how far line card 0/2's is from 0/1's. As root, with ip
# netns and ptp4l.
#
#   bench/time_transfer/time_transfer_bench.sh [--runs N] [--seconds S] [--warm-up S] [--build-dir DIR]
#
#   --runs N       runs of the main job, one after the other (3)
#   --seconds S    length of each run (60)
#   --warm-up S    seconds of each run left out: the chassis' lock and the slaves' settling (15)
#   --build-dir DIR  the programs of that tree (default: build/release of this checkout)
set -uo pipefail

ROOT=$(cd "$(dirname "$0")/../.." && pwd)
RUNS=3
SECONDS_PER_RUN=60
WARM_UP=15
BUILD=$ROOT/build/release
while [ $# -gt 0 ]; do
    case "$1" in
    --runs) RUNS=${2:?--runs needs a number}; shift ;;
    --seconds) SECONDS_PER_RUN=${2:?--seconds needs a number}; shift ;;
    --warm-up) WARM_UP=${2:?--warm-up needs a number}; shift ;;
    --build-dir) BUILD=${2:?--build-dir needs a folder}; shift ;;
    -h | --help) sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "time_transfer_bench: unknown argument '$1' (see --help)" >&2; exit 2 ;;
    esac
    shift
done
if [ "$(id -u)" -ne 0 ] || ! command -v ptp4l >/dev/null 2>&1 || ! ip netns list >/dev/null 2>&1; then
    echo "time_transfer_bench: needs root, ip netns and ptp4l" >&2
    exit 1
fi
PROBE=$BUILD/bench/time_transfer/chassis_clock_probe
[ -x "$BUILD/platform/daemon/platformd" ] && [ -x "$PROBE" ] || {
    echo "time_transfer_bench: no built tree at $BUILD (build it, or give --build-dir)" >&2
    exit 1
}

WORK=$(mktemp -d /tmp/time_transfer_bench.XXXXXX)
trap 'rm -rf "$WORK"' EXIT

# The once-a-second rms values of a ptp4l log after the warm-up, one a line.
rms_after_warm_up() {
    sed -n 's/.*: rms *\([0-9][0-9]*\) max.*/\1/p' "$1" | tail -n +"$((WARM_UP + 1))"
}
# "p50 p90 p99 n" of the values on standard input (nearest rank).
percentiles() {
    sort -n | awk '{ a[++n] = $1 }
        END {
            if (n == 0) { print "- - - 0"; exit }
            split("50 90 99", p, " ")
            for (i = 1; i <= 3; i++) { r = int(p[i] / 100 * n + 0.999999); if (r < 1) r = 1; printf "%d ", a[r] }
            printf "%d\n", n
        }'
}
# The probe's readings after the warm-up (monotonic seconds, then 0/1's and 0/2's offsets): line
# card 0/1's distance from its mean, and 0/2's from 0/1, each |ns| one a line, into $2 and $3.
probe_figures() {
    awk -v warm="$WARM_UP" 'NR == 1 { t0 = $1 } $1 - t0 >= warm && $2 != "-" && $3 != "-" { print }' "$1" >"$1.kept"
    awk '{ v[++n] = $2; s += $2 } END { m = n ? s / n : 0; for (i = 1; i <= n; i++) { d = v[i] - m; print d < 0 ? -d : d } }' \
        "$1.kept" >"$2"
    awk '{ d = $3 - $2; print d < 0 ? -d : d }' "$1.kept" >"$3"
}
row() { # label, chassis "p50 p90 p99 n", direct "p50 p90 p99 n", wander "p50 p90 p99 n", 0/2 from 0/1, load
    read -r c50 c90 c99 cn <<<"$2"
    read -r d50 d90 d99 dn <<<"$3"
    read -r w50 _ w99 _ <<<"$4"
    read -r _ _ l99 _ <<<"$5"
    awk -v l="$1" -v c50="$c50" -v c90="$c90" -v c99="$c99" -v d50="$d50" -v d90="$d90" -v d99="$d99" \
        -v n="$cn/$dn" -v w="$w50 / $w99" -v lc="$l99" -v load="$6" 'BEGIN {
            r50 = d50 > 0 ? sprintf("%.2f", c50 / d50) : "-"; r99 = d99 > 0 ? sprintf("%.2f", c99 / d99) : "-"
            printf "| %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |\n", l, c50, c90, c99, d50, d90, d99, r50, r99, n, w, lc, load
        }'
}

echo "time_transfer_bench: $RUNS runs of ${SECONDS_PER_RUN} s, the first ${WARM_UP} s of each left out; $(nproc) CPUs"
TABLE="| run | chassis' slave p50 ns | p90 | p99 | direct slave p50 ns | p90 | p99 | p50 ratio | p99 ratio | seconds | 0/1 clock about its mean p50 / p99 ns | 0/2 from 0/1 p99 ns | /proc/loadavg before, after |
|---|---|---|---|---|---|---|---|---|---|---|---|---|"
: >"$WORK/chassis.all"
: >"$WORK/direct.all"
: >"$WORK/wander.all"
: >"$WORK/lc.all"
for run in $(seq "$RUNS"); do
    before=$(cut -d' ' -f1-3 /proc/loadavg)
    dir=$WORK/run$run
    PTP_RUN_DIR=$dir "$ROOT/scripts/run.sh" --build-dir "$BUILD" --direct-slave --seconds "$SECONDS_PER_RUN" \
        --phase-seconds $((SECONDS_PER_RUN + 3600)) >"$WORK/run$run.out" 2>&1 &
    script=$!
    # The run's clocks are named after its shell's process; the probe starts once they are there.
    for _ in $(seq 100); do
        [ -e "/dev/shm/ptpclock.run$script.0_2_CPU0" ] && break
        sleep 0.1
    done
    PTP_CLOCK_PREFIX=ptpclock.run$script. "$PROBE" --seconds $((SECONDS_PER_RUN - 2)) 0/1/CPU0 0/2/CPU0 \
        >"$WORK/probe.$run" 2>/dev/null
    wait "$script"
    after=$(cut -d' ' -f1-3 /proc/loadavg)
    probe_figures "$WORK/probe.$run" "$WORK/wander.$run" "$WORK/lc.$run"
    cat "$WORK/wander.$run" >>"$WORK/wander.all"
    cat "$WORK/lc.$run" >>"$WORK/lc.all"
    rms_after_warm_up "$dir/slave.log" >"$WORK/chassis.$run"
    rms_after_warm_up "$dir/direct.log" >"$WORK/direct.$run"
    cat "$WORK/chassis.$run" >>"$WORK/chassis.all"
    cat "$WORK/direct.$run" >>"$WORK/direct.all"
    line=$(row "$run" "$(percentiles <"$WORK/chassis.$run")" "$(percentiles <"$WORK/direct.$run")" \
        "$(percentiles <"$WORK/wander.$run")" "$(percentiles <"$WORK/lc.$run")" "$before; $after")
    echo "$line"
    TABLE="$TABLE
$line"
done
TABLE="$TABLE
$(row all "$(percentiles <"$WORK/chassis.all")" "$(percentiles <"$WORK/direct.all")" \
    "$(percentiles <"$WORK/wander.all")" "$(percentiles <"$WORK/lc.all")" "")"
echo
echo "$TABLE"
