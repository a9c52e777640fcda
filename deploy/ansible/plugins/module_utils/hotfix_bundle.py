# -*- coding: utf-8 -*-
"""A bundle's files on the controller, with their SHA-256, and the SHA256SUMS list of them that
the preflight checks a staged bundle against (--sums), in sha256sum's own format: shared by the
hotfix_sums lookup, the hotfix_sha256sums filter and the hotfix_stage_archive module."""

from __future__ import absolute_import, division, print_function

import hashlib
import os
import stat

__metaclass__ = type


class BundleError(Exception):
    """A bundle that cannot be staged as it is on the controller."""


def _sha256(path):
    digest = hashlib.sha256()
    with open(path, 'rb') as data:
        for block in iter(lambda: data.read(1 << 20), b''):
            digest.update(block)
    return digest.hexdigest()


def _file(path, relative):
    status = os.stat(path)
    if not stat.S_ISREG(status.st_mode):
        raise BundleError('%s on the controller is not a regular file' % path)
    return {'path': relative, 'src': path, 'checksum': _sha256(path),
            'executable': bool(status.st_mode & 0o111)}


def bundle_entries(term):
    """The files of one folder, or the one file, on the controller, by name: each 'path'
    (relative to the folder, "/" between folders; a file's own name), 'src' (the controller
    path), 'checksum' (SHA-256) and 'executable' (any execute bit set on the controller). A link
    to a file counts as the file it names; a link to a folder is refused."""
    path = os.path.normpath(str(term))
    if os.path.isfile(path):
        return [_file(path, os.path.basename(path))]
    if not os.path.isdir(path):
        raise BundleError('no folder or file %s on the controller' % path)
    entries = []
    for folder, folders, names in os.walk(path):
        for name in folders:
            if os.path.islink(os.path.join(folder, name)):
                raise BundleError('%s on the controller is a link to a folder'
                                  % os.path.join(folder, name))
        for name in names:
            full = os.path.join(folder, name)
            entries.append(_file(full, os.path.relpath(full, path).replace(os.sep, '/')))
    return sorted(entries, key=lambda entry: entry['path'])


def sha256sums(entries):
    """The text of a SHA256SUMS list of the entries that have a checksum ({'path', 'checksum'}),
    by name: "<SHA-256>  <name>" per line, and as sha256sum writes a name holding a backslash, a
    line feed or a carriage return, the line starting with a backslash and those escaped."""
    lines = []
    for entry in sorted((entry for entry in entries if entry.get('checksum')),
                        key=lambda entry: entry['path']):
        name = entry['path']
        escaped = name.replace('\\', '\\\\').replace('\n', '\\n').replace('\r', '\\r')
        lines.append('%s%s  %s\n' % ('\\' if escaped != name else '', entry['checksum'].lower(),
                                     escaped))
    return ''.join(lines)
