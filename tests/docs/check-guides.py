#!/usr/bin/env python3
"""Keeps the commands of README.md and docs/guides/*.md working, and the pages short.

Each command of a ```sh block is run when it is cheap and safe: the preflight, the launcher and
file commands on the example bundle, in a temporary folder of each page whose paths stand for the
Debian package's (/var/lib/hotfix-launcher is a temporary prefix), and --help or --version. Every
ansible-playbook command runs with --syntax-check and its -i, -e and --limit options, each -e
variable being one the role documents. The rest is checked against what the program offers: a
script's options against its --help (or its head comment), any other program's against its own
--help. The preflight's commands in Windows blocks (bat, powershell) are checked the same way.
Fails naming the page, the line and the command.

  check-guides.py PREFLIGHT LAUNCHER EXAMPLE_INSTALLER
"""
import glob
import json
import os
import re
import shlex
import subprocess
import sys
import tempfile

SOURCE = os.path.realpath(os.path.join(os.path.dirname(__file__), "..", ".."))
PREFLIGHT, LAUNCHER, INSTALLER = (os.path.realpath(path) for path in sys.argv[1:4])
# The word limits the documentation promises: a README read in minutes, a guide in one sitting.
README_WORDS = 1500
GUIDE_WORDS = 1200
# Programs whose commands are run when every part of the line is one of them.
RUNNABLE = {"cd", "cp", "install", "mkdir", "sha256sum", "hotfix-preflight"}
PACKAGE_PREFIX = "/var/lib/hotfix-launcher"
EXAMPLE = "KB5001234"
ROLE = os.path.join(SOURCE, "deploy/ansible/roles/hotfix_rollout")
ANSIBLE_DIR = os.path.join(SOURCE, "deploy/ansible")

problems = 0
help_texts = {}


def fail(page, line, command, why):
    global problems
    problems += 1
    print(f"FAIL: {page}:{line}: {command}: {why}")


def commands(page):
    """Yields (line, command, language) for each command of the page's fenced blocks."""
    language, pending, start = None, "", 0
    with open(os.path.join(SOURCE, page), encoding="utf-8") as text:
        for number, line in enumerate(text, 1):
            line = line.rstrip("\n")
            fence = re.match(r"^```(\w*)", line)
            if fence:
                language = None if language else (fence.group(1) or "text")
                continue
            if language not in ("sh", "bat", "powershell"):
                continue
            if not pending:
                start = number
            pending += line.strip()
            if pending.endswith("\\"):
                pending = pending[:-1] + " "
                continue
            if pending and not pending.startswith(("#", "rem ", "REM ")):
                yield start, pending, language
            pending = ""


def segments(command):
    """The simple commands of a line: its parts between &&, ||, ; and |, as word lists."""
    parts = re.split(r"&&|\|\||;|\|", command)
    return [shlex.split(part.strip().strip("()"), posix=True) for part in parts if part.strip()]


def program(words):
    return os.path.basename(words[0]) if words else ""


def options(words):
    """The option names a command uses, without their values."""
    return [word.split("=", 1)[0] for word in words[1:] if re.match(r"^--?[A-Za-z]", word)]


def help_text(words):
    """What a program says it takes: --help of a script that has it, else its head comment; the
    program's own --help (of its subcommand too, for ansible-galaxy) otherwise."""
    key = tuple(words)
    if key not in help_texts:
        script = os.path.join(SOURCE, words[0])
        if words[0].startswith("scripts/") and os.path.isfile(script):
            body = open(script, encoding="utf-8").read()
            if re.search(r"-h \| --help\)|--help\)", body):
                result = subprocess.run([script, "--help"], capture_output=True, text=True)
                help_texts[key] = result.stdout + result.stderr
            else:
                head = re.match(r"#![^\n]*\n((?:#[^\n]*\n)*)", body)
                help_texts[key] = head.group(1) if head else ""
        else:
            name = PREFLIGHT if program(words) in ("hotfix-preflight", "hotfix-preflight.exe") \
                else words[0]
            try:
                result = subprocess.run([name, *words[1:], "--help"], capture_output=True,
                                        text=True, timeout=60)
                help_texts[key] = result.stdout + result.stderr
            except (OSError, subprocess.TimeoutExpired) as error:
                help_texts[key] = ""
                print(f"note: {' '.join(words)} --help: {error}")
    return help_texts[key]


def check_options(page, line, command, words, subcommands=0):
    text = help_text(words[:1 + subcommands])
    if not text:
        fail(page, line, command, f"{words[0]} tells no options (no --help, no head comment)")
        return
    missing = [option for option in options(words[subcommands:])
               if not re.search(r"(?<![\w-])" + re.escape(option) + r"(?![\w-])", text)]
    for option in missing:
        fail(page, line, command, f"{words[0]} has no option {option}")
    if not missing:
        print(f"ok: {page}:{line}: the options of {' '.join(words[:1 + subcommands])}")


def role_variables():
    """The variables the role documents: its defaults and its README's variables table."""
    names = set()
    for path in (os.path.join(ROLE, "defaults/main.yml"), os.path.join(ROLE, "README.md")):
        for match in re.finditer(r"^(?:\| `)?(hotfix_[a-z0-9_]+)(?:`|:)", open(path).read(), re.M):
            names.add(match.group(1))
    return names


