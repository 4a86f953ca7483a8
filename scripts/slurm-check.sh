#!/usr/bin/env bash
# scripts/slurm-check.sh: examples/slurm/trackvideo.sbatch on a real Slurm
# cluster of one node, made and removed here, against a local run.
#
# Installs Debian's slurm-wlm and munge when missing, builds trackvideo into
# build/ (or $BUILD_DIR), then in a fresh temporary folder starts munged (its
# own key and socket), slurmctld and slurmd (a generated slurm.conf for this
# machine at 127.0.0.1 with all its CPUs, no cgroups: proctrack/linuxproc,
# task/none), submits the script as a job array of two shards over
# examples/dataset/LIST and the dependent plain run that writes the summary,
# waits for both, and checks that every output file equals that of a local
# `trackvideo --batch examples/dataset/LIST --jobs 2` (but for the time each
# run took: summary.csv's seconds column, the done markers' seconds line).
# Prints what it did and "slurm-check: OK"; whatever happens, stops the
# daemons it started and removes the folder. Never part of CI; run
# as root (the daemons then run as root, and so do the jobs) or as a user who
# may run sudo for the packages (the cluster then runs as that user).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

say() { echo "slurm-check: $*"; }
fail() {
  echo "slurm-check: FAILED: $*" >&2
  exit 1
}

scripts/deps.sh >&2
scripts/deps.sh slurm-wlm munge >&2

build=${BUILD_DIR:-build}
"$root/scripts/build.sh" --program trackvideo "$build" >&2
trackvideo=$(cd "$build/trackvideo" && pwd)/trackvideo
say "built $trackvideo"

