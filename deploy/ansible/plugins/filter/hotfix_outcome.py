# -*- coding: utf-8 -*-
"""Filters of the hotfix_rollout role: how a host's rollout ended, by docs/exit-status.md.

hotfix_outcome decides a host's classification from the preflight that decided the launch, the
launch's result, the run log read after it and the preflight after it, under the rollout's
return-code policy (hotfix_reboot_codes, hotfix_skip_codes, hotfix_retry_codes):

  dry run (--check)                    would install, already installed, bundle broken,
                                       reboot first or cannot tell, by the preflight alone
  preflight 2                          already installed (installed and recorded)
  preflight 1                          bundle broken, with the cause from the preflight's report
  preflight 3                          reboot needed (nothing was launched)
  preflight 4                          refused: someone other than an administrator can change
                                       what would run, or the bundle is not the one staged
  preflight 77                         cannot tell
  the async limit ended the launcher   interrupted (Ansible killed it and its installer)
  launcher 0, preflight after 2        success
  a reboot code                        reboot needed
  a skip code                          already installed or not applicable, as the policy says
  a retry code after the retries       retry later
  launcher 259                         still running (the launcher's own one-hour wait)
  anything else                        failed

A back-out (action 'backout') is decided by the preflight's --state before and after the back-out
command, under the same policy (its skip codes are hotfix_backout_skip_codes):

  dry run (--check)                    would back out, not installed or cannot tell, by the state
                                       before alone
  state 0 before                       not installed (nothing ran)
  state 1 or 77 before                 bundle broken or cannot tell (nothing ran)
  the async limit ended the command    interrupted
  state after: not installed           removed
  state after: cannot tell             cannot tell
  still installed, a reboot pending
  or a reboot code                     reboot needed (after a reboot, only a pending one counts)
  still installed, a skip code         its classification (2359303: not installed)
  still installed, otherwise           retry later, still running or failed, as for a launch

On Linux the status keeps only its low 8 bits, so the full status comes from the records this run
appended to the run log: the first record "Exit code = N" whose N has those low bits, -1 for a
status of 255 without one (the launcher's own failures). An installer's own code has 8 bits there
too, so a policy code matches a Linux status by its low 8 bits (3010 arrives as 194).

hotfix_failure classifies what stopped a host's rollout in the role's rescue: the role's own
stops say "<classification>: <reason>"; anything else failed in the task it names.

hotfix_state makes a host's line of the fleet-state view (playbooks/status.yml) from the
preflight's --state report (its version too) for the bundle's settings: installed and recorded,
installed (recorded unknown, or no patch-info file in use), installed, not recorded, not
installed, settings broken, cannot tell, tool missing or unreachable.
"""

from __future__ import absolute_import, division, print_function

import base64
import json
import re

__metaclass__ = type

# A record: "M/D/YYYY h:m:s : who, where what message". The merged installer log has no time
# stamps, so only the launcher's own lines match.
_RECORD = re.compile(rb'^\d{1,2}/\d{1,2}/\d{4} \d{1,2}:\d{1,2}:\d{1,2} : ')
_EXIT_CODE = re.compile(rb' Exit code = (-?\d+)\r?$')
_LAUNCHER_FAILURES = (b' Failed to create process', b' is missing from ini file.',
                      b' is too long in ini file.', b' Installer arguments are too long.')

