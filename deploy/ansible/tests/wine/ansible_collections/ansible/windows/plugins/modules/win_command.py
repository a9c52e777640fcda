#!/usr/bin/python
# -*- coding: utf-8 -*-
# A test double of ansible.windows.win_command for a simulated Windows host (a Wine prefix): it
# runs argv under Wine in chdir and returns the real module's documented values (rc, the full
# 32-bit exit code as the real module gives it, unsigned; stdout, stderr, cmd, start, end, delta),
# failing as it does on a non-zero rc or a program that cannot start; stdin goes to the program as
# its UTF-8 bytes. It does not take the free form, creates, removes or output_encoding_override,
# and Wine, not this module, quotes argv into the command line.
from __future__ import absolute_import, division, print_function

import datetime

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.ansible.windows.plugins.module_utils.wine_host import run_program

__metaclass__ = type


def main():
    module = AnsibleModule(argument_spec=dict(argv=dict(type='list', elements='str', required=True),
                                              chdir=dict(type='str'), stdin=dict(type='str')))
    argv, started = module.params['argv'], datetime.datetime.utcnow()
    stdin = module.params['stdin']
    rc, stdout, stderr, start_error = run_program(argv, module.params['chdir'],
                                                  stdin.encode('utf-8') if stdin else None)
    ended = datetime.datetime.utcnow()
    result = dict(changed=True, cmd=' '.join(argv), stdout=stdout, stderr=stderr,
                  stdout_lines=stdout.splitlines(), start=str(started), end=str(ended),
                  delta=str(ended - started))
    if start_error is not None:
        module.fail_json(msg="Failed to run: '%s': error %d" % (result['cmd'], start_error),
                         rc=start_error, **result)
    if rc != 0:
        module.fail_json(msg='non-zero return code', rc=rc, **result)
    module.exit_json(rc=rc, **result)


if __name__ == '__main__':
    main()