tmp=$(mktemp -d "${TMPDIR:-/tmp}/slurm-check.XXXXXX")
chmod 700 "$tmp"
pids=()
cleanup() {
  local status=$?
  # Jobs first (their processes belong to slurmd), then the daemons, newest first.
  if [ -f "$tmp/slurm.conf" ] && [ ${#pids[@]} -gt 1 ]; then
    SLURM_CONF=$tmp/slurm.conf scancel --quiet --user "$(id -un)" 2>/dev/null || true
  fi
  local i
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill "${pids[i]}" 2>/dev/null || true
  done
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    wait "${pids[i]}" 2>/dev/null || true
  done
  if [ "$status" -ne 0 ] && [ -d "$tmp" ]; then
    for log in "$tmp"/*.log "$tmp"/jobs/*.log; do
      [ -f "$log" ] || continue
      echo "--- last lines of $(basename "$log"):" >&2
      tail -n 15 "$log" >&2
    done
  fi
  rm -rf "$tmp"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Polls `$@` once a second until it succeeds; fails after $1 seconds.
wait_for() {
  local seconds=$1 what=$2
  shift 2
  for ((t = 0; t < seconds; t++)); do
    "$@" && return 0
    sleep 1
  done
  fail "$what not within $seconds s"
}

# Two free TCP ports for slurmctld and slurmd.
read -r ctld_port slurmd_port < <(python3 -c '
import socket
s = [socket.socket() for _ in range(2)]
for x in s: x.bind(("127.0.0.1", 0))
print(*(x.getsockname()[1] for x in s))')

# munged: its own key, socket, pid, log and seed, all in $tmp.
dd if=/dev/urandom of="$tmp/munge.key" bs=1024 count=1 status=none
chmod 400 "$tmp/munge.key"
socket=$tmp/munge.socket
munged --foreground --force --key-file="$tmp/munge.key" --socket="$socket" \
  --pid-file="$tmp/munged.pid" --log-file="$tmp/munged.log" --seed-file="$tmp/munged.seed" \
  >/dev/null 2>&1 &
pids+=($!)
wait_for 30 "munged's socket" test -S "$socket"
say "munged running on $socket"

# slurm.conf for one node, this machine, under its own name at 127.0.0.1.
user=$(id -un)
host=$(hostname -s)
cpus=$(nproc)
mkdir -p "$tmp/state" "$tmp/spool" "$tmp/jobs"
cat >"$tmp/slurm.conf" <<EOF
ClusterName=slurmcheck
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=$ctld_port
SlurmdPort=$slurmd_port
SlurmUser=$user
SlurmdUser=$user
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$socket
StateSaveLocation=$tmp/state
SlurmdSpoolDir=$tmp/spool
SlurmctldPidFile=$tmp/slurmctld.pid
SlurmdPidFile=$tmp/slurmd.pid
SlurmctldLogFile=$tmp/slurmctld.log
SlurmdLogFile=$tmp/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
SchedulerType=sched/builtin
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
MpiDefault=none
ReturnToService=2
MinJobAge=600
NodeName=$host NodeAddr=127.0.0.1 CPUs=$cpus State=UNKNOWN
PartitionName=check Nodes=$host Default=YES MaxTime=INFINITE State=UP
EOF
export SLURM_CONF=$tmp/slurm.conf
# In the foreground (-D) so that the trap knows them; they log to their files.
slurmctld -D -i -f "$SLURM_CONF" >/dev/null 2>&1 &
pids+=($!)
slurmd -D -N "$host" -f "$SLURM_CONF" >/dev/null 2>&1 &
pids+=($!)
node_idle() { [ "$(sinfo -h -n "$host" -o %t 2>/dev/null)" = idle ]; }
wait_for 60 "node $host idle" node_idle
say "slurmctld (port $ctld_port) and slurmd (port $slurmd_port) up: node $host, $cpus CPUs, idle"

# The array of two shards, then the plain run after it, as the script's
# comment says to submit them; their logs go to $tmp/jobs.
list=examples/dataset/LIST
slurm_out=$tmp/out-slurm
export TRACKVIDEO=$trackvideo
array=$(sbatch --parsable --array=0-1 --output="$tmp/jobs/%A_%a.log" \
  examples/slurm/trackvideo.sbatch "$list" "$slurm_out")
array=${array%%;*}
summary=$(sbatch --parsable --dependency=afterany:"$array" --output="$tmp/jobs/%j-summary.log" \
  examples/slurm/trackvideo.sbatch "$list" "$slurm_out")
summary=${summary%%;*}
say "submitted array job $array (--array=0-1) and summary job $summary (afterany:$array)"

jobs_gone() { [ -z "$(squeue -h -j "$array,$summary" -o %i 2>/dev/null)" ]; }
wait_for 600 "jobs $array and $summary finished" jobs_gone
for job in "${array}_0" "${array}_1" "$summary"; do
  state=$(scontrol show job "$job" | grep -o 'JobState=[A-Z_]*' | head -n 1)
  code=$(scontrol show job "$job" | grep -o ' ExitCode=[0-9:]*' | head -n 1)
  say "job $job: ${state#JobState=},${code}"
  [ "$state" = JobState=COMPLETED ] || fail "job $job ended ${state#JobState=}"
done
for log in "$tmp"/jobs/*.log; do
  sed "s|^|  $(basename "$log"): |" "$log"
done

# The same list run here in one go.
local_out=$tmp/out-local
"$trackvideo" --batch "$list" --out "$local_out" --jobs 2 --quiet ||
  fail "the local run failed"
say "local run: $trackvideo --batch $list --out <tmp>/out-local --jobs 2"

# Every file the same, but for the time each run took: summary.csv's last
# column and the "seconds" line of each sequence's done marker.
diff -r --exclude=summary.csv --exclude=done "$local_out" "$slurm_out" >&2 ||
  fail "the cluster's outputs differ from the local run's"
compared=0
while IFS= read -r -d '' marker; do
  relative=${marker#"$local_out"/}
  [ -f "$slurm_out/$relative" ] || fail "the cluster wrote no $relative"
  diff <(grep -v '^seconds ' "$marker") <(grep -v '^seconds ' "$slurm_out/$relative") >&2 ||
    fail "$relative differs from the local run's"
  compared=$((compared + 1))
done < <(find "$local_out" -name 'done' -type f -print0)
[ "$compared" -gt 0 ] || fail "the local run wrote no done marker"
diff <(cut -d, -f1-6 "$local_out/summary.csv") <(cut -d, -f1-6 "$slurm_out/summary.csv") >&2 ||
  fail "summary.csv differs from the local run's"
rows=$(($(wc -l <"$slurm_out/summary.csv") - 1))
[ "$rows" -eq "$(grep -cv '^[[:space:]]*\(#\|$\)' "$list")" ] ||
  fail "summary.csv has $rows rows, not one per line of $list"
files=$(find "$slurm_out" -type f | wc -l)
say "outputs equal the local run's (but for the seconds): $files files, summary.csv of $rows sequences:"
sed 's/^/  /' "$slurm_out/summary.csv"
say OK
