#!/usr/bin/python
# -*- coding: utf-8 -*-
"""The hotfix_rollout role's checks on a Linux host of the launcher, each in one module run: the
folders a bundle is staged in, the staged files against the controller's, and the launcher's
files read only as the launcher opens them."""

from __future__ import absolute_import, division, print_function

import base64
import errno
import hashlib
import os
import pwd
import shutil
import stat

from ansible.module_utils.basic import AnsibleModule

__metaclass__ = type

DOCUMENTATION = r'''
module: hotfix_linux_host
short_description: Checks of the hotfix_rollout role on a Linux host of hotfix-launcher
description:
  - C(stage) walks every folder from the launcher's prefix down to the bundle's folder, making
    the missing ones below drive C (owned by the user the module runs as, mode 0755), and says
    which one root does not own or group or others may write to; it checks that the installed
    launcher and the preflight are there and runnable, gives the preflight's version, copies the
    launcher into the bundle's folder as C(setup), puts the files of I(place) there, and then
    verifies as C(verify) does.
  - C(verify) compares each staged file's SHA-256 with the controller's (or with the host file it
    was copied from), opening nothing that is a link, not a regular file, or has a second name.
  - C(read) reads files as the launcher opens them in drive C's root, where anyone may create
    one: a regular file with one name and no link; anything else is named and never opened.
options:
  action:
    description: What to do.
    type: str
    required: true
    choices: [stage, verify, read]
  prefix:
    description: The launcher's prefix (stage).
    type: str
  folder:
    description: The bundle's folder, a host path below the prefix's drive C (stage, verify).
    type: str
  launcher:
    description: The installed launcher (stage).
    type: str
  preflight:
    description: The installed preflight (stage).
    type: str
  place:
    description: Files to put into the folder, each its name there and C(path) (a file on the
      host, which is left as it is) and C(mode) (stage; the action hotfix_linux_stage sends them).
    type: dict
    default: {}
  checksums:
    description: File names in the folder and the SHA-256 each must have (stage, after the files
      are put there, and verify).
    type: dict
    default: {}
  copies:
    description: File names in the folder and the host file each must equal (verify).
    type: dict
    default: {}
  files:
    description: Files to read, each C(path) and C(offset), the bytes to skip (read; verify gives
      their state and size only).
    type: list
    elements: dict
    default: []
author: hotfix-launcher developers
'''

RETURN = r'''
refused:
  description: Why the bundle's folder or files must not be used; empty when they may.
  returned: stage, verify
  type: str
tool_missing:
  description: Why the launcher or the preflight cannot run; empty when they can.
  returned: stage
  type: str
preflight_version:
  description: The preflight's --version line.
  returned: stage
  type: str
launcher_version:
  description: The version of the hotfix-launcher package when the launcher is its file, or null.
  returned: stage
  type: str
files:
  description: Per file C(path), C(state) (C(regular file) or what else it is), C(size) and, for
    read, C(content) (base64 of the bytes after the offset; the whole file when it is shorter).
  returned: verify, read
  type: list
'''

_KINDS = ((stat.S_ISLNK, 'a symbolic link'), (stat.S_ISDIR, 'a folder'), (stat.S_ISFIFO, 'a FIFO'),
          (stat.S_ISSOCK, 'a socket'), (stat.S_ISCHR, 'a device'), (stat.S_ISBLK, 'a device'))


def _kind(status):
    """What a file that lstat saw is, as a reason names it."""
    if stat.S_ISREG(status.st_mode):
        return 'a file with %d names' % status.st_nlink if status.st_nlink > 1 else 'regular file'
    for test, name in _KINDS:
        if test(status.st_mode):
            return name
    return 'not a regular file'


