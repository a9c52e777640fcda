#!/usr/bin/python
# -*- coding: utf-8 -*-
# A test double of ansible.windows.win_acl for a simulated Windows host (a Wine prefix). It
# changes nothing and returns changed false: Wine derives a file's DACL from its Unix owner and
# mode and cannot store an access control entry. Only the options are checked.
from __future__ import absolute_import, division, print_function

from ansible.module_utils.basic import AnsibleModule

__metaclass__ = type


def main():
    module = AnsibleModule(argument_spec=dict(
        path=dict(type='str', required=True), user=dict(type='str', required=True),
        rights=dict(type='str', required=True), type=dict(type='str', required=True,
                                                          choices=['allow', 'deny']),
        state=dict(type='str', default='present', choices=['absent', 'present']),
        inherit=dict(type='str'),
        propagation=dict(type='str', default='None',
                         choices=['InheritOnly', 'None', 'NoPropagateInherit'])),
        supports_check_mode=True)
    module.exit_json(changed=False)


if __name__ == '__main__':
    main()
