# -*- coding: utf-8 -*-
"""Lookup of the hotfix_rollout role: the SHA-256 of each file the controller sends a host."""

from __future__ import absolute_import, division, print_function

import hashlib
import os

from ansible.errors import AnsibleError
from ansible.plugins.lookup import LookupBase

__metaclass__ = type

DOCUMENTATION = r'''
name: hotfix_sums
short_description: SHA-256 of a bundle's files on the controller
description:
  - For each term, a folder or a file on the controller, one dictionary of the files' names
    (relative to the folder, with "/" between folders; a file's own name) and their SHA-256.
options:
  _terms:
    description: Folders or files.
    required: true
'''


def _sha256(path):
    digest = hashlib.sha256()
    with open(path, 'rb') as data:
        for chunk in iter(lambda: data.read(1 << 20), b''):
            digest.update(chunk)
    return digest.hexdigest()


class LookupModule(LookupBase):
    """The lookup."""

    def run(self, terms, variables=None, **kwargs):
        sums = []
        for term in terms:
            path = os.path.normpath(str(term))
            if os.path.isfile(path):
                sums.append({os.path.basename(path): _sha256(path)})
                continue
            if not os.path.isdir(path):
                raise AnsibleError('hotfix_sums: no folder or file %s on the controller' % path)
            found = {}
            for folder, _, names in os.walk(path):
                for name in names:
                    full = os.path.join(folder, name)
                    found[os.path.relpath(full, path).replace(os.sep, '/')] = _sha256(full)
            sums.append(found)
        return sums
