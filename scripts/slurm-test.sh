#!/usr/bin/env bash
# Runs scripts/batch-slurm.sh on a real one-node Slurm cluster and checks the
# merged outputs against one combosim-batch process.
#
#   scripts/slurm-test.sh [BUILD_DIR]          (as root; BUILD_DIR: build)
#
# Needs Slurm and munge (Debian's slurm-wlm and munge, which `make deps`
# installs); installs nothing itself. In a temporary folder it starts munged
# (as the munge user, with a key of its own), slurmctld and slurmd (as root)
# for this machine's host name, cores and memory, waits until the node is
# idle, submits a 4-task array and its merge job as README.md shows, waits for
# both (SLURM_TEST_TIMEOUT seconds, default 120) and compares the merged
# NAME.txt, NAME.json and summary.csv with `combosim-batch --seed S --shards
# 4`. Whatever happens, it stops the daemons it started, by the process ids
# their pid files gave, and removes the folder. The daemons listen on Slurm's
# usual ports 6817 and 6818: no other Slurm may run on the machine.
#
# Exit status: 0 passed, 1 failed, 2 usage or no program to test, 77 skipped
# loudly where Slurm cannot run (not root, so nothing can be installed or
# started; Slurm or munge missing).
set -euo pipefail

usage="usage: $0 [BUILD_DIR]   (as root)"
if [ $# -gt 1 ] || [ "${1:-}" = -h ] || [ "${1:-}" = --help ]; then
  echo "$usage" >&2
  exit 2
fi
repo=$(cd "$(dirname "$0")/.." && pwd)
batch=$(cd "${1:-$repo/build}" 2>/dev/null && pwd)/combosim-batch || true
if [ ! -x "$batch" ]; then
  echo "slurm-test: no combosim-batch in ${1:-$repo/build}; run make build" >&2
  exit 2
fi
if [ "$(id -u)" != 0 ]; then
  echo "slurm-test: SKIPPED: must run as root (slurmd and munged are started here)" >&2
  exit 77
fi
for program in munged mungekey runuser slurmctld slurmd sbatch squeue sinfo scancel; do
  if ! command -v "$program" >/dev/null; then
    echo "slurm-test: SKIPPED: $program is missing; run make deps (slurm-wlm, munge) as root" >&2
    exit 77
  fi
done
timeout=${SLURM_TEST_TIMEOUT:-120}
seed=2024
shards=4
scenarios=("$repo/tests/fixtures/golden_3x3.txt" "$repo/examples/none_acceptable.txt")

tmp=$(mktemp -d "${TMPDIR:-/tmp}/combosim-slurm.XXXXXX")
started=() # process ids of the daemons started here, in order
jobids=()  # the jobs submitted here

fail() {
  echo "slurm-test: $*" >&2
  exit 1
}

# True while process $1 runs (a zombie does not count).
alive() {
  local stat
  stat=$(cat "/proc/$1/stat" 2>/dev/null) && [[ ${stat##*) } != Z* ]]
}

# Runs a daemon that goes into the background and writes PIDFILE, then
# records the process id from PIDFILE once the process named NAME runs.
startdaemon() {
  local name=$1 pidfile=$2 pid="" i
  shift 2
  "$@" || fail "$name did not start"
  for ((i = 0; i < 100; i++)); do
    if [ -s "$pidfile" ]; then
      pid=$(<"$pidfile")
      if [[ $pid =~ ^[0-9]+$ ]] && alive "$pid" &&
        [ "$(cat "/proc/$pid/comm")" = "$name" ]; then
        started+=("$pid")
        return 0
      fi
    fi
    sleep 0.1
  done
  fail "$name is not running (no valid pid file $pidfile after 10 s)"
}

# Stops the daemons started here, last first: SIGTERM, then SIGKILL after
# 10 seconds.
stopdaemons() {
  local i pid tries
  for ((i = ${#started[@]} - 1; i >= 0; i--)); do
    pid=${started[i]}
    kill "$pid" 2>/dev/null || continue
    for ((tries = 0; tries < 100; tries++)); do
      alive "$pid" || break
      sleep 0.1
    done
    if alive "$pid"; then
      echo "slurm-test: process $pid did not stop; killing it" >&2
      kill -KILL "$pid" 2>/dev/null || true
    fi
  done
}

cleanup() {
  local status=$? log tries
  set +e
  trap - EXIT INT TERM HUP
  # Jobs still queued or running end before the daemons do.
  if [ ${#jobids[@]} -gt 0 ] && [ ${#started[@]} -eq 3 ]; then
    scancel "${jobids[@]}" 2>/dev/null
    for ((tries = 0; tries < 50; tries++)); do
      [ -z "$(IFS=,; squeue -h -j "${jobids[*]}" -t PD,R,CG,CF 2>/dev/null)" ] && break
      sleep 0.2
    done
  fi
  if [ "$status" -ne 0 ]; then
    for log in "$tmp"/log/* "$tmp"/munge/munged.log "$tmp"/submit/*.log; do
      [ -f "$log" ] || continue
      echo "---- last lines of ${log#"$tmp"/}" >&2
      tail -n 20 "$log" >&2
    done
  fi
  stopdaemons
  rm -rf "$tmp"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

# munged checks that every folder above its socket can be searched by all and
# that its own folder belongs to it.
chmod 755 "$tmp"
mkdir -p "$tmp/munge" "$tmp/state" "$tmp/spool" "$tmp/log" "$tmp/submit"
chown munge:munge "$tmp/munge"
runuser -u munge -- mungekey --create --keyfile="$tmp/munge/munge.key" ||
  fail "cannot create a munge key"
startdaemon munged "$tmp/munge/munged.pid" \
  runuser -u munge -- munged --socket="$tmp/munge/socket" \
  --key-file="$tmp/munge/munge.key" --pid-file="$tmp/munge/munged.pid" \
  --log-file="$tmp/munge/munged.log" --seed-file="$tmp/munge/munged.seed"

# The node as slurmd sees it: host name, processors, memory.
node=$(slurmd -C) || fail "slurmd -C failed"
node=${node%%$'\n'*}
[[ $node == NodeName=* ]] || fail "unexpected slurmd -C output: $node"
host=${node#NodeName=}
host=${host%% *}
cat >"$tmp/slurm.conf" <<EOF
ClusterName=combosimtest
SlurmctldHost=$host
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$tmp/munge/socket
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
AccountingStorageType=accounting_storage/none
JobAcctGatherType=jobacct_gather/none
JobCompType=jobcomp/none
MailProg=/bin/true
StateSaveLocation=$tmp/state
SlurmdSpoolDir=$tmp/spool
SlurmctldPidFile=$tmp/slurmctld.pid
SlurmdPidFile=$tmp/slurmd.pid
SlurmctldLogFile=$tmp/log/slurmctld.log
SlurmdLogFile=$tmp/log/slurmd.log
$node State=UNKNOWN
PartitionName=test Nodes=ALL Default=YES MaxTime=INFINITE State=UP
EOF
export SLURM_CONF=$tmp/slurm.conf
startdaemon slurmctld "$tmp/slurmctld.pid" slurmctld -f "$SLURM_CONF"
startdaemon slurmd "$tmp/slurmd.pid" slurmd -f "$SLURM_CONF"

state=""
for ((second = 0; second < 30; second++)); do
  state=$(sinfo -h -N -n "$host" -o %T 2>/dev/null) || true
  [ "$state" = idle ] && break
  sleep 1
done
[ "$state" = idle ] || fail "node $host not idle after 30 s (state: ${state:-none})"
echo "slurm-test: node $host idle after $second s ($node)"

"$batch" --seed "$seed" --shards "$shards" --out "$tmp/one" "${scenarios[@]}" >/dev/null ||
  fail "the one-process run failed"

# The two commands of README.md ("Running on a cluster"); the jobs run in
# $tmp/submit and write their logs there.
cd "$tmp/submit"
export COMBOSIM_BATCH=$batch
jobid=$(sbatch --parsable --array=1-"$shards" "$repo/scripts/batch-slurm.sh" \
  "$seed" "$tmp/slurm" "${scenarios[@]}") || fail "sbatch of the array failed"
jobids=("$jobid")
merge=$(sbatch --parsable --dependency=afterok:"$jobid" \
  "$repo/scripts/batch-slurm.sh" --merge "$shards" "$tmp/slurm" "${scenarios[@]}") ||
  fail "sbatch of the merge job failed"
jobids+=("$merge")
echo "slurm-test: submitted array job $jobid (tasks 1-$shards) and merge job $merge"

# Every array task and the merge, one per line: id, state, reason.
jobstates() { squeue -h -r -t all -j "$jobid,$merge" -o '%i %T %r'; }
finished='^(COMPLETED|FAILED|CANCELLED|TIMEOUT|NODE_FAIL|OUT_OF_MEMORY|BOOT_FAIL|DEADLINE|PREEMPTED)$'
for ((second = 0; ; second++)); do
  states=$(jobstates) || fail "squeue failed"
  if grep -q DependencyNeverSatisfied <<<"$states"; then
    fail "the merge job cannot start, an array task failed:"$'\n'"$states"
  fi
  if [ "$(wc -l <<<"$states")" -eq $((shards + 1)) ] &&
    awk -v f="$finished" '$2 !~ f { exit 1 }' <<<"$states"; then
    break
  fi
  [ "$second" -lt "$timeout" ] || fail "jobs not finished after $timeout s:"$'\n'"$states"
  sleep 1
done
if awk '$2 != "COMPLETED" { exit 1 }' <<<"$states"; then
  echo "slurm-test: all $shards array tasks and the merge completed after $second s"
else
  fail "jobs did not all complete:"$'\n'"$states"
fi

for ((task = 1; task <= shards; task++)); do
  [ -f "$tmp/submit/combosim-shards-${jobid}_$task.log" ] ||
    fail "array task $task wrote no log combosim-shards-${jobid}_$task.log"
done
"$repo/scripts/compare-outputs.sh" "$tmp/one" "$tmp/slurm" ||
  fail "the merged outputs differ from the one-process run"
echo "slurm-test: passed: the Slurm array and merge give exactly what one combosim-batch process gives (${#scenarios[@]} scenarios, seed $seed, $shards shards)"
