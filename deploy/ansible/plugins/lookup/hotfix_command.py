# -*- coding: utf-8 -*-
"""Lookup of the hotfix_rollout role: the ansible-playbook command of this run with another
--limit, the command that goes on from a rollout's retry list."""

from __future__ import absolute_import, division, print_function

import os
import shlex
import sys

from ansible.plugins.lookup import LookupBase

__metaclass__ = type

DOCUMENTATION = r'''
name: hotfix_command
short_description: This run's ansible-playbook command with another --limit
description:
  - For each term, a --limit value such as C(@/srv/hotfix/results/KB5001234-20261208T011637Z-1/retry.txt),
    the command line this ansible-playbook run was given (its options and extra vars as they
    were, in shell quoting) with its own C(--limit) or C(-l) left out and C(--limit <term>) added.
options:
  _terms:
    description: Values for --limit.
    required: true
'''


def command_with_limit(argv, limit):
    """argv as one shell command, its --limit replaced by limit."""
    kept, skip = [], False
    for arg in argv[1:]:
        if skip:
            skip = False
        elif arg in ('-l', '--limit'):
            skip = True
        elif not (arg.startswith('--limit=') or (arg.startswith('-l') and not
                                                 arg.startswith('--'))):
            kept.append(arg)
    return ' '.join(shlex.quote(arg) for arg in
                    [os.path.basename(argv[0])] + kept + ['--limit', limit])


class LookupModule(LookupBase):
    """The lookup: ansible-playbook's workers are forks of it and keep its argv."""

    def run(self, terms, variables=None, **kwargs):
        return [command_with_limit(sys.argv, str(term)) for term in terms]
