#!/usr/bin/python
# -*- coding: utf-8 -*-
# A test double of ansible.windows.win_owner for a simulated Windows host (a Wine prefix). It
# changes nothing and returns changed false: Wine derives a file's security descriptor from its
# Unix owner and mode and cannot store another owner (SetNamedSecurityInfoW returns 0, and the next
# read shows the derived descriptor again). Only the options are checked.
from __future__ import absolute_import, division, print_function

from ansible.module_utils.basic import AnsibleModule

__metaclass__ = type


def main():
    module = AnsibleModule(argument_spec=dict(path=dict(type='str', required=True),
                                              user=dict(type='str', required=True),
                                              recurse=dict(type='bool', default=False)),
                           supports_check_mode=True)
    module.exit_json(changed=False)


if __name__ == '__main__':
    main()
