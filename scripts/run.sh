#!/usr/bin/env bash
# The main job: the sample chassis (a route processor and two line cards) under the platform
# daemon, its programs under the daemon's process manager, configured with the command line, with
# a grandmaster on a line card 0/1 interface and a free-running slave on a line card 0/2 one:
# ptp4l in network namespaces where this machine allows it (root, 'ip netns', ptp4l), else the
# simulated grandmaster and slave over links that the daemon carries.
#
#   scripts/run.sh [--simulated] [--direct-slave] [--seconds N] [--phase-seconds N] [--build-dir DIR]
#                  [--snmp-agentx SOCKET]
#
#   --simulated        the simulated peers even where ptp4l could run
#   --direct-slave     with ptp4l, a second ptp4l slave straight on the grandmaster (a port of its
#                      own, over a veth of its own), to compare with the slave behind the chassis
#   --seconds N        stop by itself after N seconds (default: at Ctrl-C only)
#   --phase-seconds N  commit the second configuration (unicast UDP/IPv4) after N seconds (60)
#   --build-dir DIR    use the programs of an existing build tree instead of building
#   --snmp-agentx SOCKET  the route processor also runs ptp_mib_agentx, the MIB plug-ins' AgentX
#                      subagent of the SNMP agent whose master listens on SOCKET
#
# Ctrl-C (or SIGTERM) stops everything it started and removes its namespaces and veths.
# $PTP_RUN_DIR (default /tmp/ptp) holds the daemon's socket, the databases and the logs.
set -uo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
SIMULATED=0
DIRECT_SLAVE=0
SECONDS_TO_RUN=0
PHASE_SECONDS=60
BUILD=""
SNMP_AGENTX=""
while [ $# -gt 0 ]; do
    case "$1" in
    --simulated) SIMULATED=1 ;;
    --direct-slave) DIRECT_SLAVE=1 ;;
    --seconds) SECONDS_TO_RUN=${2:?--seconds needs a number}; shift ;;
    --phase-seconds) PHASE_SECONDS=${2:?--phase-seconds needs a number}; shift ;;
    --build-dir) BUILD=${2:?--build-dir needs a folder}; shift ;;
    --snmp-agentx) SNMP_AGENTX=${2:?--snmp-agentx needs a socket path}; shift ;;
    -h | --help) sed -n '2,21p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "run.sh: unknown argument '$1' (see --help)" >&2; exit 2 ;;
    esac
    shift
done

if [ -z "$BUILD" ]; then
    cmake --preset release >/dev/null || exit 1
    cmake --build --preset release -j "$(nproc)" >/dev/null || {
        echo "run.sh: the build failed (run 'cmake --build --preset release' to see why)" >&2
        exit 1
    }
    BUILD=$ROOT/build/release
fi
BUILD=$(cd "$BUILD" && pwd)

