# -*- coding: utf-8 -*-
"""Lookup of the hotfix_rollout role: the SHA-256 of each file the controller sends a host."""

from __future__ import absolute_import, division, print_function

import hashlib
import os

from ansible.errors import AnsibleError
from ansible.plugins.lookup import LookupBase
from ansible.utils.hashing import secure_hash

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


class LookupModule(LookupBase):
    """The lookup."""

    def run(self, terms, variables=None, **kwargs):
        sums = []
        for term in terms:
            path = os.path.normpath(str(term))
            if os.path.isfile(path):
                sums.append({os.path.basename(path): secure_hash(path, hashlib.sha256)})
                continue
            if not os.path.isdir(path):
                raise AnsibleError('hotfix_sums: no folder or file %s on the controller' % path)
            found = {}
            for folder, _, names in os.walk(path):
                for name in names:
                    full = os.path.join(folder, name)
                    relative = os.path.relpath(full, path).replace(os.sep, '/')
                    found[relative] = secure_hash(full, hashlib.sha256)
            sums.append(found)
        return sums