def _open_as_launcher(path):
    """(descriptor, state, status): the file opened when it is a regular file with one name and no
    link, checked on the descriptor too, so that nothing swapped in meanwhile is read; else
    (None, what it is, None). A FIFO or a device is never opened."""
    try:
        seen = os.lstat(path)
    except OSError as error:
        return None, 'missing' if error.errno == errno.ENOENT else os.strerror(error.errno), None
    state = _kind(seen)
    if state != 'regular file':
        return None, state, None
    try:
        fd = os.open(path, os.O_RDONLY | os.O_NOFOLLOW | os.O_NONBLOCK | os.O_CLOEXEC)
    except OSError as error:
        return None, os.strerror(error.errno), None
    status = os.fstat(fd)
    if (status.st_dev, status.st_ino) != (seen.st_dev, seen.st_ino) or _kind(status) != state:
        os.close(fd)
        return None, 'replaced while it was opened', None
    return fd, state, status


def _read_all(fd, offset=0):
    os.lseek(fd, offset, os.SEEK_SET)
    chunks = []
    while True:
        chunk = os.read(fd, 1 << 20)
        if not chunk:
            return b''.join(chunks)
        chunks.append(chunk)


def _owner(uid):
    try:
        return '%s (uid %d)' % (pwd.getpwuid(uid).pw_name, uid)
    except KeyError:
        return 'uid %d' % uid


def _folder_problem(path):
    """Why a staging folder is not one only root can change, or ''."""
    status = os.lstat(path)
    if not stat.S_ISDIR(status.st_mode):
        return '%s is %s, not a folder' % (path, _kind(status))
    if status.st_uid != 0:
        return '%s is owned by %s, not root' % (path, _owner(status.st_uid))
    if status.st_mode & (stat.S_IWGRP | stat.S_IWOTH):
        return '%s is writable by %s (mode %04o)' % (
            path, 'group and others' if status.st_mode & stat.S_IWGRP and
            status.st_mode & stat.S_IWOTH else 'group' if status.st_mode & stat.S_IWGRP
            else 'others', stat.S_IMODE(status.st_mode))
    return ''


def _package_version(module, path):
    """The version of the hotfix-launcher package when the file is one of its own (the Linux
    launcher takes no options, so it cannot tell its version itself), or None."""
    dpkg = module.get_bin_path('dpkg-query')
    rc, out, _ = module.run_command([dpkg, '--showformat=${Version}', '--show',
                                     'hotfix-launcher']) if dpkg else (1, '', '')
    if rc != 0 or not out.strip():
        return None
    version = out.strip()
    rc, out, _ = module.run_command([dpkg, '--listfiles', 'hotfix-launcher'])
    return version if rc == 0 and os.path.realpath(path) in out.split('\n') else None


def stage(module, result):
    prefix = os.path.normpath(module.params['prefix'])
    folder = os.path.normpath(module.params['folder'])
    drive = os.path.join(prefix, 'drive_c')
    if os.path.commonpath([drive, folder]) != drive or folder == drive:
        module.fail_json(msg='the bundle folder %s lies outside %s' % (folder, drive))
    chain = [prefix, drive]
    for part in os.path.relpath(folder, drive).split(os.sep):
        chain.append(os.path.join(chain[-1], part))
    created = []
    for index, path in enumerate(chain):
        try:
            os.lstat(path)
        except FileNotFoundError:
            if index < 2:
                result['tool_missing'] = 'the launcher\'s prefix has no %s' % path
                return
            try:
                os.mkdir(path, 0o755)
                created.append(path)
            except FileExistsError:
                pass  # made meanwhile: checked below like any other
        problem = _folder_problem(path)
        if problem:
            result['refused'] = problem + ': only root may change the folders a bundle is ' \
                                          'staged in, or another user could swap its files'
            return
    result['changed'] = bool(created)
    result['created'] = created
    if module.check_mode:
        return
    launcher, preflight = module.params['launcher'], module.params['preflight']
    for tool in (launcher, preflight):
        if not (os.path.isfile(tool) and os.access(tool, os.X_OK)):
            result['tool_missing'] = '%s is not there or not executable' % tool
            return
    rc, out, err = module.run_command([preflight, '--version'])
    if rc != 0 or not out.strip():
        result['tool_missing'] = 'the preflight %s cannot run: %s' % (
            preflight, (err or out).strip() or 'exit status %d' % rc)
        return
    result['preflight_version'] = out.strip()
    result['launcher_version'] = _package_version(module, launcher)
    # The launcher runs only from inside the prefix: each bundle gets a copy of it.
    copies = [('setup', launcher, 0o755)] + [
        (name, item['path'], int(item['mode'])) for name, item in module.params['place'].items()]
    for name, source, mode in copies:
        result['changed'] |= _install(os.path.join(folder, name), source, mode)
    module.params['copies'] = dict(module.params['copies'], setup=launcher)
    verify(module, result)


