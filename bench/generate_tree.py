#!/usr/bin/env python3
"""Writes a reproducible tree of .msg messages for the benchmarks.

Sizes are realistic: the median is about 6 KB, one message in ten is between 100 KB and 5 MB, and
--huge adds a few of 50 MB. Headers vary: encoded words in several charsets, folded lines, long
subjects, subjects shared by many messages. A few non-message files are mixed in.
"""
import argparse
import os
import random

CHARSETS = [("utf-8", "B"), ("iso-8859-1", "Q"), ("windows-1252", "Q"), ("koi8-r", "B")]
WORDS = ("budget meeting report invoice order shipment review draft minutes schedule "
         "proposal contract agenda summary update request reminder question answer").split()
NAMES = ["Ann Lee", "Bo Chen", "Jörg Müller", "Ольга Петрова", "Zoë Ådahl", "Carlos Núñez"]


def encoded_word(text, charset, encoding):
    import base64
    import quopri
    data = text.encode(charset, errors="replace")
    if encoding == "B":
        body = base64.b64encode(data).decode()
    else:
        body = quopri.encodestring(data, header=True).decode().replace("=\n", "")
    return f"=?{charset}?{encoding}?{body}?="


def subject(rng, i):
    kind = rng.random()
    words = " ".join(rng.choice(WORDS) for _ in range(rng.randint(2, 8)))
    if kind < 0.15:
        return "Weekly report"  # shared by many messages: numbered names
    if kind < 0.35:
        charset, enc = rng.choice(CHARSETS)
        text = words.title() + (" für Straße" if charset != "koi8-r" else " отчёт")
        return encoded_word(text, charset, enc)
    if kind < 0.45:
        long_text = " ".join(rng.choice(WORDS) for _ in range(60))
        return long_text[:70] + "\r\n " + long_text[70:]  # folded
    if kind < 0.5:
        return f"Re: Fwd: {words}? <{i}> \"quoted\" a/b|c*"
    return words.capitalize()


def sender(rng):
    name = rng.choice(NAMES)
    addr = name.split()[0].lower().encode("ascii", "ignore").decode() or "user"
    if any(ord(c) > 127 for c in name):
        name = encoded_word(name, "utf-8", "B")
    return f"\"{name}\" <{addr}@example.org>" if rng.random() < 0.5 else f"{name} <{addr}@example.org>"


def body_size(rng, huge):
    r = rng.random()
    if huge and r < 0.0005:
        return 50 * 1024 * 1024
    if r < 0.10:
        return rng.randint(100 * 1024, 5 * 1024 * 1024)
    return max(500, int(rng.lognormvariate(8.7, 0.6)))  # median about 6 KB


