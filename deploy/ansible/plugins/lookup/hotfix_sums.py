# -*- coding: utf-8 -*-
"""Lookup of the hotfix_rollout role: the files the controller stages on a host, with their
SHA-256, for the bundle's SHA256SUMS and the modes they are staged with."""

from __future__ import absolute_import, division, print_function

import hashlib
import os
import stat

from ansible.errors import AnsibleError
from ansible.plugins.lookup import LookupBase
from ansible.utils.hashing import secure_hash

__metaclass__ = type

DOCUMENTATION = r'''
name: hotfix_sums
short_description: A bundle's files on the controller, with their SHA-256
description:
  - For each term, a folder or a file on the controller, the list of its files by name, each
    C(path) (relative to the folder with "/" between folders; a file's own name), C(src) (the
    controller path), C(checksum) (SHA-256) and C(executable) (whether any execute bit is set on
    the controller).
  - A link to a file counts as the file it names, as ansible.builtin.copy follows it; a link to a
    folder is refused.
options:
  _terms:
    description: Folders or files.
    required: true
'''


def _file(path, relative):
    status = os.stat(path)
    if not stat.S_ISREG(status.st_mode):
        raise AnsibleError('hotfix_sums: %s on the controller is not a regular file' % path)
    return {'path': relative, 'src': path, 'checksum': secure_hash(path, hashlib.sha256),
            'executable': bool(status.st_mode & 0o111)}


def bundle_entries(term):
    """The files of one folder, or the one file, on the controller."""
    path = os.path.normpath(str(term))
    if os.path.isfile(path):
        return [_file(path, os.path.basename(path))]
    if not os.path.isdir(path):
        raise AnsibleError('hotfix_sums: no folder or file %s on the controller' % path)
    entries = []
    for folder, folders, names in os.walk(path):
        for name in folders:
            if os.path.islink(os.path.join(folder, name)):
                raise AnsibleError('hotfix_sums: %s on the controller is a link to a folder'
                                   % os.path.join(folder, name))
        for name in names:
            full = os.path.join(folder, name)
            entries.append(_file(full, os.path.relpath(full, path).replace(os.sep, '/')))
    return sorted(entries, key=lambda entry: entry['path'])


class LookupModule(LookupBase):
    """The lookup: one list of entries per term."""

    def run(self, terms, variables=None, **kwargs):
        return [bundle_entries(term) for term in terms]
