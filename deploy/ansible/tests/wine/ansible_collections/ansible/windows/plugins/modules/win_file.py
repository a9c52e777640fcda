#!/usr/bin/python
# -*- coding: utf-8 -*-
# A test double of ansible.windows.win_file for a simulated Windows host (a Wine prefix): state
# directory makes the folder and its missing parents, absent removes a file, a link or a folder
# with all it holds, file checks that path is there; each returns changed as the real module does.
# It has no touch state, and what it makes gets this machine's owner and umask, from which Wine
# derives the folder's security descriptor.
from __future__ import absolute_import, division, print_function

import os
import shutil

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.ansible.windows.plugins.module_utils.wine_host import host_path

__metaclass__ = type


def main():
    module = AnsibleModule(argument_spec=dict(
        path=dict(type='str', required=True, aliases=['dest', 'name']),
        state=dict(type='str', choices=['absent', 'directory', 'file'])), supports_check_mode=True)
    path, state = host_path(module.params['path']), module.params['state']
    changed = False
    if state == 'directory' and not os.path.isdir(path):
        if os.path.lexists(path):
            module.fail_json(msg='path %s is not a directory' % module.params['path'])
        changed = True
        if not module.check_mode:
            os.makedirs(path)
    elif state == 'absent' and os.path.lexists(path):
        changed = True
        if not module.check_mode:
            if os.path.isdir(path) and not os.path.islink(path):
                shutil.rmtree(path)
            else:
                os.unlink(path)
    elif state == 'file' and not os.path.isfile(path):
        module.fail_json(msg='path %s will not be created' % module.params['path'])
    module.exit_json(changed=changed)


if __name__ == '__main__':
    main()
