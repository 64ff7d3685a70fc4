#!/usr/bin/env bash
# Converts a tree on a real SMB share: Samba's smbd, on a port of its own on the loopback address,
# serves a folder of this test to guests, and smbnetfs mounts it through FUSE and libsmbclient.
# Each format is converted share to share with the default jobs, then stopped by SIGINT and
# resumed; every result must hold the names and bytes of a one-job run into a local folder.
# Given tarvelin-cli.exe, its conversions run instead, under Wine on a drive letter mapped to the
# mount, and must give the names, bytes and times of the Linux program's.
# Usage: smb_share_test.sh TARVELIN_CLI [TARVELIN_CLI_EXE]. Exit 77 (skipped) without FUSE, Samba,
# smbnetfs (or Wine, given the .exe), or when the server or the mount does not start.
set -euo pipefail
cli=$(realpath "$1")
exe=${2:+$(realpath "$2")}
generate=$(cd "$(dirname "$0")/../.." && pwd)/bench/generate_tree.py

skip() { echo "skipped: $*"; exit 77; }
[[ -c /dev/fuse ]] || skip "no /dev/fuse"
command -v fusermount3 >/dev/null || skip "no fusermount3 (Debian's fuse3)"
command -v smbd >/dev/null || skip "no smbd (Debian's samba)"
command -v smbnetfs >/dev/null || skip "no smbnetfs"
if [[ -n "$exe" ]]; then
  command -v wine >/dev/null || skip "no Wine for $exe"
  export WINEPREFIX=${WINEPREFIX:-${TARVELIN_WINDOWS_CACHE:-$HOME/.cache/tarvelin/windows}/wine}
  export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  unset DISPLAY WAYLAND_DISPLAY
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/tarvelin-smb.XXXXXX")
chmod 755 "$work"
smbd_pid='' smbnetfs_pid='' drive=''
cleanup() {
  set +e
  if [[ -n "$drive" ]]; then
    rm -f "$WINEPREFIX/dosdevices/$drive"
    timeout 20 wineserver -w 2>/dev/null  # so that no Wine process holds the mount
  fi
  if mountpoint -q "$work/mnt"; then fusermount3 -u "$work/mnt" 2>/dev/null || umount -l "$work/mnt"; fi
  # Each was started in a session of its own: its group holds its helpers too.
  [[ -n "$smbnetfs_pid" ]] && kill -- -"$smbnetfs_pid" 2>/dev/null
  [[ -n "$smbd_pid" ]] && kill -- -"$smbd_pid" 2>/dev/null
  wait
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP
mkdir -p "$work/share" "$work/state/ncalrpc" "$work/home/.smb" "$work/mnt"
chmod 777 "$work/share"

port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
# Nothing of the machine's own Samba set-up is read or written: every folder is the test's.
cat >"$work/smb.conf" <<EOF
[global]
  server role = standalone server
  interfaces = 127.0.0.1
  bind interfaces only = yes
  smb ports = $port
  disable netbios = yes
  map to guest = Bad User
  lock directory = $work/state
  state directory = $work/state
  cache directory = $work/state
  pid directory = $work/state
  private dir = $work/state
  binddns dir = $work/state
  ncalrpc dir = $work/state/ncalrpc
  log file = $work/smbd.log
  load printers = no
  printcap name = /dev/null
  disable spoolss = yes
  # Files need no RPC services, whose helpers would log into the machine's own log folder.
  rpc start on demand helpers = no
[share]
  path = $work/share
  read only = no
  guest ok = yes
  guest only = yes
  force user = $(id -un)
EOF
setsid smbd --foreground --no-process-group --debug-stdout -s "$work/smb.conf" >"$work/smbd.out" 2>&1 &
smbd_pid=$!
listening() { (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; }
for _ in $(seq 100); do
  listening && break
  kill -0 "$smbd_pid" 2>/dev/null || skip "smbd did not start: $(tail -1 "$work/smbd.out")"
  sleep 0.1
done
listening || skip "smbd does not listen on port $port"

# libsmbclient reads $HOME/.smb/smb.conf; smbnetfs takes the credentials (the guest's) only from
# a file its owner alone can read. Its negative cache would fail every call to the server for 3 s
# after any call failed (without the cache, smbnetfs 0.6.3 never mounts).
printf '[global]\n  client min protocol = SMB2\n' >"$work/home/.smb/smb.conf"
cat >"$work/home/.smb/smbnetfs.conf" <<EOF
smb_query_browsers "false"
neg_cache_timeout "1"
use_libsecret "false"
local_charset "UTF-8"
auth "guest" ""
EOF
chmod 600 "$work/home/.smb/smbnetfs.conf"
HOME=$work/home setsid smbnetfs -f "$work/mnt" -o "config=$work/home/.smb/smbnetfs.conf" \
  >"$work/smbnetfs.out" 2>&1 &
smbnetfs_pid=$!
# smbnetfs names a server's folder HOST:PORT. An SMB name cannot hold ':', and an .eml run mirrors
# its source's whole path below the output folder, so the runs see the share through a link.
mounted=$work/mnt/127.0.0.1:$port/share
for _ in $(seq 100); do [[ -d "$mounted" ]] && break; sleep 0.1; done
[[ -d "$mounted" ]] || skip "smbnetfs did not mount the share: $(tail -1 "$work/smbnetfs.out")"
ln -s "$mounted" "$work/s"
share=$work/s      # the share as its client sees it
served=$work/share # the same folder as the server holds it

failed=0
fail() { echo "FAIL: $*"; failed=1; }
known() { echo "KNOWN FAULT: $*"; }
files() { { find "$1" -type f "${@:2}" 2>/dev/null || true; } | wc -l; }  # DIR [FIND TESTS]
temporaries() { files "$1" -path '*/.tarvelin-*'; }  # with a staging folder's lock

# 200 messages in nested folders, one of them not ASCII: 160 tiny ones, whose copies are all
# round trips, and 40 of every size up to megabytes (5 MB in all, four above 100 kB).
python3 "$generate" "$share/tree" --messages 160 --folders 8 --tiny --seed 5 >/dev/null
python3 "$generate" "$share/tree/Ärchiv" --messages 40 --folders 4 --seed 4 >/dev/null
count=$(files "$served/tree" -name '*.msg')
[[ $count -eq 200 ]] || fail "the share holds $count messages, not 200"

# The same entries (relative names, files and folders alike) with the same bytes.
same_tree() {  # WHAT GOT EXPECTED
  (cd "$2" && find . -mindepth 1 -printf '%y %P\n' | LC_ALL=C sort) >"$work/got" || true
  (cd "$3" && find . -mindepth 1 -printf '%y %P\n' | LC_ALL=C sort) >"$work/expected" || true
  if ! cmp -s "$work/got" "$work/expected"; then
    fail "$1: other names"; diff "$work/expected" "$work/got" | head -10
    return
  fi
  local name
  while IFS= read -r name; do
    cmp -s "$2/$name" "$3/$name" || fail "$1: $name holds other bytes"
  done < <(sed -n 's/^f //p' "$work/expected")
}
# How many files below GOT have another modification second than theirs below EXPECTED. An empty
# mbox file (a parent's) gets the time it was made, which two runs need not share.
times_differ() {  # GOT EXPECTED
  stamps() { (cd "$1" && find . -type f -size +0 -printf '%P\t%T@\n' | sed 's/\.[0-9]*$//' | LC_ALL=C sort); }
  LC_ALL=C join -t $'\t' <(stamps "$1") <(stamps "$2") | awk -F'\t' '$2 != $3' | wc -l
}
# What a stopped or failed run left under final names must each be whole.
whole_files() {  # WHAT GOT EXPECTED
  local name
  while IFS= read -r name; do
    cmp -s "$2/$name" "$3/$name" || fail "$1: $name is not whole"
  done < <(cd "$2" && find . -type f ! -name '.tarvelin-*')
}
summary() { tail -1 "$1" | tr -d '\r'; }
pick_format() { options=(); [[ $1 == eml ]] || options=(--format="$1"); }  # FORMAT: sets options

# One job into a local folder: what every run below must give.
for format in eml maildir mbox; do
  pick_format $format
  "$cli" "${options[@]}" -j 1 -o "$work/local-$format" "$share/tree" 2>"$work/local.err" ||
    fail "$format: the local run ended with $?: $(summary "$work/local.err")"
done

if [[ -z "$exe" ]]; then
  # format  outputs before the stop  resumed by
  rows=(
    "eml     5 --skip-identical"
    "maildir 5 --skip-identical"
    "mbox    1 -"  # no --skip-identical: the stopped run must only have left whole files
  )
  for row in "${rows[@]}"; do
    read -r format outputs resume <<<"$row"
    pick_format "$format"
    "$cli" "${options[@]}" -o "$share/out-$format" "$share/tree" 2>"$work/share.err" ||
      fail "$format: the share run ended with $?: $(summary "$work/share.err")"
    [[ "$(summary "$work/share.err")" == "200 converted, 0 failed, 0 skipped" ]] ||
      fail "$format: the share run says $(summary "$work/share.err")"
    same_tree "$format share to share" "$served/out-$format" "$work/local-$format"
    # smbnetfs applies a time set on a copy still open apart from it, and the server replaces
    # it at the close: the run sets it once more after.
    wrong=$(times_differ "$served/out-$format" "$work/local-$format")
    [[ $wrong -eq 0 ]] || fail "$format: $wrong files on the share lack the modification time of the local run's"

    # Stopped once a few outputs are on the share, while the workers still copy.
    "$cli" "${options[@]}" -o "$share/stop-$format" "$share/tree" 2>"$work/stop.err" &
    pid=$!
    for _ in $(seq 200); do
      [[ $(files "$served/stop-$format" ! -name '.tarvelin-*') -ge $outputs ]] && break
      sleep 0.05
    done
    kill -INT "$pid" 2>/dev/null || true
    asked=$SECONDS
    status=0
    wait "$pid" || status=$?
    [[ $status -eq 130 ]] || fail "$format: the stopped run ended with $status: $(summary "$work/stop.err")"
    # A stop ends the copies at their next slice: a run that goes on for long has not stopped.
    [[ $((SECONDS - asked)) -le 10 ]] || fail "$format: the stop took $((SECONDS - asked)) s"
    whole_files "$format stopped" "$served/stop-$format" "$work/local-$format"
    left=$(temporaries "$served/stop-$format")
    [[ $left -eq 0 ]] || fail "$format stopped: $left temporary files left"
    stopped=$(files "$served/stop-$format")
    if [[ $resume != - ]]; then
      "$cli" "${options[@]}" "$resume" -o "$share/stop-$format" "$share/tree" 2>"$work/resume.err" ||
        fail "$format: the resumed run ended with $?: $(summary "$work/resume.err")"
      same_tree "$format stopped and resumed" "$served/stop-$format" "$work/local-$format"
    fi
    echo "   $format: $(files "$served/out-$format") files share to share; $stopped when stopped"
  done
  exit $failed
fi

# --- The Windows program under Wine, the share on a drive letter of its own.
for letter in s t u v w x y; do
  [[ -e "$WINEPREFIX/dosdevices/$letter:" || -L "$WINEPREFIX/dosdevices/$letter:" ]] || break
done
drive=$letter:
mkdir -p "$WINEPREFIX/dosdevices"
ln -s "$mounted" "$WINEPREFIX/dosdevices/$drive"
winpath() { printf 'Z:%s' "${1//\//\\}"; }
wine_cli() { wine "$exe" "$@" >/dev/null 2>"$work/wine.err"; }

# From the share into a local folder: its names, bytes and times. The source S:\tree lands in
# OUT\tree, where the Linux run mirrors the whole path of its source.
for format in eml maildir mbox; do
  status=0
  pick_format $format
  wine_cli "${options[@]}" -o "$(winpath "$work/windows-$format")" "$drive\\tree" || status=$?
  [[ $status -eq 0 ]] || fail "$format: the Windows run ended with $status: $(summary "$work/wine.err")"
  got=$work/windows-$format expected=$work/local-$format
  [[ $format == eml ]] && got+=/tree expected+=$share/tree
  same_tree "$format under Wine" "$got" "$expected"
  wrong=$(times_differ "$got" "$expected")
  [[ $wrong -eq 0 ]] || fail "$format under Wine: $wrong files have another modification time"
  echo "   $format under Wine, share to local: $(files "$got") files"
done

# Share to share under Wine the server refuses the renames ("in use by another program"): Wine
# renames a file while it holds it open. Whatever gets through, the run's account must be true.
status=0
wine_cli -o "$drive\\windows-share" "$drive\\tree" || status=$?
converted=$(summary "$work/wine.err" | sed -n 's/^\([0-9]*\) converted, \([0-9]*\) failed.*/\1/p')
refused=$(summary "$work/wine.err" | sed -n 's/^\([0-9]*\) converted, \([0-9]*\) failed.*/\2/p')
written=$(files "$served/windows-share" ! -path '*/.tarvelin-*' ! -name .tarvelin.lock)
if [[ -z "$converted" || $((converted + refused)) -ne 200 || $written -ne $converted ]]; then
  fail "Wine share to share: $written files written, the run says \"$(summary "$work/wine.err")\""
elif [[ $status -ne $((refused > 0 ? 1 : 0)) ]]; then
  fail "Wine share to share: $refused failed, the run ended with $status"
fi
[[ $(grep -c ': cannot ' "$work/wine.err") -eq $refused ]] ||
  fail "Wine share to share: not every failure is reported"
whole_files "Wine share to share" "$served/windows-share/tree" "$work/local-eml$share/tree"
# The removal of a refused copy meets the server still closing it, and is refused in turn: what
# stays must be said, each with its path.
left=$(temporaries "$served/windows-share")
unsaid=0
while IFS= read -r name; do
  grep -qF "$name" "$work/wine.err" || unsaid=$((unsaid + 1))
done < <(find "$served/windows-share" -type f -name '.tarvelin-*' -printf '%f\n')
[[ $unsaid -eq 0 ]] || fail "Wine share to share: $unsaid of $left temporary files left without a word"
[[ $left -eq 0 ]] || known "Wine share to share: $left temporary files left, each said: smbnetfs holds a copy Wine could not rename past its removal"
# So does the removal of the run's lock file; the next run takes it over.
[[ ! -e "$served/windows-share/.tarvelin.lock" ]] || known "Wine share to share: the lock file .tarvelin.lock left"
reason=$(grep -m1 ': cannot ' "$work/wine.err" | tr -d '\r' | sed 's/^.*: \(cannot \)/\1/' || true)
echo "   Wine share to share: $(summary "$work/wine.err")${reason:+ ($reason)}"
exit $failed
