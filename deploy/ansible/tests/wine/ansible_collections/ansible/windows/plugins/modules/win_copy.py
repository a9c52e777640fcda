#!/usr/bin/python
# -*- coding: utf-8 -*-
# A test double of ansible.windows.win_copy for a simulated Windows host (a Wine prefix), whose
# "remote" is this machine: it reads src from the controller itself, where the real module's
# action plugin would send it. A file goes to dest, or into dest when dest ends in a backslash or
# is a folder; a folder's contents go into dest when src ends in "/", else the folder itself;
# content writes dest. It returns changed (false when dest already has the bytes), dest, size and
# checksum (SHA-1) as the real module does, and has no backup, force, remote_src or decrypt.
from __future__ import absolute_import, division, print_function

import hashlib
import os
import shutil

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.ansible.windows.plugins.module_utils.wine_host import host_path

__metaclass__ = type


def _same(path, data):
    try:
        with open(path, 'rb') as present:
            return present.read() == data
    except OSError:
        return False


def _put(target, data, check_mode):
    """Writes data to target unless it holds it; returns whether it changed."""
    if _same(target, data):
        return False
    if not check_mode:
        os.makedirs(os.path.dirname(target), exist_ok=True)
        if os.path.isdir(target) and not os.path.islink(target):
            shutil.rmtree(target)
        with open(target, 'wb') as out:
            out.write(data)
    return True


def main():
    module = AnsibleModule(argument_spec=dict(src=dict(type='path'), content=dict(type='str'),
                                              dest=dict(type='str', required=True)),
                           mutually_exclusive=[('src', 'content')],
                           required_one_of=[('src', 'content')], supports_check_mode=True)
    src, dest = module.params['src'], module.params['dest']
    target = host_path(dest)
    into = dest.endswith(('\\', '/')) or os.path.isdir(target)
    files = []
    if module.params['content'] is not None:
        files.append((target, module.params['content'].encode('utf-8')))
    elif os.path.isdir(src):
        base = target if src.endswith('/') else os.path.join(target, os.path.basename(src))
        for folder, _, names in os.walk(src):
            for name in names:
                full = os.path.join(folder, name)
                with open(full, 'rb') as source:
                    files.append((os.path.join(base, os.path.relpath(full, src)), source.read()))
    else:
        with open(src, 'rb') as source:
            files.append((os.path.join(target, os.path.basename(src)) if into else target,
                          source.read()))
    changed = False
    for path, data in files:
        changed |= _put(path, data, module.check_mode)
    single = files[0][1] if len(files) == 1 else None
    module.exit_json(changed=changed, dest=dest, **(
        dict(size=len(single), checksum=hashlib.sha1(single).hexdigest()) if single is not None
        else {}))


if __name__ == '__main__':
    main()
