# -*- coding: utf-8 -*-
"""What the test doubles of ansible.windows share: a simulated Windows host is the Wine prefix of
WINEPREFIX on this machine (the connection hotfix_test.wine.wine sets it per host), whose drive
letters are the links in its dosdevices folder (C: is drive_c), and its programs run under Wine
through the relay of HOTFIX_WINE_RELAY, which hands back their full 32-bit exit code in a file
outside the prefix. Paths are matched without regard to case, as Windows matches them."""

from __future__ import absolute_import, division, print_function

import os
import subprocess
import tempfile

__metaclass__ = type


def host_path(path):
    """The host path of an absolute Windows path such as C:\\hotfix\\KB1 (or C:/hotfix/KB1)."""
    path = str(path).replace('/', '\\')
    if len(path) < 2 or path[1] != ':' or not path[0].isalpha():
        raise ValueError('not an absolute Windows path with a drive letter: %s' % path)
    current = os.path.realpath(os.path.join(os.environ['WINEPREFIX'], 'dosdevices',
                                            path[0].lower() + ':'))
    for part in (part for part in path[2:].split('\\') if part):
        candidate = os.path.join(current, part)
        if not os.path.lexists(candidate) and os.path.isdir(current):
            same = [name for name in os.listdir(current) if name.lower() == part.lower()]
            candidate = os.path.join(current, same[0]) if same else candidate
        current = candidate
    return current


def run_program(argv, chdir=None, stdin=None):
    """Runs argv (Windows paths and arguments; Wine quotes them into one command line) in the
    folder chdir, with the bytes stdin on its standard input (none when it is None); returns (rc,
    stdout, stderr, start_error), rc the full 32-bit exit code (unsigned), or None with
    start_error the system's error code when the program did not start."""
    relay = os.environ.get('HOTFIX_WINE_RELAY')
    if not relay or not os.path.isfile(relay):
        raise RuntimeError('HOTFIX_WINE_RELAY names no relay_exit_code.exe: %s' % relay)
    fd, code_file = tempfile.mkstemp(prefix='hotfix-wine-code-')
    os.close(fd)
    try:
        done = subprocess.run(['wine', relay, 'Z:' + code_file.replace('/', '\\')] + list(argv),
                              cwd=host_path(chdir) if chdir else None, input=stdin or b'',
                              capture_output=True, check=False)
        with open(code_file, encoding='ascii') as written:
            kind, _, value = written.read().strip().partition(' ')
    finally:
        os.unlink(code_file)
    stdout = done.stdout.decode('utf-8', 'replace')
    stderr = done.stderr.decode('utf-8', 'replace')
    if kind == 'exit':
        return int(value), stdout, stderr, None
    if kind == 'start':
        return None, stdout, stderr, int(value)
    raise RuntimeError('the relay gave no exit code (status %d): %s' % (done.returncode, stderr))
