#!/usr/bin/env python3
"""The script a user would write instead of the tool: walk a folder, read each .msg message's
subject and date with the standard email package, name the copy "subject dd-mm-yyyy.eml" (the
OptSD scheme: unusable characters deleted, cut to 220 characters, " (n)" when taken), mirror the
folders below the output folder, and copy with shutil.copy2.

Usage: baseline_convert.py OUTPUT FOLDER
"""
import email.policy
import email.utils
import os
import shutil
import sys
from email.parser import BytesParser

DELETED = set(':?\\/*"<>|') | {chr(c) for c in range(32)}


def message_name(path, parser):
    with open(path, "rb") as f:
        message = parser.parse(f, headersonly=True)
    subject = str(message.get("Subject", "") or "")
    date = ""
    try:
        when = email.utils.parsedate_to_datetime(message.get("Date", ""))
        date = when.strftime("%d-%m-%Y")
    except (TypeError, ValueError, IndexError):
        pass
    name = "".join(c for c in f"{subject} {date}" if c not in DELETED)
    return name[:220]


def main():
    output, folder = sys.argv[1], os.path.abspath(sys.argv[2])
    parser = BytesParser(policy=email.policy.default)
    counter = 0
    for directory, _, files in os.walk(folder):
        target = os.path.join(output, directory.lstrip("/"))
        os.makedirs(target, exist_ok=True)
        for file in files:
            if not file.lower().endswith(".msg"):
                continue
            source = os.path.join(directory, file)
            name = message_name(source, parser)
            path = os.path.join(target, name + ".eml")
            if not os.path.lexists(path):
                counter = 1
            else:
                n = max(counter, 0)
                while os.path.lexists(os.path.join(target, f"{name} ({n}).eml")):
                    n += 1
                path = os.path.join(target, f"{name} ({n}).eml")
                counter = n + 1
            shutil.copy2(source, path)


if __name__ == "__main__":
    main()