RUN=${PTP_RUN_DIR:-/tmp/ptp}
mkdir -p "$RUN" "$RUN/bin"
chmod 700 "$RUN" # the daemon serves only from a folder closed to others
RUN=$(cd "$RUN" && pwd)
# Every process of the run carries the run folder in its environment: the platform's run folder,
# and the mark by which the clean-up test finds what a run left.
export PTP_RUN_DIR=$RUN
export PTP_PLATFORM_SOCKET=$RUN/platform.sock
export PTP_CHASSIS=$RUN/chassis.toml
export PTP_BIN_DIR=$RUN/bin
export PTP_NODRA_DB=$RUN/nodra.db
export PTP_CHKPT_DB=$RUN/chkpt.db
export PTP_CLOCK_PREFIX=ptpclock.run$$.
# The agents' counters windows are the run's too (one per node), removed with its clocks.
export SHMWIN_PREFIX=shmwin.run$$.
# The agent binds to the database only when the client library is present; the daemon serves the
# database here, so the run names a file of its own for the check.
export PTP_NODRA_LIB=$RUN/libnodra.so
rm -f "$PTP_NODRA_DB"* "$PTP_CHKPT_DB"* "$RUN"/*.log "$RUN"/bin/* "$RUN"/views.step*
: >"$PTP_NODRA_LIB"

NODRACTL=$BUILD/platform/nodra/nodractl
PLATFORMD=$BUILD/platform/daemon/platformd
say() { printf '%s\n' "$*"; }
ctl() { "$NODRACTL" --socket "$PTP_PLATFORM_SOCKET" "$@"; }

# ---- What this run can be ----

MISSING=""
[ "$(id -u)" -eq 0 ] || MISSING="$MISSING root,"
ip netns list >/dev/null 2>&1 || MISSING="$MISSING 'ip netns' (iproute2),"
command -v ptp4l >/dev/null 2>&1 || MISSING="$MISSING ptp4l (linuxptp),"
MODE=ptp4l
if [ "$SIMULATED" -eq 1 ]; then
    MODE=simulated
    say "Peers: the simulated grandmaster and slave (asked for with --simulated)."
elif [ -n "$MISSING" ]; then
    MODE=simulated
    say "Peers: ptp4l needs${MISSING%,}; running against the simulated grandmaster and slave instead."
else
    say "Peers: ptp4l in network namespaces (grandmaster on line card 0/1, free-running slave on line card 0/2)."
fi
if [ "$DIRECT_SLAVE" -eq 1 ] && [ "$MODE" != ptp4l ]; then
    DIRECT_SLAVE=0
    say "The direct slave needs ptp4l; this run has none."
elif [ "$DIRECT_SLAVE" -eq 1 ]; then
    say "Direct slave: a ptp4l slave straight on the grandmaster's second port, beside the one behind the chassis."
fi

# The chassis' programs that this build has; the others are left out of the run's chassis.
BUILT=""
NOT_BUILT=""
for program in tessel quorrin sardo; do
    path=$(find "$BUILD/l2protocols" -type f -perm -u+x -name "$program" 2>/dev/null | head -n 1)
    if [ -n "$path" ]; then
        ln -sf "$path" "$RUN/bin/$program"
        BUILT="$BUILT $program"
    else
        NOT_BUILT="$NOT_BUILT $program"
    fi
done
[ -z "$NOT_BUILT" ] || say "Not built yet:$NOT_BUILT (the chassis runs without them; see the README's \"What it does not do\")."
# The MIB plug-ins' subagent on the route processor, when an SNMP agent's master is named.
AGENTX_PROCESS=""
if [ -n "$SNMP_AGENTX" ]; then
    agentx=$BUILD/platform/snmp/ptp_mib_agentx
    if [ -x "$agentx" ]; then
        ln -sf "$agentx" "$RUN/bin/ptp_mib_agentx"
        export PTP_AGENTX_SOCKET=$SNMP_AGENTX
        export PTP_MIB_DIR=$BUILD/l2protocols/ptp/mib
        AGENTX_PROCESS=$'\n[[process]]\nname = "ptp_mib_agentx"\nprogram = "ptp_mib_agentx"\nnodes = "rp"\n'
        say "SNMP: ptp_mib_agentx on the route processor, subagent of the master at $SNMP_AGENTX."
    else
        say "SNMP: ptp_mib_agentx is not built; the chassis runs without it."
    fi
fi

# ---- Clean-up: whatever happens, nothing is left behind ----

PIDS=()
HELPERS=() # the script's own background work (among PIDS), stopped with SIGTERM
NETNS=()
VETHS=()
STOPPING=0
cleanup() {
    [ "$STOPPING" -eq 0 ] || return
    STOPPING=1
    trap '' INT TERM
    local pid
    for pid in "${HELPERS[@]}"; do kill -TERM "$pid" 2>/dev/null; done
    for pid in "${PIDS[@]}"; do kill -INT "$pid" 2>/dev/null; done
    for _ in $(seq 50); do
        local alive=0
        for pid in "${PIDS[@]}"; do kill -0 "$pid" 2>/dev/null && alive=1; done
        [ "$alive" -eq 1 ] || break
        sleep 0.1
    done
    for pid in "${PIDS[@]}"; do kill -KILL "$pid" 2>/dev/null; done
    wait 2>/dev/null
    local ns veth
    for ns in "${NETNS[@]}"; do ip netns pids "$ns" 2>/dev/null | xargs -r kill -KILL 2>/dev/null; ip netns del "$ns" 2>/dev/null; done
    for veth in "${VETHS[@]}"; do ip link del "$veth" 2>/dev/null; done
    rm -f /dev/shm/"$PTP_CLOCK_PREFIX"* /dev/shm/"$SHMWIN_PREFIX"* "$PTP_NODRA_LIB"
    summary
    say "Stopped: no process, namespace or veth of this run is left."
}
on_signal() {
    cleanup
    exit 0
}
trap on_signal INT TERM
trap cleanup EXIT

# Starts a program in the background, its output prefixed and kept in $RUN/NAME.log. The filters
# ignore Ctrl-C so that the program's last words (its summary) still get through.
start() {
    local name=$1
    shift
    "$@" > >(trap '' INT TERM; exec stdbuf -oL tee -a "$RUN/$name.log" | stdbuf -oL sed "s/^/[$name] /") 2>&1 &
    PIDS+=($!)
}

# ---- The network namespaces (ptp4l) ----

SUFFIX=$(($$ % 100000))
NS_CHASSIS=ptprun$SUFFIX-chassis
NS_GM=ptprun$SUFFIX-gm
NS_SLAVE=ptprun$SUFFIX-slave
NS_DIRECT=ptprun$SUFFIX-direct
# Chassis side / peer side of each veth (at most 15 characters).
GM_A=prg${SUFFIX}a GM_B=prg${SUFFIX}b
SL_A=prs${SUFFIX}a SL_B=prs${SUFFIX}b
DS_A=prd${SUFFIX}a DS_B=prd${SUFFIX}b # the grandmaster's second port / the direct slave's

setup_netns() {
    NETNS+=("$NS_CHASSIS" "$NS_GM" "$NS_SLAVE")
    VETHS+=("$GM_A" "$SL_A")
    ip netns add "$NS_CHASSIS" && ip netns add "$NS_GM" && ip netns add "$NS_SLAVE" &&
        ip link add "$GM_A" type veth peer name "$GM_B" &&
        ip link add "$SL_A" type veth peer name "$SL_B" &&
        ip link set "$GM_A" netns "$NS_CHASSIS" && ip link set "$SL_A" netns "$NS_CHASSIS" &&
        ip link set "$GM_B" netns "$NS_GM" && ip link set "$SL_B" netns "$NS_SLAVE" &&
        ip -n "$NS_CHASSIS" addr add 10.1.9.1/24 dev "$GM_A" &&
        ip -n "$NS_CHASSIS" addr add 10.2.9.1/24 dev "$SL_A" &&
        ip -n "$NS_GM" addr add 10.1.9.2/24 dev "$GM_B" &&
        ip -n "$NS_SLAVE" addr add 10.2.9.2/24 dev "$SL_B" &&
        for ns in "$NS_CHASSIS" "$NS_GM" "$NS_SLAVE"; do ip -n "$ns" link set lo up || exit 1; done &&
        ip -n "$NS_CHASSIS" link set "$GM_A" up && ip -n "$NS_CHASSIS" link set "$SL_A" up &&
        ip -n "$NS_GM" link set "$GM_B" up && ip -n "$NS_SLAVE" link set "$SL_B" up &&
        { [ "$DIRECT_SLAVE" -eq 0 ] || setup_direct; }
}

# The direct slave's namespace and its veth to the grandmaster's namespace.
setup_direct() {
    NETNS+=("$NS_DIRECT")
    VETHS+=("$DS_A")
    ip netns add "$NS_DIRECT" &&
        ip link add "$DS_A" type veth peer name "$DS_B" &&
        ip link set "$DS_A" netns "$NS_GM" && ip link set "$DS_B" netns "$NS_DIRECT" &&
        ip -n "$NS_GM" addr add 10.3.9.1/24 dev "$DS_A" &&
        ip -n "$NS_DIRECT" addr add 10.3.9.2/24 dev "$DS_B" &&
        ip -n "$NS_DIRECT" link set lo up &&
        ip -n "$NS_GM" link set "$DS_A" up && ip -n "$NS_DIRECT" link set "$DS_B" up
}

# ptp4l's configurations: the grandmaster (clock class 6, priority1 100) and the slave, which must
# never adjust the host's clock but report its offset: its servo only hands the offsets to a
# shared-memory segment for another program (which no one reads; the slave runs in an IPC
# namespace of its own, so the segment goes with it) and never steps. $1: l2 or ipv4 (unicast).
ptp4l_conf() {
    local transport=$1 domain=24 # the G.8275.1 default domain; G.8275.2's is 44
    [ "$transport" = l2 ] || domain=44
    {
        echo "[global]"
        echo "priority1 100"
        echo "clockClass 6"
        echo "domainNumber $domain"
        echo "masterOnly 1"
        echo "logAnnounceInterval -3"
        echo "logSyncInterval -4"
        echo "uds_address $RUN/ptp4l-gm.sock"
        [ "$transport" = l2 ] || echo "unicast_listen 1"
        # The direct slave asks for delays as often as the chassis' master lets its slave (16 a
        # second), so that the two slaves' figures compare like with like.
        [ "$DIRECT_SLAVE" -eq 0 ] || printf '[%s]\nlogMinDelayReqInterval -4\n' "$DS_A"
    } >"$RUN/ptp4l-gm.conf"
    ptp4l_slave_conf "$transport" "$domain" slave 10.2.9.1 "$SL_B"
    [ "$DIRECT_SLAVE" -eq 0 ] || ptp4l_slave_conf "$transport" "$domain" direct 10.3.9.1 "$DS_B"
}
# A slave's: $1 transport, $2 domain, $3 its name, $4 its unicast master's address, $5 its device.
ptp4l_slave_conf() {
    {
        echo "[global]"
        echo "slaveOnly 1"
        echo "clock_servo ntpshm"
        echo "step_threshold 0.0"
        echo "first_step_threshold 0.0"
        echo "domainNumber $2"
        echo "summary_interval 0"
        echo "uds_address $RUN/ptp4l-$3.sock"
        if [ "$1" != l2 ]; then
            echo "[unicast_master_table]"
            echo "table_id 1"
            echo "logQueryInterval 2"
            echo "UDPv4 $4"
            echo "[$5]"
            echo "unicast_master_table 1"
        fi
    } >"$RUN/ptp4l-$3.conf"
}

# The grandmaster stands for one locked to a primary reference: its time and frequency are
# traceable, which is what makes the chassis' platform clock follow PTP. Its time is the host's
# system clock, UTC, so it announces an arbitrary timescale rather than PTP's (a free-running
# ptp4l slave on the system clock would take PTP time for TAI and be 37 s off). ptp4l takes these
# from its management interface only, and only once it is grandmaster (its own settings replace
# an earlier one), so they are sent until its time properties show them. In the background.
gm_traceable() {
    trap 'exit 0' TERM # after the command at hand: nothing of it is left behind
    local domain=$1 i
    for i in $(seq 100); do
        pmc -u -b 0 -d "$domain" -s "$RUN/ptp4l-gm.sock" -i "$RUN/pmc.sock" "GET TIME_PROPERTIES_DATA_SET" 2>/dev/null |
            grep -q "timeTraceable *1" && return 0
        pmc -u -b 0 -d "$domain" -s "$RUN/ptp4l-gm.sock" -i "$RUN/pmc.sock" \
            "SET GRANDMASTER_SETTINGS_NP clockClass 6 clockAccuracy 0x21 offsetScaledLogVariance 0x4e5d currentUtcOffset 37 leap61 0 leap59 0 currentUtcOffsetValid 0 ptpTimescale 0 timeTraceable 1 frequencyTraceable 1 timeSource 0x20" >/dev/null 2>&1
        sleep 0.2
    done
    say "run.sh: could not mark the ptp4l grandmaster's time as traceable; the chassis will not follow it"
}

start_ptp4l() {
    local flag=-2 domain=24
    [ "$1" = l2 ] || { flag=-4; domain=44; }
    ptp4l_conf "$1"
    local ports=(-i "$GM_B")
    [ "$DIRECT_SLAVE" -eq 0 ] || ports+=(-i "$DS_A")
    start gm ip netns exec "$NS_GM" ptp4l "${ports[@]}" -S "$flag" -m -q -f "$RUN/ptp4l-gm.conf"
    GM_PID=${PIDS[-1]}
    gm_traceable "$domain" &
    PIDS+=($!)
    HELPERS+=($!)
    start slave ip netns exec "$NS_SLAVE" unshare --ipc ptp4l -i "$SL_B" -S "$flag" -m -q -f "$RUN/ptp4l-slave.conf"
    SLAVE_PID=${PIDS[-1]}
    if [ "$DIRECT_SLAVE" -eq 1 ]; then
        start direct ip netns exec "$NS_DIRECT" unshare --ipc ptp4l -i "$DS_B" -S "$flag" -m -q -f "$RUN/ptp4l-direct.conf"
        DIRECT_PID=${PIDS[-1]}
    fi
}

DIRECT_PID=""

# The simulated peers of a step: over Ethernet multicast in domain 24, or over UDP/IPv4 unicast in
# domain 44 from the addresses ptp4l has (the slave asks line card 0/2's Gi0/2/0/1 for grants).
start_sim() {
    if [ "$1" = l2 ]; then
        start gm "$BUILD/tests/simpeer/sim_grandmaster" --peer grandmaster --domain 24 --priority1 100 --offset-ns 2500000
        GM_PID=${PIDS[-1]}
        start slave "$BUILD/tests/simpeer/sim_slave" --peer slave --domain 24 --offset-ns -40000000
    else
        start gm "$BUILD/tests/simpeer/sim_grandmaster" --peer grandmaster --domain 44 --priority1 100 --offset-ns 2500000 \
            --ipv4 10.1.9.2
        GM_PID=${PIDS[-1]}
        start slave "$BUILD/tests/simpeer/sim_slave" --peer slave --domain 44 --offset-ns -40000000 \
            --ipv4 10.2.9.2 --master 10.2.9.1
    fi
    SLAVE_PID=${PIDS[-1]}
}

# Ends the peers of a step (their last words, the simulated slave's summary, go to their logs).
stop_peers() {
    local pid
    for pid in "${HELPERS[@]}"; do kill -TERM "$pid" 2>/dev/null; done
    kill -INT "$GM_PID" "$SLAVE_PID" $DIRECT_PID 2>/dev/null
    wait "$GM_PID" "$SLAVE_PID" $DIRECT_PID 2>/dev/null
}

# ---- The chassis description of the run ----

# The sample, its programs cut to those built, and in ptp4l mode the peers' interfaces on veths.
write_chassis() {
    awk -v built="$BUILT" -v mode="$MODE" -v ns="$NS_CHASSIS" -v gm="$GM_A" -v sl="$SL_A" '
        BEGIN { n = split(built, b, " "); for (i = 1; i <= n; i++) keep["\"" b[i] "\""] = 1 }
        function flush() { if (block != "" && take) printf "%s", block; block = ""; take = 0 }
        /^# The programs/ { programs = 1 }
        mode == "ptp4l" && $0 == "peer = \"grandmaster\"" { print "device = \"" gm "\""; print "netns = \"" ns "\""; next }
        mode == "ptp4l" && $0 == "peer = \"slave\"" { print "device = \"" sl "\""; print "netns = \"" ns "\""; next }
        !programs { print; next }
        /^\[\[process\]\]/ { flush() }
        /^program = / { take = ($3 in keep) }
        block != "" || /^\[\[process\]\]/ { block = block $0 "\n"; next }
        { print }
        END { flush() }
    ' "$ROOT/platform/chassis/sample/chassis.toml" >"$PTP_CHASSIS"
    [ -z "$AGENTX_PROCESS" ] || printf '%s' "$AGENTX_PROCESS" >>"$PTP_CHASSIS"
}

# ---- Summary ----

START=$(date +%s)
PHASE=0 # the configuration steps committed so far
percentiles() { # values on standard input: "p50 X ns, p90 Y ns, p99 Z ns (N samples)" of |value|
    sed 's/^-//' | sort -n | awk '{ a[++n] = $1 }
        END {
            if (n == 0) { print "no samples"; exit }
            split("50 90 99", p, " ")
            for (i = 1; i <= 3; i++) { r = int(p[i] / 100 * n + 0.999999); if (r < 1) r = 1; printf "p%s %.0f ns, ", p[i], a[r] }
            printf "(%d samples)\n", n
        }'
}
settled() { # values on standard input, one a line: those after the last one of 1 ms or more
    sed 's/^-//' | awk '{ a[++n] = $1; if ($1 >= 1000000) last = n } END { for (i = last + 1; i <= n; i++) print a[i] }'
}
# ptp4l's offsets in one step (1 or 2) from its log ($2, with $3 lines of the first step):
# once a second "rms N max ..." (a summary), or "master offset N ..." per exchange.
ptp4l_offsets() {
    local lines
    if [ "$1" -eq 1 ]; then lines="1,${3:-\$}p"; else lines="$(($3 + 1)),\$p"; fi
    sed -n "$lines" "$2" 2>/dev/null | sed -n -e 's/.*: rms *\([0-9][0-9]*\) max.*/\1/p' \
        -e 's/.*: master offset *\(-\{0,1\}[0-9][0-9]*\) .*/\1/p' | sed '/^$/d'
}
# The slave's offsets from the chassis in one step (1 or 2): ptp4l's lines of that step's ptp4l,
# or that step's simulated slave's own summary; and the direct slave's from the grandmaster.
slave_summary() {
    if [ "$MODE" = ptp4l ]; then
        local settled_rule="once settled (after its last of 1 ms or more)"
        say "    slave against the chassis, ptp4l's offset (rms per second, or per exchange) $settled_rule: $(ptp4l_offsets "$1" "$RUN/slave.log" "${SLAVE_LINES_STEP1:-}" | settled | percentiles)"
        [ "$DIRECT_SLAVE" -eq 0 ] ||
            say "    direct slave against the grandmaster, the same $settled_rule: $(ptp4l_offsets "$1" "$RUN/direct.log" "${DIRECT_LINES_STEP1:-}" | settled | percentiles)"
    else
        local line
        line=$(grep -h 'slave: summary' "$RUN/slave.log" 2>/dev/null | sed -n "${1}p")
        say "    slave against the chassis: ${line:-no summary from the simulated slave}"
    fi
}

