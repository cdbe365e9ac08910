#!/usr/bin/env bash
# A study as a Slurm job array on a one-node cluster this test starts itself
# (munged, slurmctld, slurmd) and stops again: the gathered table must equal
# the table of `blocksim sweep -j 2` byte for byte.
#
#   slurm_test.sh BLOCKSIM STUDY SCRATCH [EMULATOR]
#
# Exits 77 (skipped) with the reason where the cluster cannot be started:
# not root, slurm-wlm or munge missing (tools/deps.sh installs them), a
# daemon that does not come up, or a blocksim that needs an emulator.
set -uo pipefail
blocksim=$1 study=$2 scratch=$3 emulator=${4:-}

skip() { echo "SKIPPED: $*"; exit 77; }
fail() { echo "FAILED: $*"; exit 1; }

[ -z "$emulator" ] || skip "blocksim runs under $emulator here; array tasks run it directly"
[ "$(id -u)" = 0 ] || skip "starting munged and the Slurm daemons needs root"
for tool in munged slurmctld slurmd sbatch sinfo squeue; do
  command -v "$tool" >/dev/null || skip "$tool is missing (tools/deps.sh installs slurm-wlm and munge)"
done

rm -rf "$scratch"
mkdir -p "$scratch/state" "$scratch/spool" || fail "cannot make $scratch"
scratch=$(cd "$scratch" && pwd)
pids=()
munged_pid=""
job=""
stop_all() {
  [ -z "$job" ] || scancel "$job" 2>/dev/null
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
  if [ -n "$munged_pid" ]; then
    kill "$munged_pid" 2>/dev/null
    for _ in $(seq 50); do kill -0 "$munged_pid" 2>/dev/null || break; sleep 0.1; done
  fi
}
trap stop_all EXIT
trap 'exit 1' INT TERM
show_logs() {
  for log in "$scratch"/*.log; do [ -f "$log" ] && { echo "--- $log"; tail -n 15 "$log"; }; done
}

# munged: the one running is used; otherwise one is started as the munge
# user with the system's key, made first when there is none.
if ! munge -n </dev/null 2>/dev/null | unmunge >/dev/null 2>&1; then
  id munge >/dev/null 2>&1 || skip "there is no munge user"
  install -d -o munge -g munge -m 0755 /run/munge
  install -d -o munge -g munge -m 0700 /var/lib/munge /var/log/munge /etc/munge
  if [ ! -s /etc/munge/munge.key ]; then
    runuser -u munge -- mungekey --create --keyfile=/etc/munge/munge.key >/dev/null 2>&1 ||
      skip "cannot create the munge key"
  fi
  runuser -u munge -- munged >"$scratch/munged.log" 2>&1 || { show_logs; skip "munged does not start"; }
  munged_pid=$(cat /run/munge/munged.pid 2>/dev/null)
  munge -n </dev/null 2>/dev/null | unmunge >/dev/null 2>&1 || { show_logs; skip "munged does not answer"; }
fi

# The cluster: this machine as its only node, on ports of its own.
host=$(hostname -s)
node=$(slurmd -C 2>/dev/null | head -n 1)
case "$node" in NodeName=*) ;; *) skip "slurmd -C does not describe this machine";; esac
port=$((20000 + $$ % 20000))
export SLURM_CONF="$scratch/slurm.conf"
cat >"$SLURM_CONF" <<EOF
ClusterName=blocksimtest
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=$port
SlurmdPort=$((port + 1))
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
StateSaveLocation=$scratch/state
SlurmdSpoolDir=$scratch/spool
SlurmctldPidFile=$scratch/slurmctld.pid
SlurmdPidFile=$scratch/slurmd.pid
SlurmctldLogFile=$scratch/slurmctld.log
SlurmdLogFile=$scratch/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
SchedulerType=sched/builtin
SchedulerParameters=sched_min_interval=0,batch_sched_delay=0
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
MpiDefault=none
ReturnToService=2
$node NodeAddr=127.0.0.1 State=UNKNOWN
PartitionName=blocksim Nodes=$host Default=YES MaxTime=INFINITE State=UP
EOF
slurmctld -D -i -f "$SLURM_CONF" >>"$scratch/slurmctld.log" 2>&1 &
pids+=($!)
sleep 1
slurmd -D -f "$SLURM_CONF" >>"$scratch/slurmd.log" 2>&1 &
pids+=($!)
idle=""
for _ in $(seq 60); do
  state=$(sinfo -h -n "$host" -o %t 2>/dev/null | head -n 1)
  [ "$state" = idle ] && { idle=yes; break; }
  sleep 1
done
[ -n "$idle" ] || { show_logs; skip "the node is not idle after 60 s (state: ${state:-none})"; }
echo "cluster up: node $host idle, slurmctld on port $port"

# The study as an array, then gathered; and the same study on this machine.
"$blocksim" sweep "$study" --results "$scratch/cluster" --slurm --submit >"$scratch/submit.out" 2>&1 ||
  { cat "$scratch/submit.out"; fail "sbatch refused the array"; }
cat "$scratch/submit.out"
job=$(sed -n 's/^Submitted batch job \([0-9]*\).*/\1/p' "$scratch/submit.out")
[ -n "$job" ] || fail "no job number from sbatch"
for _ in $(seq 600); do
  [ -z "$(squeue -h -j "$job" 2>/dev/null)" ] && break
  sleep 1
done
[ -z "$(squeue -h -j "$job" 2>/dev/null)" ] || { show_logs; fail "the array $job has not ended after 600 s"; }
"$blocksim" sweep "$study" --results "$scratch/cluster" --gather
"$blocksim" sweep "$study" --results "$scratch/local" -j 2
cmp "$scratch/cluster/table.csv" "$scratch/local/table.csv" ||
  { head -n 5 "$scratch"/cluster/slurm/*.out 2>/dev/null | head -n 40; fail "the gathered table differs from the local one"; }
echo "the gathered table of $(($(wc -l <"$scratch/local/table.csv") - 1)) points equals the local table"
