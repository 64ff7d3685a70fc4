#!/usr/bin/env bash
# An MDaemon store of 100,000 small messages (2 domains x 50 accounts x 10 folders x 100) through
# tarvelin-cli --format=maildir --accounts against a plain --format=maildir run of the same Users
# folder, in pairs that alternate which goes first after one unmeasured run of each, on DATA (a RAM
# disk with about 1 GB free). Each pair prints its ratio, accounts / plain.
#   bench/accounts_store.sh DATA [CLI] [PAIRS]
set -euo pipefail
data=${1:?usage: $0 DATA [CLI] [PAIRS]}
cli=$(realpath "${2:-build/bin/tarvelin-cli}")
pairs=${3:-3}
here=$(dirname "$(realpath "$0")")
cd "$data"

if [[ ! -f mdaemon.done ]]; then
  /usr/bin/time -f "generated in %e s" python3 "$here/generate_tree.py" mdaemon --mdaemon 2 50 100
  touch mdaemon.done
fi

run() {  # label, then the options; the seconds go to the file named by the label
  local label=$1
  shift
  sync
  /usr/bin/time -o "$label.time" -f "%e %M" "$cli" -q --format=maildir "$@" -o copy mdaemon/Users
  read -r seconds peak <"$label.time"
  echo "$label: $seconds s, peak $peak KB"
  rm -rf copy
}
# The first run into a fresh RAM disk pays for the kernel's reclaim.
run plain >/dev/null
run accounts --accounts >/dev/null
for ((pair = 1; pair <= pairs; pair++)); do
  echo "== pair $pair, load $(cut -d' ' -f1 /proc/loadavg)"
  if ((pair % 2)); then
    run plain
    run accounts --accounts
  else
    run accounts --accounts
    run plain
  fi
  echo "ratio $(python3 -c 'import sys; print(f"{float(sys.argv[1]) / float(sys.argv[2]):.3f}")' \
    "$(cut -d' ' -f1 accounts.time)" "$(cut -d' ' -f1 plain.time)")"
done
