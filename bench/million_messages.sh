#!/usr/bin/env bash
# A store of 1,000,000 small messages (100 users x 100 folders x 100) through tarvelin-cli against
# cp -r, on the RAM disk DATA (about 9 GB: the store, and one copy of it at a time): the time of
# each, the CLI's peak memory and its memory as the run goes on, and whether the progress line
# and -v keep up with the run.
#   bench/million_messages.sh DATA [CLI] [PAIRS]
set -euo pipefail
data=${1:?usage: $0 DATA [CLI] [PAIRS]}
cli=$(realpath "${2:-build-bench/bin/tarvelin-cli}")
pairs=${3:-2}
here=$(dirname "$(realpath "$0")")
cd "$data"

if [[ ! -f store.done ]]; then
  /usr/bin/time -f "generated in %e s" python3 "$here/generate_tree.py" store --store 100 100 100
  touch store.done
fi

run_cp() { /usr/bin/time -f "cp -r: %e s" cp -r store copy; rm -rf copy; }
run_cli() {
  /usr/bin/time -f "tarvelin-cli: %e s, peak %M KB" "$cli" -q -n OptSD -o copy store
  rm -rf copy
}
for ((pair = 1; pair <= pairs; pair++)); do
  echo "== pair $pair, load $(cut -d' ' -f1 /proc/loadavg)"
  if ((pair % 2)); then run_cp; run_cli; else run_cli; run_cp; fi
done

# On a terminal (script gives it one) with -v: the memory every 10 s, the last progress line, and
# that -v printed a line for every message.
echo "== with the progress line and -v, load $(cut -d' ' -f1 /proc/loadavg)"
script -qfc "/usr/bin/time -f 'tarvelin-cli -v on a terminal: %e s, peak %M KB' \
  '$cli' -v -n OptSD -o copy store >verbose.txt" progress.txt >/dev/null &
sleep 1
pid=$(pgrep -n -f -- "$cli -v -n OptSD -o copy store" || true)
while [[ -n "$pid" ]] && kill -0 "$pid" 2>/dev/null; do
  echo "  $(date +%T) rss $(awk '/VmRSS/ {print $2}' /proc/"$pid"/status 2>/dev/null) KB," \
    "done $(wc -l <verbose.txt)"
  sleep 10
done
wait
tr '\r' '\n' <progress.txt | grep -a -E 'Scanning|msg/s' | sed -n '1p;$p' | cut -c1-100
tr '\r' '\n' <progress.txt | grep -a 'tarvelin-cli -v'
echo "-v lines: $(wc -l <verbose.txt)"
rm -rf copy verbose.txt progress.txt
