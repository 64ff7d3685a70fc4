#!/usr/bin/env bash
# Converts a small tree with --format=maildir and --format=mbox and reads the results with the
# programs users load them into: Dovecot's doveadm (import, then fetch) and Python's mailbox.
# Usage: mailbox_readers_test.sh TARVELIN_CLI. Exit 77 (skipped) when doveadm is missing.
set -euo pipefail
cli=$1
if ! command -v doveadm >/dev/null 2>&1; then
  echo "skipped: doveadm is missing (Debian's dovecot-core)"
  exit 77
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
src=$work/src
mkdir -p "$src/Sent Items" "$src/Ärchiv" "$src/a/b" "$src/new" "$src/~old"
message() {  # subject date [body lines]: CR LF line ends, as mail servers store them
  printf 'From: Ann <ann@example.org>\r\nSubject: %s\r\nDate: %s\r\n\r\nBody of %s\r\n%s' "$1" "$2" "$1" "${3:-}"
}
message "In one" "Sun, 1 Jul 2012 10:00:00 +0200" >"$src/one.msg"
message "In two" "Sun, 1 Jul 2012 09:00:00 +0000" >"$src/two.msg"
message "Sent one" "Mon, 2 Jul 2012 11:00:00 +0000" >"$src/Sent Items/s.msg"
message "Archived" "Tue, 3 Jul 2012 12:00:00 +0000" >"$src/Ärchiv/x.msg"
message "Deep" "Wed, 4 Jul 2012 13:00:00 +0000" >"$src/a/b/d.msg"
message "In new" "Thu, 5 Jul 2012 14:00:00 +0000" >"$src/new/n.msg"
message "From lines" "Fri, 6 Jul 2012 15:00:00 +0000" $'From here\r\n>From there\r\n' >"$src/a/f.msg"
# Dovecot's import skips a mailbox whose name starts with "~" without a word.
message "Old" "Sat, 7 Jul 2012 16:00:00 +0000" >"$src/~old/o.msg"
count=8

fail() { echo "FAIL: $*"; exit 1; }

# Dovecot refuses to run as root: then it runs as nobody, which needs the files to be its own.
run_dovecot() {
  if [[ $(id -u) -eq 0 ]]; then
    chown -R nobody:nogroup "$work/dv"
    setpriv --reuid=nobody --regid=nogroup --clear-groups env HOME="$work/dv/home" USER=nobody TZ=UTC \
      doveadm -c "$work/dv/dovecot.conf" "$@"
  else
    env HOME="$work/dv/home" USER="$(id -un)" TZ=UTC doveadm -c "$work/dv/dovecot.conf" "$@"
  fi
}
new_dovecot() {  # a scratch server whose mailboxes live in $1
  rm -rf "$work/dv"
  mkdir -p "$work/dv/home" "$work/dv/control"
  cat >"$work/dv/dovecot.conf" <<EOF
mail_location = $1
# Stored with CR LF as they came, so that the physical size is the source's.
mail_save_crlf = yes
mail_uid = nobody
mail_gid = nogroup
first_valid_uid = 1
protocols =
ssl = no
log_path = /dev/stderr
base_dir = $work/dv/run
EOF
}

# --- Maildir: import into a scratch Maildir, as the README says, and fetch what arrived.
"$cli" --format=maildir -q -o "$work/maildir" "$src" 2>"$work/cli.err" || fail "the maildir run: $(cat "$work/cli.err")"
grep -qx "$src/new: written as $work/maildir/new_/" "$work/cli.err" || fail "no report of new: $(cat "$work/cli.err")"
new_dovecot "maildir:$work/dv/home/Maildir:LAYOUT=fs"
cp -a "$work/maildir" "$work/dv/stage"  # -a keeps the times, which are the received dates
run_dovecot import -s "maildir:$work/dv/stage:LAYOUT=fs:INDEX=MEMORY:CONTROL=$work/dv/control" "" ALL \
  2>"$work/dv.err" || fail "doveadm import: $(cat "$work/dv.err")"
run_dovecot -f tab fetch "mailbox hdr.subject date.received size.physical" ALL \
  >"$work/fetched" 2>>"$work/dv.err" || fail "doveadm fetch: $(cat "$work/dv.err")"
[[ -s "$work/dv.err" ]] && fail "doveadm said: $(cat "$work/dv.err")"
echo "== doveadm fetch of the imported Maildir tree"
cat "$work/fetched"
size() { stat -c %s "$1"; }
expected=$(printf '%s\n' \
  "INBOX	In one	2012-07-01 08:00:00	$(size "$src/one.msg")" \
  "INBOX	In two	2012-07-01 09:00:00	$(size "$src/two.msg")" \
  "Sent Items	Sent one	2012-07-02 11:00:00	$(size "$src/Sent Items/s.msg")" \
  "Ärchiv	Archived	2012-07-03 12:00:00	$(size "$src/Ärchiv/x.msg")" \
  "a	From lines	2012-07-06 15:00:00	$(size "$src/a/f.msg")" \
  "a/b	Deep	2012-07-04 13:00:00	$(size "$src/a/b/d.msg")" \
  "new_	In new	2012-07-05 14:00:00	$(size "$src/new/n.msg")" \
  "_~old	Old	2012-07-07 16:00:00	$(size "$src/~old/o.msg")" | sort)
[[ "$(tail -n +2 "$work/fetched" | sort)" == "$expected" ]] || fail "doveadm fetched other mail; expected:
$expected"

# A rerun with --skip-identical finds every message and writes nothing.
summary=$("$cli" --format=maildir --skip-identical -o "$work/maildir" "$src" 2>&1 >/dev/null | tail -1)
[[ "$summary" == "0 converted, $count already there, 0 failed, 0 skipped" ]] || fail "rerun: $summary"

# --- mbox: Python's reader and doveadm (on a copy: Dovecot rewrites mbox files it reads).
"$cli" --format=mbox -q -o "$work/mbox" "$src" 2>"$work/cli.err" || fail "the mbox run: $(cat "$work/cli.err")"
python3 - "$work/mbox" "$count" <<'EOF' || fail "Python's mailbox"
import mailbox, os, sys
root, count = sys.argv[1], int(sys.argv[2])
files = ["Inbox", "Sent Items", "Ärchiv", "a", "a.sbd/b", "new", "~old"]
subjects = {f: [m["Subject"] for m in mailbox.mbox(os.path.join(root, f))] for f in files}
assert sum(len(s) for s in subjects.values()) == count, subjects
assert sorted(subjects["Inbox"]) == ["In one", "In two"], subjects
body = mailbox.mbox(os.path.join(root, "a"))[0].get_payload()
assert body.splitlines() == ["Body of From lines", ">From here", ">>From there"], body
EOF
new_dovecot "mbox:$work/dv/mail:INBOX=$work/dv/mail/Inbox"
mkdir -p "$work/dv/mail"
cp "$work/mbox/Inbox" "$work/mbox/a" "$work/dv/mail/"
run_dovecot -f tab fetch "mailbox hdr.subject" ALL >"$work/fetched" 2>"$work/dv.err" || fail "doveadm fetch: $(cat "$work/dv.err")"
[[ -s "$work/dv.err" ]] && fail "doveadm said: $(cat "$work/dv.err")"
echo "== doveadm fetch of the mbox files Inbox and a"
cat "$work/fetched"
expected=$(printf '%s\n' "INBOX	In one" "INBOX	In two" "a	From lines" | sort)
[[ "$(tail -n +2 "$work/fetched" | sort)" == "$expected" ]] || fail "doveadm read other mbox mail"
echo "mailbox readers: ok"
