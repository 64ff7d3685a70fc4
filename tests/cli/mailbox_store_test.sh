#!/usr/bin/env bash
# A made-up MDaemon store (Users/<domain>/<account>/, its folders "<name>.IMAP") converted with
# --accounts, loaded account by account into a real Dovecot with the default mailbox configuration
# and read back over IMAP on a loopback port: the special-use marks, the nesting, every message's
# bytes, received date and read mark, and the counts. The mbox trees are read with Python's mailbox.
# Usage: mailbox_store_test.sh TARVELIN_CLI. Exit 77 (skipped) without Dovecot's IMAP server.
set -euo pipefail
cli=$1
if ! command -v doveadm >/dev/null 2>&1 || ! command -v dovecot >/dev/null 2>&1 ||
  [[ ! -x /usr/lib/dovecot/imap ]] || [[ ! -r /etc/dovecot/conf.d/15-mailboxes.conf ]]; then
  echo "skipped: Dovecot's IMAP server is missing (Debian's dovecot-core and dovecot-imapd)"
  exit 77
fi

work=$(mktemp -d)
dovecot_pid=""
cleanup() {
  [[ -n "$dovecot_pid" ]] && kill "$dovecot_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
chmod 755 "$work"
users=$work/Users
fail() { echo "FAIL: $*"; exit 1; }

# domain|account|folder below the account|file|Date|the mailbox it must reach ("" for none: it fails)
cat >"$work/table" <<'EOF'
example.com|frank||md0001.msg|Sun, 1 Jul 2012 10:00:00 +0200|INBOX
example.com|frank||md0002.msg|Sun, 1 Jul 2012 09:00:00 +0000|INBOX
example.com|frank|Inbox.IMAP|md0003.msg|Mon, 2 Jul 2012 08:15:00 -0700|INBOX
example.com|frank|Inbox.IMAP/Projects.IMAP|md0004.msg|Tue, 3 Jul 2012 12:00:00 +0000|INBOX/Projects
example.com|frank|Inbox.IMAP/Projects.IMAP/2019.IMAP|md0005.msg|Wed, 2 Jan 2019 13:00:00 +0100|INBOX/Projects/2019
example.com|frank|Inbox.IMAP/Projects.IMAP/2019.IMAP|md0006.msg|Thu, 3 Jan 2019 14:00:00 +0100|INBOX/Projects/2019
example.com|frank|Sent Items.IMAP|md0007.msg|Fri, 6 Jul 2012 15:00:00 +0000|Sent
example.com|frank|Sent.IMAP|md0008.msg|Sat, 7 Jul 2012 16:00:00 +0000|Sent
example.com|frank|Deleted Items.IMAP|md0009.msg|Sun, 8 Jul 2012 17:00:00 +0000|Trash
example.com|frank|Drafts.IMAP|md0010.msg|Mon, 9 Jul 2012 18:00:00 +0000|Drafts
example.com|frank|Old Stuff.IMAP|md0011.msg|Tue, 10 Jul 2012 19:00:00 +0000|Old Stuff
example.com|frank|Ärchiv.IMAP|md0012.msg|Wed, 11 Jul 2012 20:00:00 +0000|Ärchiv
example.com|ann||md0001.msg|Thu, 12 Jul 2012 21:00:00 +0000|INBOX
example.com|ann|Elementos eliminados.IMAP|md0002.msg|Fri, 13 Jul 2012 22:00:00 +0000|Trash
example.com|ann|Sent Items.IMAP|md0003.msg|Sat, 14 Jul 2012 23:00:00 +0000|Sent
example.org|||md0001.msg|Sun, 15 Jul 2012 06:00:00 +0000|
EOF
mkdir -p "$users/example.org/bob"  # an account without a message
while IFS='|' read -r domain account folder file date mailbox; do
  dir=$users/$domain/$account/$folder
  mkdir -p "$dir"
  # The index a server keeps beside the messages, in every folder: never a message, never read.
  printf '\x01\x02not a message\r\n' >"$dir/imap.mrk"
  printf 'From: Ann <ann@example.org>\r\nTo: %s@%s\r\nSubject: %s\r\nDate: %s\r\n\r\nBody of %s\r\nFrom here\r\n' \
    "$account" "$domain" "$file" "$date" "$folder" >"$dir/$file"
done <"$work/table"
# A FIFO blocks whoever opens it: the run must only list imap.mrk.
rm "$users/example.com/frank/imap.mrk"
mkfifo "$users/example.com/frank/imap.mrk"
converted=15

# --- The run, then a rerun that finds every message in place.
timeout 60 "$cli" --format=maildir --accounts --seen --mailbox-name='Elementos eliminados=Trash' -q \
  --index="$work/index.csv" -o "$work/stage" "$users" 2>"$work/cli.err" && fail "a failure went unreported"
stray="$users/example.org/md0001.msg: not in an account's folder (Users/<domain>/<account>/), so it belongs to no mailbox"
merge="$users/example.com/frank/Sent.IMAP: written as $work/stage/example.com/frank/Sent/"
[[ "$(cat "$work/cli.err")" == "$merge"$'\n'"$stray" ]] || fail "the run said: $(cat "$work/cli.err")"
summary=$(timeout 60 "$cli" --format=maildir --accounts --seen --mailbox-name='Elementos eliminados=Trash' \
  --skip-identical -o "$work/stage" "$users" 2>&1 | tail -1) || true  # it fails the stray message again
[[ "$summary" == "0 converted, $converted already there, 1 failed, 0 skipped in 3 accounts" ]] || fail "rerun: $summary"

# The index gives each message its domain, account and mailbox.
python3 - "$work/table" "$work/index.csv" "$users" <<'EOF' || fail "the index"
import csv, sys
table, index, users = sys.argv[1:]
expected = {}
for line in open(table, encoding="utf-8"):
    domain, account, folder, file, date, mailbox = line.rstrip("\n").split("|")
    source = "/".join(p for p in (users, domain, account, folder, file) if p)
    expected[source] = ("converted", domain, account, mailbox) if mailbox else ("failed", "", "", "")
rows = list(csv.DictReader(open(index, encoding="utf-8-sig", newline="")))
got = {r["source"]: (r["status"], r["domain"], r["account"], r["mailbox"]) for r in rows if r["status"] != "renamed"}
assert got == expected, (got, expected)
assert [r["source"] for r in rows if r["status"] == "renamed"] == [users + "/example.com/frank/Sent.IMAP"], rows
EOF

# --- Dovecot, as an unprivileged user: its default mailboxes, one account per line of a passwd
# file, the imap service on a free loopback port.
if [[ $(id -u) -eq 0 ]]; then
  as=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
  user=nobody group=nogroup
else
  as=()
  user=$(id -un) group=$(id -gn)
fi
dv=$work/dv
mkdir -p "$dv/run" "$dv/state" "$dv/control"
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
for home in "$work"/stage/*/*/; do
  account=$(basename "$home") domain=$(basename "$(dirname "$home")")
  echo "$account@$domain:{PLAIN}secret:$(id -u "$user"):$(id -g "$user")::$dv/home/$domain/$account::"
done >"$dv/passwd"
cat >"$dv/dovecot.conf" <<EOF
protocols = imap
listen = 127.0.0.1
base_dir = $dv/run
state_dir = $dv/state
log_path = $dv/log
ssl = no
disable_plaintext_auth = no
default_internal_user = $user
default_internal_group = $group
default_login_user = $user
first_valid_uid = 1
mail_location = maildir:$dv/mail/%d/%n:LAYOUT=fs
# Stored with CR LF as they came, so that the bytes are the source's.
mail_save_crlf = yes
passdb {
  driver = passwd-file
  args = $dv/passwd
}
userdb {
  driver = passwd-file
  args = $dv/passwd
}
service imap-login {
  chroot =
  inet_listener imap {
    address = 127.0.0.1
    port = $port
  }
  inet_listener imaps {
    port = 0
  }
}
service anvil {
  chroot =
}
namespace inbox {
  inbox = yes
}
!include /etc/dovecot/conf.d/15-mailboxes.conf
EOF
[[ $(id -u) -eq 0 ]] && chown -R "$user:$group" "$dv" "$work/stage"
dovecot_do() { "${as[@]}" env HOME="$dv" TZ=UTC "$@"; }
dovecot_do dovecot -c "$dv/dovecot.conf" || fail "dovecot did not start: $(cat "$dv/log" 2>/dev/null)"
for _ in $(seq 50); do [[ -s "$dv/run/master.pid" ]] && break; sleep 0.1; done
dovecot_pid=$(cat "$dv/run/master.pid")

# As the README says: one import for each account's tree.
for tree in "$work"/stage/*/*/; do
  tree=${tree%/}
  dovecot_do doveadm -c "$dv/dovecot.conf" import -u "$(basename "$tree")@$(basename "$(dirname "$tree")")" \
    -s "maildir:$tree:LAYOUT=fs:INDEX=MEMORY:CONTROL=$dv/control/$(basename "$tree")" "" ALL \
    2>>"$dv/import.err" || fail "doveadm import of $tree: $(cat "$dv/import.err")"
done
[[ -s "$dv/import.err" ]] && fail "doveadm import said: $(cat "$dv/import.err")"

# The README's check: each mailbox's count in the index against the server's.
python3 -c 'import csv, collections, sys
rows = csv.DictReader(open(sys.argv[1], encoding="utf-8-sig", newline=""))
counts = collections.Counter((r["account"] + "@" + r["domain"], r["mailbox"]) for r in rows if r["status"] in ("converted", "already-there"))
for (account, mailbox), n in sorted(counts.items()): print(f"{account}\t{mailbox}\t{n}")' "$work/index.csv" >"$dv/indexed"
for tree in "$work"/stage/*/*/; do
  account=$(basename "$tree")@$(basename "$(dirname "$tree")")
  dovecot_do doveadm -c "$dv/dovecot.conf" -f tab mailbox status -u "$account" messages '*' | tail -n +2 |
    awk -F '\t' -v a="$account" '$2 > 0 { print a "\t" $1 "\t" $2 }'
done | sort >"$dv/served"
sort "$dv/indexed" | diff - "$dv/served" || fail "the counts of the index and of the server differ"

python3 - "$work/table" "$users" "$port" <<'EOF' || fail "what Dovecot serves (its log: $(tail -5 "$dv/log"))"
import base64, collections, email.utils, imaplib, re, sys, time
table, users, port = sys.argv[1], sys.argv[2], int(sys.argv[3])

def utf7_encode(name):
    out, run = "", ""
    for ch in name + "\0":
        if ch != "\0" and not 0x20 <= ord(ch) <= 0x7E:
            run += ch
            continue
        if run:
            out += "&" + base64.b64encode(run.encode("utf-16-be")).decode().rstrip("=").replace("/", ",") + "-"
            run = ""
        out += {"&": "&-", "\0": ""}.get(ch, ch)
    return out

def utf7_decode(name):
    return re.sub(r"&([^-]*)-", lambda m: "&" if not m.group(1) else
                  base64.b64decode(m.group(1).replace(",", "/") + "===").decode("utf-16-be"), name)

expected = collections.defaultdict(list)  # account -> [(mailbox, bytes, seconds)]
for line in open(table, encoding="utf-8"):
    domain, account, folder, file, date, mailbox = line.rstrip("\n").split("|")
    if not mailbox:
        continue
    path = "/".join(p for p in (users, domain, account, folder, file) if p)
    expected[f"{account}@{domain}"].append(
        (mailbox, open(path, "rb").read(), int(email.utils.parsedate_to_datetime(date).timestamp())))
expected["bob@example.org"] = []

for account in sorted(expected):
    imap = imaplib.IMAP4("127.0.0.1", port)
    imap.login(account, "secret")
    typ, data = imap._simple_command("LIST", '""', '"*"', "RETURN", "(SPECIAL-USE)")
    assert typ == "OK", data
    listed = {}
    print(f"== {account}: LIST \"\" \"*\" RETURN (SPECIAL-USE)")
    for entry in imap._untagged_response(typ, data, "LIST")[1]:
        entry = entry.decode()
        print("* LIST " + entry)
        flags, name = re.fullmatch(r'\(([^)]*)\) "/" (.*)', entry).groups()
        listed[utf7_decode(name.strip('"'))] = flags.split()
    for mailbox, mark in (("Sent", r"\Sent"), ("Trash", r"\Trash"), ("Drafts", r"\Drafts")):
        if any(m == mailbox for m, _, _ in expected[account]):
            assert mark in listed[mailbox], (mailbox, listed)
    got = []
    for mailbox, flags in sorted(listed.items()):
        if r"\Noselect" in flags:
            continue
        typ, data = imap.select('"' + utf7_encode(mailbox) + '"', readonly=True)
        assert typ == "OK", (mailbox, data)
        if int(data[0]) == 0:
            continue
        typ, data = imap.fetch("1:*", "(FLAGS INTERNALDATE BODY.PEEK[])")
        for part in data:
            if not isinstance(part, tuple):
                continue
            assert b"\\Seen" in part[0], part[0]
            received = int(time.mktime(imaplib.Internaldate2tuple(part[0])))
            got.append((mailbox, part[1], received))
    assert "INBOX" in listed, listed
    assert sorted(got) == sorted(expected[account]), (account, sorted(got), sorted(expected[account]))
    print(f"   {len(got)} messages: " + ", ".join(f"{m} {n}" for m, n in
          sorted(collections.Counter(m for m, _, _ in got).items())))
    imap.logout()
print("messages served:", sum(len(v) for v in expected.values()))
EOF

# --- mbox: one local-folders tree for each account, read with Python's mailbox.
timeout 60 "$cli" --format=mbox --accounts --mailbox-name='Elementos eliminados=Trash' -q -o "$work/mbox" "$users" \
  2>/dev/null && fail "the mbox run reported no failure"
python3 - "$work/table" "$work/mbox" <<'EOF' || fail "Python's mailbox"
import collections, mailbox, os, sys
table, root = sys.argv[1:]
expected = collections.defaultdict(list)
for line in open(table, encoding="utf-8"):
    domain, account, folder, file, date, box = line.rstrip("\n").split("|")
    if box:
        expected[(domain, account, box)].append(file)
for (domain, account, box), subjects in sorted(expected.items()):
    names = box.split("/")
    path = os.path.join(root, domain, account, *[n + ".sbd" for n in ["Inbox" if n == "INBOX" else n for n in names[:-1]]],
                        "Inbox" if box == "INBOX" else names[-1])
    assert sorted(m["Subject"] for m in mailbox.mbox(path)) == sorted(subjects), (path, subjects)
assert os.path.getsize(os.path.join(root, "example.org", "bob", "Inbox")) == 0
assert os.path.getsize(os.path.join(root, "example.com", "frank", "Inbox.sbd", "Projects")) > 0
EOF
echo "mailbox store: ok"
