#!/usr/bin/python
# -*- coding: utf-8 -*-
"""Reads files on a Linux host of the launcher as the launcher opens them in drive C's root, where
anyone may create one: ansible.builtin.slurp would follow a link or block on a FIFO."""

from __future__ import absolute_import, division, print_function

import base64
import errno
import os
import stat

from ansible.module_utils.basic import AnsibleModule

__metaclass__ = type

DOCUMENTATION = r'''
module: hotfix_linux_read
short_description: Reads files of hotfix-launcher's prefix as the launcher opens them
description:
  - Reads each file only when it is a regular file with one name and no link, checked on the
    open descriptor too, so that nothing swapped in meanwhile is read; anything else is named and
    never opened (a FIFO or a device is never opened at all).
options:
  paths:
    description: The host paths of the files.
    type: list
    elements: str
    required: true
author: hotfix-launcher developers
'''

RETURN = r'''
files:
  description: Per path C(path), C(state) (C(regular file), C(missing) or what else it is) and, for
    a regular file, C(content), the base64 of its bytes.
  returned: always
  type: list
'''

_KINDS = ((stat.S_ISLNK, 'a symbolic link'), (stat.S_ISDIR, 'a folder'), (stat.S_ISFIFO, 'a FIFO'),
          (stat.S_ISSOCK, 'a socket'), (stat.S_ISCHR, 'a device'), (stat.S_ISBLK, 'a device'))


def _kind(status):
    """What a file that lstat saw is, as a reason names it."""
    if stat.S_ISREG(status.st_mode):
        return 'a file with %d names' % status.st_nlink if status.st_nlink > 1 else 'regular file'
    return next((name for test, name in _KINDS if test(status.st_mode)), 'not a regular file')


def read_as_launcher(path):
    """{'path', 'state'[, 'content']} of one file."""
    found = {'path': path}
    try:
        seen = os.lstat(path)
    except OSError as error:
        found['state'] = 'missing' if error.errno == errno.ENOENT else os.strerror(error.errno)
        return found
    found['state'] = _kind(seen)
    if found['state'] != 'regular file':
        return found
    try:
        fd = os.open(path, os.O_RDONLY | os.O_NOFOLLOW | os.O_NONBLOCK | os.O_CLOEXEC)
    except OSError as error:
        found['state'] = os.strerror(error.errno)
        return found
    with os.fdopen(fd, 'rb') as opened:
        status = os.fstat(fd)
        if (status.st_dev, status.st_ino) != (seen.st_dev, seen.st_ino) or _kind(status) != \
                'regular file':
            found['state'] = 'replaced while it was opened'
        else:
            found['content'] = base64.b64encode(opened.read()).decode('ascii')
    return found


def main():
    module = AnsibleModule(argument_spec=dict(paths=dict(type='list', elements='str', required=True)),
                           supports_check_mode=True)
    module.exit_json(changed=False, files=[read_as_launcher(path) for path in module.params['paths']])


if __name__ == '__main__':
    main()