# The codes of docs/exit-status.md, by their 32-bit value: name and meaning. The launcher's own
# statuses first, then the installer codes it passes through.
CODES = {
    0: ('', 'the installation check passed'),
    0xFFFFFFFF: ('', 'the run stopped before the installer, or the installer did not '
                                'start'),
    259: ('STILL_ACTIVE', 'the installer still ran after the launcher\'s one-hour wait'),
    3010: ('ERROR_SUCCESS_REBOOT_REQUIRED',
           'installed, but it takes effect only after a reboot'),
    1641: ('ERROR_SUCCESS_REBOOT_INITIATED',
           'the installer started a reboot itself'),
    1618: ('ERROR_INSTALL_ALREADY_RUNNING', 'another installation is in progress'),
    1603: ('ERROR_INSTALL_FAILURE', 'fatal error during installation'),
    2359302: ('WU_S_ALREADY_INSTALLED', 'the update is already installed'),
    2359303: ('WU_S_ALREADY_UNINSTALLED', 'the update to be removed is not installed'),
    0x80240017: ('WU_E_NOT_APPLICABLE', 'the update does not apply to this host'),
    0x80070005: ('E_ACCESSDENIED', 'access denied'),
}
_STILL_ACTIVE = 259
# The installer codes: a Linux status may be the low 8 bits of one of these.
_INSTALLER_CODES = sorted(code for code in CODES if code not in (0, 0xFFFFFFFF, _STILL_ACTIVE))
# What Ansible's async wrappers (Linux, Windows) leave of a job they killed at its limit.
_ASYNC_LIMIT_MESSAGES = ('Timeout exceeded', 'timed out waiting for module completion')
# What ansible.builtin.unarchive says of a destination that is not a folder (it follows a link).
NO_DRIVE_FOLDER = re.compile(r"dest '(.*)' must be an existing dir$")

STOPS = ('refused', 'tool missing', 'bundle broken', 'cannot tell', 'unreachable', 'failed')


def _unsigned(code):
    return int(code) & 0xFFFFFFFF


def _signed(code):
    code = _unsigned(code)
    return code - 0x100000000 if code & 0x80000000 else code


def _codes(values):
    """A policy's codes as 32-bit values; they may be given as numbers or as texts such as
    '0x80240017' (extra vars arrive as texts)."""
    if isinstance(values, dict):
        return dict((_unsigned(int(str(code), 0)), value) for code, value in values.items())
    return set(_unsigned(int(str(code), 0)) for code in values or ())


def _match(status, codes, platform):
    """The policy code that a status stands for: the same 32 bits on Windows, the same low 8 bits
    on Linux (where no installer code has more). None when there is none."""
    for code in sorted(codes):
        if (platform == 'windows' and _unsigned(status) == code) or \
                (platform != 'windows' and status is not None and 0 <= status <= 255
                 and code & 0xFF == status):
            return code
    return None


def code_text(status, platform='windows'):
    """The status in decimal and hex with its name and meaning, as every reason gives it."""
    if status is None:
        return 'no exit status'
    if platform != 'windows' and 0 < status <= 255:
        known = [code for code in _INSTALLER_CODES if code & 0xFF == status]
        text = '%d (0x%02X): on Linux the low 8 bits of ' % (status, status)
        if not known:
            return text + 'the installer\'s code, not one this role knows'
        return text + ' or '.join('%d (0x%08X) %s, %s' % ((_signed(code), code) + CODES[code])
                                  for code in known)
    name, meaning = CODES.get(_unsigned(status), ('', 'not a code this role knows'))
    return '%d (0x%08X)%s, %s' % (_signed(status), _unsigned(status), ' ' + name if name else '',
                                  meaning)


def code_name(status, platform='windows'):
    """The status's name for the summary, or None."""
    if status is None:
        return None
    if platform != 'windows' and 0 < status <= 255:
        names = [CODES[code][0] for code in _INSTALLER_CODES if code & 0xFF == status]
        return ' or '.join(names) or None
    return CODES.get(_unsigned(status), ('',))[0] or None


def _new_records(run_log_b64, offset):
    """The launcher's records (lines with a time stamp) after the first offset bytes of the run
    log. A log shorter than offset was replaced since: then every record is new."""
    data = base64.b64decode(run_log_b64 or '')
    offset = int(offset or 0)
    if offset <= len(data):
        data = data[offset:]
    return [line.rstrip(b'\r') for line in data.split(b'\n') if _RECORD.match(line)]


def _linux_status(rc, records):
    """The full status of a Linux launcher whose exit status was rc, from this run's records, and
    where it came from."""
    if rc == 0:
        return 0, ''
    for record in records:
        match = _EXIT_CODE.search(record)
        if match and int(match.group(1)) & 0xFF == rc:
            code = int(match.group(1))
            return code, '; record "Exit code = %d"%s' % (
                code, '' if code == rc else ' (the system kept %d)' % rc)
    if rc == 0xFF:
        for record in records:
            for failure in _LAUNCHER_FAILURES:
                if failure in record:
                    return -1, '; record "%s" (the system kept 255)' % failure.strip().decode()
        return -1, '; no exit code record (the system kept 255)'
    return rc, '; no record of this run'