def check_playbook(page, line, command, words, directory, work):
    check_options(page, line, command, words)
    arguments = ["ansible-playbook", "--syntax-check"]
    known = role_variables()
    index = 1
    while index < len(words):
        word = words[index]
        value = words[index + 1] if index + 1 < len(words) else ""
        if word in ("-e", "--extra-vars"):
            # key=value, or a JSON object; a vars file (@FILE) names nothing here.
            names = list(json.loads(value)) if value.startswith("{") else \
                [value.split("=", 1)[0]] if "=" in value else []
            for name in names:
                if name not in known:
                    fail(page, line, command, f"-e {name}: the role documents no such variable")
            arguments += [word, value]
            index += 2
        elif word in ("-l", "--limit"):
            if value.startswith("@") and not os.path.exists(os.path.join(directory, value[1:])):
                # A retry file of a rollout that has not run here: the same form, one host.
                value = "@" + os.path.join(work, "retry.txt")
                with open(value[1:], "w") as retry:
                    retry.write("all\n")
            arguments += [word, value]
            index += 2
        elif word in ("-i", "--inventory", "-f", "--forks"):
            arguments += [word, value]
            index += 2
        else:
            arguments.append(word)
            index += 1
    result = subprocess.run(arguments, cwd=directory, capture_output=True, text=True)
    if result.returncode != 0:
        fail(page, line, command, "--syntax-check failed:\n" + result.stdout + result.stderr)
    else:
        print(f"ok: {page}:{line}: --syntax-check in {os.path.relpath(directory, SOURCE)}")


def package_files(sandbox):
    """The Debian package's files, as the build made them, under the sandbox's /usr."""
    usr = os.path.join(sandbox, "usr")
    for name, target in (
            ("lib/hotfix-launcher/hotfix-launcher", LAUNCHER),
            (f"lib/hotfix-launcher/examples/{EXAMPLE}/{EXAMPLE}.exe", INSTALLER),
            (f"share/hotfix-launcher/examples/{EXAMPLE}",
             os.path.join(SOURCE, "examples", EXAMPLE))):
        os.makedirs(os.path.dirname(os.path.join(usr, name)), exist_ok=True)
        os.symlink(target, os.path.join(usr, name))
    return usr


def sandboxed(command, prefix, usr):
    """The command with the Debian package's paths leading into the sandbox."""
    command = re.sub(r"(?<![\w.-])/usr/(lib|share)/hotfix-launcher", usr + r"/\1/hotfix-launcher",
                     command)
    command = command.replace(PACKAGE_PREFIX, prefix)
    return re.sub(r"(^|[\s(;&|])hotfix-preflight(?=\s|$)", r"\1" + PREFLIGHT, command)


def runnable(command, parts):
    """Whether the line works on the example bundle or the package's paths with commands of the
    sandbox alone (a folder change alone only moves on)."""
    touches = EXAMPLE in command or re.search(r"/(var/lib|usr/lib|usr/share)/hotfix-launcher",
                                              command)
    return touches and any(words[0] != "cd" for words in parts) and all(
        words[0] in RUNNABLE or words[0].startswith(PACKAGE_PREFIX + "/") for words in parts)


def check_page(page, limit, sandbox):
    words = len(open(os.path.join(SOURCE, page), encoding="utf-8").read().split())
    if words >= limit:
        fail(page, 1, "(the page)", f"{words} words, the limit is under {limit}")
    prefix = os.path.join(sandbox, "prefix")
    work = os.path.join(sandbox, "work")
    os.makedirs(work)
    usr = package_files(sandbox)
    directory = SOURCE
    for line, command, language in commands(page):
        try:
            parts = segments(command)
        except ValueError as error:
            fail(page, line, command, f"cannot be split into words: {error}")
            continue
        if language != "sh":
            for words in parts:
                if program(words) in ("hotfix-preflight", "hotfix-preflight.exe"):
                    check_options(page, line, command, words)
            continue
        if runnable(command, parts):
            result = subprocess.run(["bash", "-c", sandboxed(command, prefix, usr)], cwd=work,
                                    capture_output=True, text=True,
                                    env={**os.environ, "HOTFIX_LAUNCHER_PREFIX": prefix})
            # A preflight shown in a guide reports a bundle that is ready or installed.
            expected = (0, 2) if program(parts[-1]) == "hotfix-preflight" else (0,)
            if result.returncode not in expected:
                fail(page, line, command, f"exit status {result.returncode}:\n"
                     + result.stdout[-2000:] + result.stderr[-2000:])
            else:
                print(f"ok: {page}:{line}: ran, exit status {result.returncode}")
            continue
        for words in parts:
            if words[0] == "cd":
                # A folder of the checkout, or one a script lays out (the collection's
                # ansible.cfg of the checkout finds the same playbooks there).
                target = os.path.join(directory, words[1])
                directory = target if os.path.isdir(target) else ANSIBLE_DIR
            elif words[0] == "ansible-playbook":
                check_playbook(page, line, command, words, directory, work)
            elif words[0] == "ansible-galaxy":
                check_options(page, line, command, words, subcommands=2)
            elif words[0].startswith("scripts/"):
                if not os.access(os.path.join(SOURCE, words[0]), os.X_OK):
                    fail(page, line, command, f"{words[0]} is not an executable script")
                    continue
                if words[1:] in (["--help"], ["-h"]):
                    result = subprocess.run([os.path.join(SOURCE, words[0]), words[1]],
                                            capture_output=True, text=True)
                    if result.returncode != 0:
                        fail(page, line, command, f"exit status {result.returncode}")
                    continue
                check_options(page, line, command, words)
            else:
                check_options(page, line, command, words)


with tempfile.TemporaryDirectory() as sandboxes:
    pages = [("README.md", README_WORDS)] + [
        (os.path.relpath(path, SOURCE), GUIDE_WORDS)
        for path in sorted(glob.glob(os.path.join(SOURCE, "docs/guides/*.md")))]
    for number, (page, limit) in enumerate(pages):
        check_page(page, limit, os.path.join(sandboxes, str(number)))
    print(f"{len(pages)} pages checked, {problems} problems")
sys.exit(1 if problems else 0)
