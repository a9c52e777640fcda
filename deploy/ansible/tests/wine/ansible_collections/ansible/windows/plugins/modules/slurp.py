#!/usr/bin/python
# -*- coding: utf-8 -*-
# A test double of ansible.windows.slurp for a simulated Windows host (a Wine prefix): it returns
# the real module's documented values content (base64), encoding and source of the file the prefix
# holds at src, and fails as it does when there is none.
from __future__ import absolute_import, division, print_function

import base64

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.ansible.windows.plugins.module_utils.wine_host import host_path

__metaclass__ = type


def main():
    module = AnsibleModule(argument_spec=dict(src=dict(type='str', required=True,
                                                       aliases=['path'])),
                           supports_check_mode=True)
    try:
        with open(host_path(module.params['src']), 'rb') as opened:
            content = base64.b64encode(opened.read()).decode('ascii')
    except OSError as error:
        module.fail_json(msg='Path %s is not found: %s' % (module.params['src'], error))
    module.exit_json(changed=False, content=content, encoding='base64',
                     source=module.params['src'])


if __name__ == '__main__':
    main()