def bundle_cause(report):
    """Why the preflight says the bundle cannot run, from its JSON report."""
    report = report or {}
    launcher = report.get('launcher') or {}
    settings = report.get('settings') or {}
    installer = report.get('installer') or {}
    if launcher.get('runs_in_drive_folder') is False:
        return ('the launcher runs from %s, outside the prefix\'s drive folders, where it changes '
                'nothing and exits with 255' % launcher.get('runs_from'))
    if installer.get('file') not in (None, 'regular file'):
        why = [text for text in (installer.get('file_reason'), installer.get('start_error')) if text]
        return 'the installer %s is %s%s' % (installer.get('path'), installer.get('file'),
                                             ' (%s)' % '; '.join(why) if why else '')
    messages = [record.get('message', '') for record in settings.get('records') or []]
    messages += [record.get('message', '') for record in installer.get('records') or []]
    if messages:
        return '; '.join(messages)
    if installer and not installer.get('command_line_fits', True):
        return 'the command line is over %s characters' % installer.get('command_line_limit')
    return 'the preflight says the launcher would not start the installer'


def staging_findings(report):
    """What the preflight's staging findings say, each with the host path it names."""
    staging = (report or {}).get('staging') or {}
    findings = ['%s: %s' % (finding.get('host_path') or finding.get('path'),
                            ' '.join(part for part in (finding.get('who'), finding.get('how'))
                                     if part))
                for finding in staging.get('findings') or []]
    more = int(staging.get('more_findings') or 0)
    if more:
        findings.append('and %d more' % more)
    return 'someone other than an administrator can change what would run as administrator, or ' \
           'the bundle is not the one staged: ' + ('; '.join(findings) or 'no finding listed')


def hotfix_code_in(rc, codes, platform='linux'):
    """Whether a launcher's exit status stands for one of the codes (for the retry loop)."""
    if rc is None:
        return False
    status = int(rc) if platform != 'windows' else _signed(int(rc))
    return _match(status, _codes(codes), platform) is not None


