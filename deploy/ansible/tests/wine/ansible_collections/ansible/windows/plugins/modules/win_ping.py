#!/usr/bin/python
# -*- coding: utf-8 -*-
# A test double of ansible.windows.win_ping for a simulated Windows host (a Wine prefix): it
# answers ping with data ("pong"), as the real module does, and checks that the prefix is there.
from __future__ import absolute_import, division, print_function

import os

from ansible.module_utils.basic import AnsibleModule

__metaclass__ = type


def main():
    module = AnsibleModule(argument_spec=dict(data=dict(type='str', default='pong')),
                           supports_check_mode=True)
    if not os.path.isfile(os.path.join(os.environ.get('WINEPREFIX', ''), 'system.reg')):
        module.fail_json(msg='no Wine prefix at WINEPREFIX %s' % os.environ.get('WINEPREFIX'))
    module.exit_json(changed=False, ping=module.params['data'])


if __name__ == '__main__':
    main()
