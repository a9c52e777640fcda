#!/usr/bin/python
# -*- coding: utf-8 -*-
# A test double of ansible.windows.win_stat for a simulated Windows host (a Wine prefix): it
# returns the real module's documented stat values exists, path, filename, isdir, isreg, islnk,
# isjunction (always false: a Unix link is islnk), nlink, size and checksum of the file the prefix
# holds at path. It returns no owner, attributes, times or link targets.
from __future__ import absolute_import, division, print_function

import hashlib
import os
import stat

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.ansible.windows.plugins.module_utils.wine_host import host_path

__metaclass__ = type


def main():
    module = AnsibleModule(argument_spec=dict(
        path=dict(type='str', required=True, aliases=['dest', 'name']),
        get_checksum=dict(type='bool', default=True),
        get_size=dict(type='bool', default=True),
        checksum_algorithm=dict(type='str', default='sha1',
                                choices=['md5', 'sha1', 'sha256', 'sha384', 'sha512']),
        follow=dict(type='bool', default=False)), supports_check_mode=True)
    path = host_path(module.params['path'])
    try:
        found = os.stat(path) if module.params['follow'] else os.lstat(path)
    except FileNotFoundError:
        module.exit_json(changed=False, stat=dict(exists=False))
    facts = dict(exists=True, path=module.params['path'], filename=os.path.basename(path),
                 isdir=stat.S_ISDIR(found.st_mode), isreg=stat.S_ISREG(found.st_mode),
                 islnk=stat.S_ISLNK(found.st_mode), isjunction=False, nlink=found.st_nlink)
    if module.params['get_size']:
        facts['size'] = found.st_size
    if module.params['get_checksum'] and facts['isreg']:
        with open(path, 'rb') as opened:
            facts['checksum'] = hashlib.new(module.params['checksum_algorithm'],
                                            opened.read()).hexdigest()
    module.exit_json(changed=False, stat=facts)


if __name__ == '__main__':
    main()