def hotfix_outcome(preflight, launch=None, run_log='', log_offset=0, preflight_after=None,
                   platform='linux', reboot_codes=(3010, 1641), skip_codes=None,
                   retry_codes=(1618,), check_mode=False, async_limit=None, action='rollout',
                   rebooted=False):
    """Returns {'classification', 'exit_status', 'exit_name', 'reason'} for a host.

    preflight: the preflight run that decided the launch, {'status', 'report'}; launch: the
    launch's last async_status result with the number of runs as attempts (None when nothing was
    launched); run_log: the run log read after the launch, base64; log_offset: its size before
    the launch; preflight_after: the preflight run after the launch. For a back-out (action
    'backout') the two preflight runs are those of --state before and after the back-out
    command, launch is the command's run, and rebooted says the host was rebooted after it.
    """
    check_mode = str(check_mode).lower() in ('true', '1', 'yes')
    policy = (reboot_codes, retry_codes)
    if action == 'backout':
        if skip_codes is None:
            skip_codes = {2359303: 'not installed'}
        return _backout_outcome(preflight, launch, preflight_after, platform, policy, skip_codes,
                                check_mode, async_limit, str(rebooted).lower() == 'true')
    if skip_codes is None:
        skip_codes = {2359302: 'already installed', 0x80240017: 'not applicable'}
    status = int(preflight['status'])
    report = preflight.get('report') or {}
    if status == 1 or status == 64:
        cause = bundle_cause(report) if status == 1 else preflight.get('error') or ''
        return _result('bundle broken', None, 'preflight %d: %s' % (status, cause))
    if status == 4:
        return _result('refused', None, 'preflight 4: ' + staging_findings(report))
    if status == 77:
        unknown = '; '.join('%s: %s' % (item.get('item'), item.get('reason'))
                            for item in report.get('unknown') or [])
        return _result('cannot tell', None, 'preflight 77: the preflight cannot tell%s; run it as '
                                            'an administrator or root'
                       % (' (%s)' % unknown if unknown else ''))
    if status == 2:
        return _result('already installed', None, 'preflight 2: installed and recorded')
    if status == 3:
        return _result('reboot first' if check_mode else 'reboot needed', None,
                       'preflight 3: a reboot is pending; not launched')
    if status != 0:
        return _result('failed', None, 'preflight %d; not launched' % status)
    installed = (report.get('check') or {}).get('installed')
    patch_info = report.get('patch_info') or {}
    if installed and patch_info.get('access') == 'cannot be opened':
        ready = 'preflight 0: installed; the launcher could not record the id: the patch-info ' \
                'file cannot be opened'
    elif installed and 'access' in patch_info and patch_info['access'] is None:
        ready = 'preflight 0: installed; whether the launcher could record the id is not known: ' \
                '%s' % patch_info.get('access_reason')
    else:
        ready = 'preflight 0: ' + ('installed; the launcher would record the id' if installed
                                   else 'not installed; the launcher would start the installer')
    unran = _unran(('would install', ready), ready + '; not launched', launch, check_mode,
                   async_limit, ('the launcher', 'the installer it ran'))
    if unran:
        return unran

    rc = int(launch['rc'])
    if platform == 'windows':
        status, source = _signed(rc), ''
    else:
        status, source = _linux_status(rc, _new_records(run_log, log_offset))
    retried = _retried(launch)
    reason = 'exit status ' + code_text(status, platform) + source + retried
    after = int((preflight_after or {}).get('status', -1))

    if status == 0:
        if after == 2:
            return _result('success', 0, reason + '; preflight after: 2', platform)
        installed = ((preflight_after or {}).get('report') or {}).get('check') or {}
        if installed.get('installed'):
            return _result('failed', 0, '%s, but the patch-info file still lacks the id '
                           '(preflight after: %d)' % (reason, after), platform)
        # A 0 after which the check fails is the installer's own 0, passed through.
        return _result('failed', 0, 'exit status 0 (0x00000000)%s: the installer ended with 0, '
                       'but the check still fails (preflight after: %d)' % (retried, after),
                       platform)
    return _by_policy(status, reason, platform, policy, skip_codes)


def _unran(would, not_run, launch, check_mode, async_limit, names):
    """The result of a host whose program (names: the launcher or the back-out command, and
    what it starts) did not run to its end: a dry run's would (classification, reason), no run
    (not_run, the reason), interrupted at the async limit, or failed to start; None when it ran
    and ended. Only a program that ran has a duration: one that could not be started has an rc
    (the system's error number) too."""
    if check_mode:
        return _result(would[0], None, would[1])
    if not launch:
        return _result('failed', None, not_run)
    if launch.get('rc') is not None and 'delta' in launch:
        return None
    what, child = names
    message = str(launch.get('msg', ''))
    if message in _ASYNC_LIMIT_MESSAGES:
        return _result('interrupted', None,
                       'the async limit (%s s) ended %s: Ansible killed it and %s, mid-install '
                       '(%s)' % (async_limit, what, child, message))
    if not int(launch.get('finished', 1)):
        return _result('interrupted', None,
                       '%s had not ended when the wait for it passed the async limit (%s s), at '
                       'which Ansible kills it and %s' % (what, async_limit, child))
    return _result('failed', None, '%s did not run: %s' % (what, message))


def _retried(launch):
    retries = int(launch.get('attempts') or 1) - 1
    return ' (after %d retr%s)' % (retries, 'y' if retries == 1 else 'ies') if retries else ''


def _by_policy(status, reason, platform, policy, skip_codes, reboots=True):
    """A status that is not a success under the return-code policy: (reboot codes, retry
    codes) and the skip codes; a reboot code counts only when reboots is true."""
    reboot_codes, retry_codes = policy
    if reboots and _match(status, _codes(reboot_codes), platform) is not None:
        return _result('reboot needed', status, reason, platform)
    skip = _codes(skip_codes)
    code = _match(status, skip, platform)
    if code is not None:
        return _result(skip[code], status, reason, platform)
    if _match(status, _codes(retry_codes), platform) is not None:
        return _result('retry later', status, reason, platform)
    if status == _STILL_ACTIVE:
        return _result('still running', status, reason, platform)
    return _result('failed', status, reason, platform)