def _install(target, source, mode):
    """Puts a copy of the file source at target (its folders made as root's) unless target is a
    regular file with the same bytes; returns whether it changed anything."""
    with open(source, 'rb') as original:
        wanted = _sha256(original.fileno())
    fd, _, _ = _open_as_launcher(target)
    if fd is not None:
        try:
            if _sha256(fd) == wanted:
                return False
        finally:
            os.close(fd)
    os.makedirs(os.path.dirname(target), 0o755, exist_ok=True)
    fd = os.open(target + '.new', os.O_WRONLY | os.O_CREAT | os.O_TRUNC | os.O_NOFOLLOW, 0o600)
    with os.fdopen(fd, 'wb') as copy, open(source, 'rb') as original:
        shutil.copyfileobj(original, copy, 1 << 20)
    os.chmod(target + '.new', mode & 0o7777)
    os.replace(target + '.new', target)
    return True


def _sha256(fd):
    digest = hashlib.sha256()
    os.lseek(fd, 0, os.SEEK_SET)
    for chunk in iter(lambda: os.read(fd, 1 << 20), b''):
        digest.update(chunk)
    return digest.hexdigest()


def verify(module, result):
    folder = module.params['folder']
    expected = dict(module.params['checksums'])
    problems = []
    for name, source in module.params['copies'].items():
        with open(source, 'rb') as original:
            expected[name] = hashlib.sha256(original.read()).hexdigest()
    for name in sorted(expected):
        fd, state, _ = _open_as_launcher(os.path.join(folder, name))
        if fd is None:
            problems.append('%s is %s' % (name, state))
            continue
        try:
            actual = _sha256(fd)
        finally:
            os.close(fd)
        if actual != expected[name]:
            problems.append('%s has SHA-256 %s, not the controller\'s %s'
                            % (name, actual, expected[name]))
    if problems:
        result['refused'] = 'the staged bundle is not the one the controller sent: ' + \
                            '; '.join(problems)
    result['files'] = [_read_one(entry, False) for entry in module.params['files']]


def _read_one(entry, with_content):
    path = entry['path']
    fd, state, status = _open_as_launcher(path)
    found = {'path': path, 'state': state, 'size': None}
    if fd is None:
        return found
    try:
        found['size'] = status.st_size
        if with_content:
            offset = int(entry.get('offset') or 0)
            data = _read_all(fd, offset if offset <= status.st_size else 0)
            found['content'] = base64.b64encode(data).decode('ascii')
    finally:
        os.close(fd)
    return found


def main():
    module = AnsibleModule(
        argument_spec=dict(
            action=dict(type='str', required=True, choices=['stage', 'verify', 'read']),
            prefix=dict(type='str'),
            folder=dict(type='str'),
            launcher=dict(type='str'),
            preflight=dict(type='str'),
            place=dict(type='dict', default={}),
            checksums=dict(type='dict', default={}),
            copies=dict(type='dict', default={}),
            files=dict(type='list', elements='dict', default=[]),
        ),
        required_if=[('action', 'stage', ('prefix', 'folder', 'launcher', 'preflight')),
                     ('action', 'verify', ('folder',))],
        supports_check_mode=True,
    )
    result = dict(changed=False, refused='', tool_missing='')
    action = module.params['action']
    if action == 'stage':
        stage(module, result)
    elif action == 'verify':
        verify(module, result)
    else:
        result['files'] = [_read_one(entry, True) for entry in module.params['files']]
    module.exit_json(**result)


if __name__ == '__main__':
    main()