# The chassis as an operator sees it once a step has locked: the show tools' interface brief,
# grandmaster and data sets, each as the tool prints it, taken then (the chassis is gone by the
# summary). As on line card 0/1, whose interface manager names the grandmaster's interface
# (Gi0/1/0/1 is its).
VIEWS=("ptp_show_interfaces -b -a" "ptp_show_grandmaster" "ptp_show_datasets")
take_views() {
    local command out=$RUN/views.step$1
    : >"$out.part"
    for command in "${VIEWS[@]}"; do
        printf '$ %s\n' "$command" >>"$out.part"
        PTP_NODE=0x10 "$BUILD/l2protocols/ptp/mgmt/"$command >>"$out.part" 2>&1 # the command's words
    done
    mv "$out.part" "$out"
}
# Whether the watch saw the servo lock since step $1 began.
# The chassis is locked in step n once its servo aligned in that step and no port is still on its
# way to a state (a master-only port may leave Listen after the servo has locked).
locked_in_step() {
    awk -v n="$1" '/^step [0-9]+: / { s = ($2 == n ":") } s && /^servo: .* -> PhaseAligned$/ { found = 1 }
        /^port [^ ]+: / { state[$2] = $NF }
        END {
            for (p in state)
                if (state[p] == "Initializing" || state[p] == "Listen" || state[p] == "Uncalibrated") exit 1
            exit !found
        }' "$RUN/watch.log" 2>/dev/null
}
views_summary() {
    if [ -s "$RUN/views.step$1" ]; then
        say "    the chassis once locked, as its show tools printed it:"
        sed 's/^./      &/' "$RUN/views.step$1"
    else
        say "    views of the show tools: none taken (the step ended before the run saw the chassis lock)"
    fi
}
summary() {
    say "Summary after $(($(date +%s) - START)) s ($MODE peers):"
    if [ ! -s "$RUN/watch.summary" ]; then
        say "  the chassis clock: not measured (the watch of the chassis did not report)"
    else
        local step
        for step in $(seq "$PHASE"); do
            awk -v n="$step" '/^step / { s = ($2 == n ":") } s' "$RUN/watch.summary" | sed 's/^/  /'
            slave_summary "$step"
            views_summary "$step"
        done
    fi
    say "  traces: each node's trace buffers are under $RUN/jotlog/<node>/ (the node's / as _); to read a node's, merged by time:"
    say "    PTP_RUN_DIR=$RUN PTP_NODE=0/1/CPU0 $BUILD/l2protocols/ptp/mgmt/ptp_show_jotlog [-A packets only | -B all but packets] [-i ids]"
}

