# -*- coding: utf-8 -*-
"""Filter of the hotfix_rollout role: the SHA256SUMS list that the preflight checks a staged
bundle against (--sums), in sha256sum's own format."""

from __future__ import absolute_import, division, print_function

from ansible_collections.hotfix.launcher.plugins.module_utils.hotfix_bundle import sha256sums

__metaclass__ = type


class FilterModule(object):
    """The filter."""

    def filters(self):
        return {'hotfix_sha256sums': sha256sums}
