# -*- coding: utf-8 -*-
"""Lookup of the hotfix_rollout role: the files the controller stages on a host, with their
SHA-256, for the bundle's SHA256SUMS and the modes they are staged with."""

from __future__ import absolute_import, division, print_function

from ansible.errors import AnsibleError
from ansible.plugins.lookup import LookupBase
from ansible_collections.hotfix.launcher.plugins.module_utils.hotfix_bundle import (
    BundleError, bundle_entries)

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


class LookupModule(LookupBase):
    """The lookup: one list of entries per term."""

    def run(self, terms, variables=None, **kwargs):
        try:
            return [bundle_entries(term) for term in terms]
        except (BundleError, OSError) as error:
            raise AnsibleError('hotfix_sums: %s' % error)