# Each step's commit, for the watch: the wall-clock time in nanoseconds and what it is.
mark_step() {
    printf '%s %s\n' "$(date +%s%N)" "$1" >>"$RUN/steps"
}

# ---- The run ----

if [ "$MODE" = ptp4l ]; then
    setup_netns || {
        say "run.sh: could not set up the network namespaces"
        exit 1
    }
fi
write_chassis

start platformd "$PLATFORMD" --socket "$PTP_PLATFORM_SOCKET"
PLATFORMD_PID=${PIDS[-1]}
for _ in $(seq 100); do
    ctl show nodes >/dev/null 2>&1 && break
    sleep 0.1
done
ctl show nodes >/dev/null 2>&1 || {
    say "run.sh: the platform daemon did not come up; see $RUN/platformd.log"
    exit 1
}
ctl show nodes | sed 's/^/[chassis] /'
# The active route processor runs the controller, whose items say the grandmaster and the servo.
CONTROLLER=$(ctl show nodes | awk '$3 == "rp" && $4 == "active" { sub(/^0x/, "", $2); print $2; exit }')
rm -f "$RUN/watch.summary" "$RUN/steps"
: >"$RUN/steps"
start watch "$BUILD/tests/watch/chassis_watch" --controller-node "${CONTROLLER:-100}" --summary "$RUN/watch.summary" \
    --steps "$RUN/steps" --interface Gi0/1/0/1 --interface Gi0/2/0/1

