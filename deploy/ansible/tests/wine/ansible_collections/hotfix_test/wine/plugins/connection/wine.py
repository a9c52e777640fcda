# -*- coding: utf-8 -*-
"""Test connection of the rollout's fleet test: a simulated Windows host is a Wine prefix on this
machine. It is the local connection with WINEPREFIX set to the host's hotfix_wine_prefix (and
Wine's debug output off) for every command, so that the test doubles of ansible.windows act on
that prefix."""

from __future__ import absolute_import, division, print_function

import os

from ansible.plugins.connection.local import Connection as LocalConnection

__metaclass__ = type

DOCUMENTATION = r'''
name: wine
short_description: Runs modules on this machine for a simulated Windows host, a Wine prefix
description:
  - The local connection, with WINEPREFIX set to the host's prefix for every command.
author: hotfix-launcher developers
extends_documentation_fragment:
  - connection_pipelining
options:
  wine_prefix:
    description: The host's Wine prefix.
    required: true
    vars:
      - name: hotfix_wine_prefix
'''


class Connection(LocalConnection):
    """The connection."""

    transport = 'hotfix_test.wine.wine'

    def exec_command(self, cmd, in_data=None, sudoable=True):
        os.environ['WINEPREFIX'] = self.get_option('wine_prefix')
        os.environ['WINEDEBUG'] = '-all'
        return super(Connection, self).exec_command(cmd, in_data=in_data, sudoable=sudoable)
