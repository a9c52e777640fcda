#!/usr/bin/python
# -*- coding: utf-8 -*-
# A test double of ansible.windows.win_acl_inheritance for a simulated Windows host (a Wine
# prefix). It changes nothing and returns changed false: Wine derives a file's DACL from its Unix
# owner and mode, so there is no inheritance to turn off. Only the options are checked.
from __future__ import absolute_import, division, print_function

from ansible.module_utils.basic import AnsibleModule

__metaclass__ = type


def main():
    module = AnsibleModule(argument_spec=dict(
        path=dict(type='str', required=True),
        state=dict(type='str', default='absent', choices=['absent', 'present']),
        reorganize=dict(type='bool', default=False)), supports_check_mode=True)
    module.exit_json(changed=False)


if __name__ == '__main__':
    main()
