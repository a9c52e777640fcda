#!/usr/bin/python
# -*- coding: utf-8 -*-
"""The hotfix_rollout role's staging of a Linux host's bundle in one transfer: on the controller,
a tar archive of the bundle as it is to lie in the launcher prefix's drive C, root's, with the
modes the role gives (0755 where the controller's file may run, else 0644, folders 0755), the
host's launcher as setup and the SHA256SUMS list beside the bundle's folder, which
ansible.builtin.unarchive then unpacks on the host."""

from __future__ import absolute_import, division, print_function

import io
import os
import posixpath
import tarfile
import time

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.hotfix.launcher.plugins.module_utils.hotfix_bundle import (
    BundleError, bundle_entries, sha256sums)

__metaclass__ = type

DOCUMENTATION = r'''
module: hotfix_stage_archive
short_description: Packs a bundle for a Linux host's drive C, as the role stages it
description:
  - For each of I(archives), writes a tar archive at its C(path) on the controller (replacing
    one that is there) whose members lie under the folder C(stage), relative to the launcher
    prefix's drive C; C(stage) is the bundle's folder there.
  - The members are every folder from the first of C(stage) down (so that
    C(--no-overwrite-dir) can leave those that are on the host as they are), the files of the
    bundle folder C(src) with their subfolders, C(setup) (the controller's copy C(launcher_copy)
    of the host's installed launcher), and C(<stage>.SHA256SUMS), the SHA256SUMS list of all of
    them, setup's line with C(launcher_checksum), the installed launcher's SHA-256 as the host
    gave it: a copy that is not the installed one is then the preflight's finding.
  - Every member is root's (0:0); folders and setup are 0755, files 0755 when any execute bit is
    set on the controller, else 0644, the list 0644.
options:
  archives:
    description: >-
      The archives, each with C(path), C(src), C(stage), C(launcher_copy) and
      C(launcher_checksum); other keys are ignored.
    type: list
    elements: dict
    required: true
'''

RETURN = r'''
archives:
  description: The paths of the archives written.
  type: list
  returned: always
'''


def _info(name, mode, size=0, now=0):
    info = tarfile.TarInfo(name)
    info.mode, info.size, info.mtime = mode, size, now
    info.uid = info.gid = 0
    info.uname = info.gname = 'root'
    if size is None:
        info.type, info.size = tarfile.DIRTYPE, 0
    return info


def write_archive(path, src, stage, launcher_copy, launcher_checksum, now=None):
    """Writes the archive of the bundle folder src and the launcher for the folder stage (relative,
    "/" between folders) at path, through a file of its own beside it."""
    now = int(time.time()) if now is None else now
    stage = posixpath.normpath(stage.strip('/'))
    entries = bundle_entries(src)
    launcher = bundle_entries(launcher_copy)[0]
    launcher.update(path='setup', checksum=launcher_checksum, executable=True)
    entries = sorted(entries + [launcher], key=lambda entry: entry['path'])
    folders = set()
    for name in [stage] + [posixpath.join(stage, entry['path']) for entry in entries]:
        parent = name if name == stage else posixpath.dirname(name)
        while parent and parent not in folders:
            folders.add(parent)
            parent = posixpath.dirname(parent)
    sums = sha256sums(entries).encode('utf-8')
    partial = '%s.%d.partial' % (path, os.getpid())
    try:
        with tarfile.open(partial, 'w', format=tarfile.PAX_FORMAT) as archive:
            for folder in sorted(folders):
                archive.addfile(_info(folder, 0o755, None, now))
            for entry in entries:
                with open(entry['src'], 'rb') as data:
                    size = os.fstat(data.fileno()).st_size
                    mode = 0o755 if entry['executable'] else 0o644
                    archive.addfile(_info(posixpath.join(stage, entry['path']), mode, size, now), data)
            archive.addfile(_info(stage + '.SHA256SUMS', 0o644, len(sums), now), io.BytesIO(sums))
        os.rename(partial, path)
    finally:
        if os.path.exists(partial):
            os.unlink(partial)


def main():
    module = AnsibleModule(argument_spec={'archives': {'type': 'list', 'elements': 'dict',
                                                       'required': True}})
    written = []
    for wanted in module.params['archives']:
        if wanted['path'] in written:
            continue
        try:
            write_archive(wanted['path'], wanted['src'], wanted['stage'], wanted['launcher_copy'],
                          wanted['launcher_checksum'])
        except (BundleError, OSError, tarfile.TarError) as error:
            module.fail_json(msg='the bundle %s cannot be packed: %s' % (wanted['src'], error))
        written.append(wanted['path'])
    module.exit_json(changed=True, archives=written)


if __name__ == '__main__':
    main()
