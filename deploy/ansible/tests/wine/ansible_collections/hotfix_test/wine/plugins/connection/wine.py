# -*- coding: utf-8 -*-
"""Test connection of the rollout's simulated Windows hosts: such a host is a Wine prefix on this
machine. It is the local connection with WINEPREFIX set to the host's hotfix_wine_prefix (and
Wine's debug output off) for every command, so that the test doubles of ansible.windows act on
that prefix, and HOTFIX_WINE_RELAY to the relay that hands them a program's full exit code."""

from __future__ import absolute_import, division, print_function

import os

from ansible.plugins.connection.local import Connection as LocalConnection

__metaclass__ = type

DOCUMENTATION = r'''
name: wine
short_description: Runs modules on this machine for a simulated Windows host, a Wine prefix
description:
  - The local connection, with WINEPREFIX set to the host's prefix for every command, and
    HOTFIX_WINE_RELAY to the relay of a windows-x64 build (tests/relay_exit_code.exe).
author: hotfix-launcher developers
extends_documentation_fragment:
  - connection_pipelining
options:
  wine_prefix:
    description: The host's Wine prefix.
    required: true
    vars:
      - name: hotfix_wine_prefix
  wine_relay:
    description: The relay_exit_code.exe of a windows-x64 build.
    required: true
    env:
      - name: HOTFIX_WINE_RELAY
    vars:
      - name: hotfix_wine_relay
'''


class Connection(LocalConnection):
    """The connection."""

    transport = 'hotfix_test.wine.wine'

    def exec_command(self, cmd, in_data=None, sudoable=True):
        os.environ['WINEPREFIX'] = self.get_option('wine_prefix')
        os.environ['HOTFIX_WINE_RELAY'] = self.get_option('wine_relay')
        os.environ['WINEDEBUG'] = '-all'
        return super(Connection, self).exec_command(cmd, in_data=in_data, sudoable=sudoable)