def _state_said(run):
    """'preflight N: <verdict>' of a --state run, with why each unknown answer is unknown."""
    report = (run or {}).get('report') or {}
    state = report.get('state') or {}
    return 'preflight %s: %s%s' % (run.get('status'), report.get('verdict'), ''.join(
        '; %s unknown: %s' % (answer.replace('_', ' '), state.get(answer + '_reason'))
        for answer in STATE_ANSWERS if answer in state and state[answer] is None))


def _backout_outcome(before, launch, after, platform, policy, skip_codes, check_mode,
                     async_limit, rebooted):
    """A back-out's result: see the module's head."""
    status = int(before['status'])
    said = _state_said(before)
    if status == 1:
        return _result('bundle broken', None, '%s: %s' % (said, bundle_cause(before.get('report'))))
    if status != 2:
        return _result({0: 'not installed', 77: 'cannot tell'}.get(status, 'failed'), None,
                       said + ('; nothing ran' if status == 0 else '; the back-out command did '
                               'not run'))
    unran = _unran(('would back out', said + '; the back-out command would run'),
                   said + '; the back-out command did not run', launch, check_mode, async_limit,
                   ('the back-out command', 'what it started'))
    if unran:
        return unran
    code = int(launch['rc'])
    code = _signed(code) if platform == 'windows' else code
    # The launcher's own meanings of 0 and -1 are not the command's.
    said_code = code_text(code, platform) if _unsigned(code) not in (0, 0xFFFFFFFF) else \
        '%d (0x%08X)' % (code, _unsigned(code))
    reason = 'exit status %s%s; after it %s' % (said_code, _retried(launch), _state_said(after))
    state = ((after or {}).get('report') or {}).get('state') or {}
    if int((after or {}).get('status', -1)) not in (0, 2):
        return _result('cannot tell', code, reason, platform)
    if state.get('installed') is False:
        return _result('removed', code, reason, platform)
    if state.get('reboot_pending'):
        return _result('reboot needed', code, reason, platform)
    if code == 0:
        return _result('failed', 0, reason + ': the command ended with 0, but the check still '
                       'passes', platform)
    return _by_policy(code, reason, platform, policy, skip_codes, reboots=not rebooted)


# The three answers of the preflight's --state, each true, false or null (unknown, with a reason).
STATE_ANSWERS = ('installed', 'recorded', 'reboot_pending')


def _state_line(line, state, reason):
    """The line with its state and reason; an answer not given is unknown for that reason."""
    line.update(state=state, reason=reason)
    for answer in STATE_ANSWERS:
        if line[answer] is None and not line[answer + '_reason']:
            line[answer + '_reason'] = state
    return line


