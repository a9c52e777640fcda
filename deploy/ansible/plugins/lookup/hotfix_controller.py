# -*- coding: utf-8 -*-
"""Lookup of the hotfix_rollout role: what one host's rollout needs that this controller lacks,
each with how to get it, for the controller's check that runs before any host is touched."""

from __future__ import absolute_import, division, print_function

import importlib
import os
import re
import sys
import tempfile

import yaml
from ansible.plugins.loader import module_loader
from ansible.plugins.lookup import LookupBase
from ansible.release import __version__ as ansible_version

__metaclass__ = type

DOCUMENTATION = r'''
name: hotfix_controller
short_description: What a host's rollout needs that the controller lacks
description:
  - A list of texts, each naming one thing the controller lacks and how to get it, empty when it
    lacks nothing; the ansible-core version that meta/runtime.yml requires, the collection
    ansible.windows for a Windows host, the Python package of a winrm or psrp connection (for the
    Python that runs ansible-playbook), the bundle's folder with an Installer.ini, and a results
    folder this user can write to or make; for a Linux host's back-out, its back-out command.
options:
  platform:
    description: The host's hotfix_platform.
    type: str
    required: true
  connection:
    description: The host's ansible_connection.
    type: str
    default: ssh
  bundle:
    description: The host's hotfix_bundle_src.
    type: str
    required: true
  results:
    description: The host's hotfix_results_dir.
    type: str
    required: true
  backout_command_missing:
    description: The host is a Linux host of a back-out and has no hotfix_backout_command.
    type: bool
    default: false
'''

COLLECTION = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..')
# The Python package each connection needs, and how Debian or pip installs it.
CONNECTION_PACKAGES = {
    'winrm': ('winrm', 'pywinrm', 'apt-get install python3-winrm, or pip install pywinrm'),
    'psrp': ('pypsrp', 'pypsrp', 'pip install pypsrp'),
}


def _version(text):
    return tuple(int(part) for part in re.findall(r'\d+', text)[:3])


def _ansible_lacks():
    with open(os.path.join(COLLECTION, 'meta', 'runtime.yml'), encoding='utf-8') as runtime:
        required = yaml.safe_load(runtime)['requires_ansible']
    least = required.lstrip('>=')
    if _version(ansible_version) < _version(least):
        return ['ansible-core %s or later (this is %s): pip install "ansible-core%s"'
                % (least, ansible_version, required)]
    return []


def _results_lacks(results):
    """A folder is made and removed where the results folder is, or would be made: that is the
    test of writing there that holds for root too."""
    folder = os.path.abspath(results)
    while not os.path.lexists(folder):
        folder = os.path.dirname(folder)
    try:
        os.rmdir(tempfile.mkdtemp(prefix='.hotfix-check-', dir=folder))
    except OSError as error:
        return ['a results folder that this user can write: %s, the folder of hotfix_results_dir %s '
                '(%s)' % (folder, results, error.strerror)]
    return []


def controller_lacks(platform, connection, bundle, results, backout_command_missing=False):
    """The list of what the controller lacks for one host."""
    lacks = _ansible_lacks()
    if backout_command_missing:
        lacks.append('hotfix_backout_command, for a back-out of Linux hosts, which has no default '
                     'there: the command that removes the hotfix, as a list of arguments')
    if platform == 'windows' and not module_loader.find_plugin_with_context(
            'ansible.windows.win_command').resolved:
        lacks.append('the collection ansible.windows, for Windows hosts: ansible-galaxy '
                     'collection install -r %s' % os.path.normpath(
                         os.path.join(COLLECTION, 'requirements.yml')))
    package = CONNECTION_PACKAGES.get(str(connection).split('.')[-1])
    if package:
        try:
            importlib.import_module(package[0])
        except ImportError:
            lacks.append('%s, the Python package of the %s connection, for %s: %s'
                         % (package[1], str(connection).split('.')[-1], sys.executable,
                            package[2]))
    if not bundle:
        lacks.append('the bundle\'s folder on the controller: set hotfix_bundle_src')
    elif not os.path.isdir(bundle):
        lacks.append('the bundle\'s folder %s (hotfix_bundle_src) on the controller' % bundle)
    elif not any(name.lower() == 'installer.ini' for name in os.listdir(bundle)):
        lacks.append('an Installer.ini in the bundle\'s folder %s (hotfix_bundle_src)' % bundle)
    return lacks + _results_lacks(results)


class LookupModule(LookupBase):
    """The lookup."""

    def run(self, terms, variables=None, **kwargs):
        self.set_options(var_options=variables, direct=kwargs)
        return controller_lacks(self.get_option('platform'), self.get_option('connection'),
                                self.get_option('bundle'), self.get_option('results'),
                                self.get_option('backout_command_missing'))