def message(rng, i, huge):
    day = rng.randint(1, 28)
    month = rng.choice(["Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"])
    year = rng.randint(2005, 2024)
    zone = rng.choice(["+0000", "-0700", "+0530", "+0100"])
    header = (f"Received: from mx.example.org by mail.example.org; {day} {month} {year} 10:00:00 {zone}\r\n"
              f"From: {sender(rng)}\r\nTo: team@example.org\r\nSubject: {subject(rng, i)}\r\n"
              f"Date: Mon, {day} {month} {year} 09:{i % 60:02d}:00 {zone}\r\n"
              f"Message-ID: <{i}@example.org>\r\nMIME-Version: 1.0\r\n"
              f"Content-Type: text/plain; charset=utf-8\r\n\r\n").encode()
    size = body_size(rng, huge)
    line = (("Lorem ipsum dolor sit amet %d " % i) * 3 + "\r\n").encode()
    return header + line * (size // len(line) + 1)


def tiny_message(rng, i):
    """About 200 bytes: a short header and a line of body; the copy costs nothing, the calls all."""
    words = "Weekly report" if rng.random() < 0.15 else " ".join(rng.choice(WORDS) for _ in range(2)).capitalize()
    header = (f"From: Ann Lee <ann@example.org>\r\nSubject: {words}\r\n"
              f"Date: Mon, {1 + i % 28} Mar 2012 09:{i % 60:02d}:00 +0000\r\nMessage-ID: <{i}@example.org>\r\n\r\n")
    return (header + "x" * max(0, 198 - len(header)) + "\r\n").encode()


def write_same_name(root, count, rng):
    """A folder where half the messages share one name under every scheme but OptOriginal, mixed
    with messages of names of their own: each shared one is numbered after all the earlier ones."""
    folder = os.path.join(root, "weekly")
    os.makedirs(folder, exist_ok=True)
    line = b"Lorem ipsum dolor sit amet, the same report again\r\n"
    for i in range(count):
        subject = "Weekly report" if i % 2 == 0 else f"Report {i} {rng.choice(WORDS)}"
        header = (f"From: Ann Lee <ann@example.org>\r\nTo: team@example.org\r\nSubject: {subject}\r\n"
                  f"Date: Mon, 5 Mar 2012 09:00:00 +0000\r\nMessage-ID: <{i}@example.org>\r\n\r\n").encode()
        with open(os.path.join(folder, f"{i:07d}.msg"), "wb") as out:
            out.write(header + line * 120)


def write_store(root, users, folders, per_folder, rng):
    """A mail store of small messages: users x folders x per_folder, about 1 KB each."""
    line = b"Lorem ipsum dolor sit amet, a short note\r\n"
    i = 0
    for u in range(users):
        for f in range(folders):
            folder = os.path.join(root, f"user{u:03d}", f"folder{f:03d}")
            os.makedirs(folder, exist_ok=True)
            for m in range(per_folder):
                header = (f"From: {sender(rng)}\r\nTo: team@example.org\r\nSubject: {subject(rng, i)}\r\n"
                          f"Date: Mon, {1 + i % 28} Mar 2012 09:{i % 60:02d}:00 +0000\r\n"
                          f"Message-ID: <{i}@example.org>\r\n\r\n").encode()
                with open(os.path.join(folder, f"{m:05d}.msg"), "wb") as out:
                    out.write(header + line * 12)
                i += 1


# An account's folders as MDaemon keeps them: its own messages are its Inbox.
MDAEMON_FOLDERS = ["", "Inbox.IMAP", "Inbox.IMAP/Projects.IMAP", "Inbox.IMAP/Projects.IMAP/2019.IMAP",
                   "Sent Items.IMAP", "Deleted Items.IMAP", "Drafts.IMAP", "Archive 2018.IMAP", "Ärchiv.IMAP",
                   "Junk E-mail.IMAP"]


def write_mdaemon_store(root, domains, accounts, per_folder, rng):
    """Users/<domain>/<account>/ with ten folders of small messages each, md<digits>.msg, and an
    imap.mrk (a stand-in: its real layout is not published) in every folder."""
    line = b"Lorem ipsum dolor sit amet, a short note\r\n"
    i = 0
    for d in range(domains):
        for a in range(accounts):
            for name in MDAEMON_FOLDERS:
                folder = os.path.join(root, "Users", f"domain{d}.example", f"user{a:03d}", name)
                os.makedirs(folder, exist_ok=True)
                with open(os.path.join(folder, "imap.mrk"), "wb") as out:
                    out.write(b"\0" * 64)
                for m in range(per_folder):
                    header = (f"From: {sender(rng)}\r\nTo: team@example.org\r\nSubject: {subject(rng, i)}\r\n"
                              f"Date: Mon, {1 + i % 28} Mar 2012 09:{i % 60:02d}:00 +0000\r\n"
                              f"Message-ID: <{i}@example.org>\r\n\r\n").encode()
                    with open(os.path.join(folder, f"md{5000000 + i}.msg"), "wb") as out:
                        out.write(header + line * 12)
                    i += 1


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("root")
    parser.add_argument("--messages", type=int, default=20000)
    parser.add_argument("--folders", type=int, default=300)
    parser.add_argument("--seed", type=int, default=20121)
    parser.add_argument("--huge", action="store_true", help="add a few 50 MB messages")
    parser.add_argument("--tiny", action="store_true", help="messages of about 200 bytes")
    parser.add_argument("--empty", action="store_true", help="write empty non-message files only (scan benchmarks)")
    parser.add_argument("--empty-ext", default="dat", help="the extension of the empty files (dat, or msg)")
    parser.add_argument("--same-name", type=int, default=0, metavar="N",
                        help="instead: N messages in one folder, every other one with the same "
                             "subject, sender and date (numbered output names)")
    parser.add_argument("--store", type=int, nargs=3, metavar=("USERS", "FOLDERS", "PER_FOLDER"),
                        help="instead: a store of small messages, USERS x FOLDERS x PER_FOLDER")
    parser.add_argument("--mdaemon", type=int, nargs=3, metavar=("DOMAINS", "ACCOUNTS", "PER_FOLDER"),
                        help="instead: an MDaemon store, Users/DOMAIN/ACCOUNT/ with ten folders of "
                             "PER_FOLDER small messages")
    args = parser.parse_args()
    rng = random.Random(args.seed)
    if args.mdaemon:
        write_mdaemon_store(args.root, *args.mdaemon, rng)
        return
    if args.store:
        write_store(args.root, *args.store, rng)
        return
    if args.same_name:
        write_same_name(args.root, args.same_name, rng)
        return

    folders = [args.root]
    for f in range(args.folders - 1):
        parent = rng.choice(folders)
        folders.append(os.path.join(parent, f"box{f:04d}"))
    for folder in folders:
        os.makedirs(folder, exist_ok=True)

    for i in range(args.messages):
        folder = folders[i % len(folders)]
        if args.empty:
            open(os.path.join(folder, f"{i:07d}.{args.empty_ext}"), "wb").close()
            continue
        with open(os.path.join(folder, f"{i:07d}.msg"), "wb") as out:
            out.write(tiny_message(rng, i) if args.tiny else message(rng, i, args.huge))
        if i % 500 == 0:
            with open(os.path.join(folder, f"notes{i}.txt"), "wb") as out:
                out.write(b"not a message\n")


if __name__ == "__main__":
    main()