def hotfix_state(state_run, settings=None, preflight=''):
    """A host's line of the fleet-state view, all but its host, time and run id: state_run is
    the result of the preflight's --state --settings - run (skipped when it did not run), whose
    report gives the preflight's version too, settings the hotfix_settings lookup's answer for
    the bundle, preflight the preflight's path on the host."""
    state_run, settings = state_run or {}, settings or {}
    line = {'patch_id': None, 'preflight_status': None, 'preflight_name': None,
            'preflight_version': None}
    for answer in STATE_ANSWERS:
        line.update({answer: None, answer + '_reason': None})
    if state_run.get('unreachable'):
        return _state_line(line, 'unreachable',
                           (state_run.get('msg') or 'the host is unreachable').strip())
    if settings.get('problem'):
        return _state_line(line, 'settings broken' if settings.get('missing') else 'cannot tell',
                           settings['problem'])
    status, stdout = state_run.get('rc'), state_run.get('stdout') or ''
    if status not in (0, 1, 2, 77) or not stdout.startswith('{'):
        said = (state_run.get('stderr') or state_run.get('msg') or '').strip()
        # No status and no output: the program did not start (not there, not a program).
        if status is None or (not stdout and not state_run.get('stderr') and state_run.get('msg')):
            return _state_line(line, 'tool missing', 'the preflight %s cannot run: %s'
                               % (preflight, said))
        return _state_line(line, 'tool missing', 'the preflight %s gave no answer to --state '
                           '(exit status %s): %s' % (preflight, status, said))
    report = json.loads(stdout)
    line['preflight_version'] = report.get('preflight_version')
    answers = report.get('state') or {}
    for answer in STATE_ANSWERS:
        line.update({answer: answers.get(answer),
                     answer + '_reason': answers.get(answer + '_reason')})
    line.update(patch_id=report.get('patch_id'), preflight_status=status,
                preflight_name=report.get('verdict'))
    reason = 'preflight %d: %s' % (status, report.get('verdict'))
    if status == 1:
        return _state_line(line, 'settings broken', '%s: %s' % (reason, bundle_cause(report)))
    reason += ''.join('; %s unknown: %s' % (answer.replace('_', ' '), line[answer + '_reason'])
                      for answer in STATE_ANSWERS if line[answer] is None)
    if status == 2:
        state = {True: 'installed and recorded', False: 'installed, not recorded'}.get(
            line['recorded'], 'installed')
    else:
        state = 'not installed' if status == 0 else 'cannot tell'
    return _state_line(line, state, reason)


def hotfix_failure(failed_result, task_name=''):
    """{'classification', 'exit_status', 'exit_name', 'reason'} for a rollout stopped by a failed
    task: a stop of the role's own gives its classification, Ansible's unarchive refusing a Linux
    host's drive C that is not a folder is a tool missing, anything else fails the host."""
    message = str((failed_result or {}).get('msg', '')).strip()
    for classification in STOPS:
        if message.startswith(classification + ': '):
            return _result(classification, None, message[len(classification) + 2:])
    no_drive = NO_DRIVE_FOLDER.match(message)
    if no_drive:
        return _result('tool missing', None, "the launcher's prefix has no folder " + no_drive.group(1))
    return _result('failed', None, '%s: %s' % (task_name or 'a task', message or failed_result))


def hotfix_tail(content_b64, offset):
    """Base64 of the bytes after the first offset bytes of a file given in base64 (all of them
    when the file is shorter: it was replaced since)."""
    data = base64.b64decode(content_b64 or '')
    offset = int(offset or 0)
    return base64.b64encode(data[offset:] if offset <= len(data) else data).decode('ascii')


def hotfix_unread_note(found):
    """The reason's note on a file the role would not open: '; <path> is <what it is>: not
    opened'."""
    return '; %s is %s: not opened' % (found.get('path'), found.get('state'))


def hotfix_file_state(found):
    """What win_stat or ansible.builtin.stat (follow false) found, as the launcher would take it:
    'regular file' for a regular file with one name and no link or other reparse point; else what
    it is."""
    found = found or {}
    if not found.get('exists'):
        return 'missing'
    if found.get('islnk') or found.get('isjunction'):
        return 'a link or another reparse point'
    if found.get('isdir'):
        return 'a folder'
    if not found.get('isreg'):
        return 'not a regular file'
    if int(found.get('nlink') or 1) > 1:
        return 'a file with %s names' % found['nlink']
    return 'regular file'


def hotfix_stat_states(results):
    """[{'path', 'state'}] of win_stat results looped over paths."""
    return [{'path': result['item'], 'state': hotfix_file_state(result.get('stat'))}
            for result in results or ()]


def _result(classification, exit_status, reason, platform='windows'):
    return {'classification': classification, 'exit_status': exit_status,
            'exit_name': code_name(exit_status, platform), 'reason': reason}


class FilterModule(object):
    """The role's filters."""

    def filters(self):
        return {'hotfix_outcome': hotfix_outcome, 'hotfix_failure': hotfix_failure,
                'hotfix_code_in': hotfix_code_in, 'hotfix_file_state': hotfix_file_state,
                'hotfix_tail': hotfix_tail, 'hotfix_unread_note': hotfix_unread_note,
                'hotfix_stat_states': hotfix_stat_states, 'hotfix_state': hotfix_state}
