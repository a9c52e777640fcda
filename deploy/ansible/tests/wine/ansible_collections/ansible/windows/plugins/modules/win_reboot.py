#!/usr/bin/python
# -*- coding: utf-8 -*-
# A test double of ansible.windows.win_reboot for a simulated Windows host (a Wine prefix): Wine's
# own restart of the prefix (wineboot --restart ends the session and runs what a boot runs, such
# as pending file renames), within reboot_timeout seconds, and the real module's documented values
# (rebooted, elapsed). The real one is an action plugin that waits for the host to answer again;
# the prefix is back when wineboot ends. The options the real one has for that wait are taken and
# not used.
from __future__ import absolute_import, division, print_function

import os
import subprocess
import time

from ansible.module_utils.basic import AnsibleModule

__metaclass__ = type


def main():
    module = AnsibleModule(argument_spec=dict(
        reboot_timeout=dict(type='int', default=600), msg=dict(type='str'),
        pre_reboot_delay=dict(type='int', default=2), post_reboot_delay=dict(type='int', default=0),
        connect_timeout=dict(type='int', default=5), test_command=dict(type='str'),
        boot_time_command=dict(type='str')))
    started = time.monotonic()
    try:
        done = subprocess.run(['wine', 'wineboot', '--restart'], capture_output=True, check=False,
                              timeout=module.params['reboot_timeout'], env=dict(os.environ))
    except subprocess.TimeoutExpired:
        module.fail_json(msg='Timed out waiting for the host to come back after %d seconds'
                         % module.params['reboot_timeout'], rebooted=True, elapsed=int(time.monotonic() - started))
    if done.returncode != 0:
        module.fail_json(msg='Reboot command failed: %s' % done.stderr.decode('utf-8', 'replace'),
                         rebooted=False, elapsed=int(time.monotonic() - started))
    module.exit_json(changed=True, rebooted=True, elapsed=int(time.monotonic() - started))


if __name__ == '__main__':
    main()