if [ "$MODE" = ptp4l ]; then
    start_ptp4l l2
else
    start_sim l2
fi

# A process is past "starting" once it has registered with the database: a commit before that is
# refused as items nobody knows, or verified by fewer processes than take it.
for _ in $(seq 300); do
    ctl show processes 2>/dev/null | awk 'NR > 1 && $4 == "starting" { n++ } END { exit n > 0 }' && break
    sleep 0.1
done

PHASE=1
say "Configuration 1: G.8275.1-style profile over Ethernet multicast (scripts/sample-config/l2-g8275.1.txt)"
mark_step "G.8275.1-style profile over Ethernet multicast"
ctl -f "$ROOT/scripts/sample-config/l2-g8275.1.txt" 2>&1 | sed 's/^/[config] /'

say "Running. From another terminal: $NODRACTL --socket $PTP_PLATFORM_SOCKET show processes (or show config, get ...). Ctrl-C stops."

LAST_PROCESSES=""
while :; do
    # The chassis' processes die with their daemon (and its databases keep every acknowledged
    # commit): a run without it has nothing left to watch, so it says so and stops.
    if ! kill -0 "$PLATFORMD_PID" 2>/dev/null; then
        { wait "$PLATFORMD_PID"; } 2>/dev/null # without the shell's own line about the job
        status=$?
        how="exit status $status"
        [ "$status" -le 128 ] || how="signal $(kill -l $((status - 128)))"
        say "run.sh: the platform daemon died ($how), and the chassis' processes with it: stopping the run"
        exit 1
    fi
    processes=$(ctl show processes 2>/dev/null)
    if [ "$processes" != "$LAST_PROCESSES" ]; then
        printf '%s\n' "$processes" | sed 's/^/[chassis] /'
        LAST_PROCESSES=$processes
    fi
    if [ ! -e "$RUN/views.step$PHASE" ] && locked_in_step "$PHASE"; then
        take_views "$PHASE"
        say "Locked (step $PHASE): the summary will show the interface brief, the grandmaster and the data sets as the show tools print them now."
    fi
    elapsed=$(($(date +%s) - START))
    if [ "$PHASE" -eq 1 ] && [ "$elapsed" -ge "$PHASE_SECONDS" ]; then
        PHASE=2
        say "Configuration 2: G.8275.2-style profile over unicast UDP/IPv4 (scripts/sample-config/ipv4-g8275.2.txt)"
        mark_step "G.8275.2-style profile over unicast UDP/IPv4"
        ctl -f "$ROOT/scripts/sample-config/ipv4-g8275.2.txt" 2>&1 | sed 's/^/[config] /'
        # The peers start again in unicast mode; what the first step's slave said ends here.
        stop_peers
        SLAVE_LINES_STEP1=$(wc -l <"$RUN/slave.log" 2>/dev/null || echo 0)
        DIRECT_LINES_STEP1=$(wc -l <"$RUN/direct.log" 2>/dev/null || echo 0)
        if [ "$MODE" = ptp4l ]; then
            start_ptp4l ipv4
        else
            start_sim ipv4
        fi
    fi
    if [ "$SECONDS_TO_RUN" -gt 0 ] && [ "$elapsed" -ge "$SECONDS_TO_RUN" ]; then
        break
    fi
    # The shell's own line about a job that died meanwhile (the daemon) is left out: the loop says it.
    { sleep 1; } 2>/dev/null
done
exit 0
