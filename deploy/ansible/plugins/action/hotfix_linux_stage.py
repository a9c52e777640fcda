# -*- coding: utf-8 -*-
"""Action of the hotfix_rollout role: stages a bundle on a Linux host of the launcher in one
module run. It sends the bundle's files from the controller to the host's temporary folder, and
the module hotfix_linux_host (action stage) checks the folders and the tools, puts the files and a
copy of the launcher into the bundle's folder and compares each with the controller's SHA-256."""

from __future__ import absolute_import, division, print_function

import hashlib
import os
import stat

from ansible.errors import AnsibleActionFail
from ansible.plugins.action import ActionBase
from ansible.utils.hashing import secure_hash

__metaclass__ = type


class ActionModule(ActionBase):
    """Takes the module's stage options, and src: the bundle's folder on the controller."""

    TRANSFERS_FILES = True

    def run(self, tmp=None, task_vars=None):
        result = super(ActionModule, self).run(tmp, task_vars)
        args = dict(self._task.args)
        source = os.path.normpath(self._loader.path_dwim(str(args.pop('src'))))
        if not os.path.isdir(source):
            raise AnsibleActionFail('no bundle folder %s on the controller' % source)
        place, checksums = {}, {}
        remote_tmp = self._connection._shell.tmpdir or self._make_tmp_path()
        for folder, _, names in os.walk(source):
            for name in sorted(names):
                full = os.path.join(folder, name)
                relative = os.path.relpath(full, source).replace(os.sep, '/')
                remote = self._connection._shell.join_path(remote_tmp, 'bundle-%d' % len(place))
                self._transfer_file(full, remote)
                place[relative] = {'path': remote, 'mode': stat.S_IMODE(os.stat(full).st_mode)}
                checksums[relative] = secure_hash(full, hashlib.sha256)
        self._fixup_perms2([remote_tmp] + [item['path'] for item in place.values()])
        args.update(action='stage', place=place, checksums=checksums)
        result.update(self._execute_module(module_name='hotfix.launcher.hotfix_linux_host', module_args=args,
                                           task_vars=task_vars))
        self._remove_tmp_path(remote_tmp)
        return result
