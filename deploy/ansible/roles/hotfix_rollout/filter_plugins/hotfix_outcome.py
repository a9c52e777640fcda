# -*- coding: utf-8 -*-
"""Filters of the hotfix_rollout role: how a host's rollout ended, and where a Windows path of the
Linux launcher lies on the host.

hotfix_outcome decides a host's classification from the preflight before the launch, the launch's
result, the run log read after it and the preflight after it, following docs/exit-status.md:

  preflight 2                          already installed
  preflight 1                          failed (the bundle cannot run; nothing was launched)
  preflight 3                          reboot needed (nothing was launched)
  launcher 0, preflight after 2        success
  launcher 0, preflight after not 2    failed (the check still fails)
  launcher 3010 or 1641                reboot needed
  launcher 259, or past the async limit  still running
  anything else                        failed

On Linux the status keeps only its low 8 bits, so the full status comes from the records this run
appended to the run log: the first record "Exit code = N" whose N has those low bits, -1 for a
status of 255 without one (the launcher's own failures: "Failed to create process", a setting
missing or too long, arguments too long, or no memory for the command tail). An installer's own
code has 8 bits there too, so 3010 and 1641 arrive as 194 and 105 (the Linux column of
docs/exit-status.md), which count as reboot needed on Linux hosts.
"""

from __future__ import absolute_import, division, print_function

import base64
import re

__metaclass__ = type

# A record: "M/D/YYYY h:m:s : who, where what message". The merged installer log has no time
# stamps, so only the launcher's own lines match.
_RECORD = re.compile(rb'^\d{1,2}/\d{1,2}/\d{4} \d{1,2}:\d{1,2}:\d{1,2} : ')
_EXIT_CODE = re.compile(rb' Exit code = (-?\d+)\r?$')
_LAUNCHER_FAILURES = (b' Failed to create process', b' is missing from ini file.',
                      b' is too long in ini file.', b' Installer arguments are too long.')

_REBOOT_CODES = {3010: 'ERROR_SUCCESS_REBOOT_REQUIRED', 1641: 'ERROR_SUCCESS_REBOOT_INITIATED'}
_LINUX_REBOOT_CODES = {194: 3010, 105: 1641}
_STILL_ACTIVE = 259


def _new_records(run_log_b64, offset):
    """The launcher's records (lines with a time stamp) after the first offset bytes of the run
    log. A log shorter than offset was replaced since: then every record is new."""
    data = base64.b64decode(run_log_b64 or '')
    offset = int(offset or 0)
    if offset <= len(data):
        data = data[offset:]
    return [line.rstrip(b'\r') for line in data.split(b'\n') if _RECORD.match(line)]


def _signed32(value):
    value &= 0xFFFFFFFF
    return value - 0x100000000 if value & 0x80000000 else value


def _linux_status(rc, records):
    """The full status of a Linux launcher whose exit status was rc, from this run's records."""
    if rc == 0:
        return 0, 'exit status 0'
    for record in records:
        match = _EXIT_CODE.search(record)
        if match and int(match.group(1)) & 0xFF == rc:
            code = int(match.group(1))
            return code, 'exit status %d, record "Exit code = %d"' % (rc, code)
    if rc == 0xFF:
        for record in records:
            for failure in _LAUNCHER_FAILURES:
                if failure in record:
                    return -1, 'exit status 255, record "%s"' % failure.strip().decode('ascii')
        return -1, 'exit status 255 without an exit code record'
    return rc, 'exit status %d without a record of this run' % rc


def hotfix_outcome(preflight_status, launch=None, run_log='', log_offset=0, preflight_after=None,
                   platform='linux'):
    """Returns {'classification', 'exit_status', 'reason'} for a host.

    preflight_status: the preflight's status that decided whether to launch; launch: the launch
    task's registered result (None when nothing was launched); run_log: the run log read after
    the launch, base64 as ansible.builtin.slurp gives it; log_offset: its size before the launch;
    preflight_after: the preflight's status after the launch.
    """
    preflight_status = int(preflight_status)
    if preflight_status == 2:
        return _result('already installed', None, 'preflight 2: the check passes already')
    if preflight_status == 1:
        return _result('failed', None, 'preflight 1: the bundle cannot run; not launched')
    if preflight_status == 3:
        return _result('reboot needed', None, 'preflight 3: a reboot is pending; not launched')
    if preflight_status != 0 or not launch:
        return _result('failed', None, 'preflight %d; not launched' % preflight_status)

    # Only a launcher that ran has a duration: a command that could not be started has an rc
    # (the system's error number) too.
    if launch.get('rc') is None or 'delta' not in launch:
        waited = launch.get('async_result') or {}
        if 'async_result' in launch and not waited.get('finished'):
            return _result('still running', None,
                           'the launcher had not ended at the async limit: ' + launch.get('msg', ''))
        return _result('failed', None, 'the launcher did not run: ' + str(launch.get('msg', '')))

    rc = int(launch['rc'])
    if platform == 'windows':
        status, reason = _signed32(rc), 'exit status %d' % _signed32(rc)
    else:
        status, reason = _linux_status(rc, _new_records(run_log, log_offset))
        if status in _LINUX_REBOOT_CODES:
            code = _LINUX_REBOOT_CODES[status]
            return _result('reboot needed', status,
                           '%s (%d, %s, on Linux)' % (reason, code, _REBOOT_CODES[code]))

    if status == 0:
        if preflight_after is not None and int(preflight_after) == 2:
            return _result('success', 0, reason + '; preflight after: 2')
        return _result('failed', 0, '%s but the check still fails (preflight after: %s)'
                       % (reason, preflight_after))
    if status in _REBOOT_CODES:
        return _result('reboot needed', status, '%s (%s)' % (reason, _REBOOT_CODES[status]))
    if status == _STILL_ACTIVE:
        return _result('still running', status, reason + ': the installer ran past one hour')
    return _result('failed', status, reason)


def _result(classification, exit_status, reason):
    return {'classification': classification, 'exit_status': exit_status, 'reason': reason}


def hotfix_host_path(windows_path, prefix):
    """Where the Linux launcher's Windows path X:\\rest lies on the host: <prefix>/drive_x/rest
    (drive letter in lower case, backslashes turned into slashes). None stays None."""
    if windows_path is None:
        return None
    path = str(windows_path).replace('\\', '/')
    if len(path) >= 2 and path[1] == ':':
        return '%s/drive_%s/%s' % (prefix.rstrip('/'), path[0].lower(), path[2:].lstrip('/'))
    return '%s/drive_c/%s' % (prefix.rstrip('/'), path.lstrip('/'))


class FilterModule(object):
    """The role's filters."""

    def filters(self):
        return {'hotfix_outcome': hotfix_outcome, 'hotfix_host_path': hotfix_host_path}
