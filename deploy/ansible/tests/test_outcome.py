"""The outcomes of plugins/filter/hotfix_outcome.py that the simulated fleet cannot produce (the
launcher's own one-hour wait on Linux, Windows codes with the top bit set, a launcher that did not
start, the policy's codes on Windows, the preflight's unknown and unsafe items as reasons; states
the preflight cannot tell or gives without a patch-info file, a Windows preflight that is not
there, a host lost between its two runs), that its code table and the role's default policy agree
with docs/exit-status.md, that the SHA256SUMS list of plugins/module_utils/hotfix_bundle.py is the
one sha256sum writes, escaped names included, and that the archive a Linux host's bundle is
staged from gives every member root and the role's modes."""

import base64
import hashlib
import json
import os
import re
import subprocess
import sys
import tarfile
import tempfile
import unittest

import yaml

HERE = os.path.dirname(os.path.abspath(__file__))
COLLECTION = os.path.join(HERE, '..')
ROLE = os.path.join(COLLECTION, 'roles', 'hotfix_rollout')
sys.path.insert(0, os.path.join(COLLECTION, 'plugins', 'filter'))
sys.path.insert(0, os.path.join(COLLECTION, 'plugins', 'modules'))
sys.path.insert(0, os.path.join(COLLECTION, '..', 'collections'))
from hotfix_outcome import CODES, hotfix_failure, hotfix_outcome, hotfix_state  # noqa: E402
from ansible_collections.hotfix.launcher.plugins.module_utils.hotfix_bundle import (  # noqa: E402
    bundle_entries, sha256sums)
from hotfix_stage_archive import write_archive  # noqa: E402

OLD = b'1/2/2025 3:4:5 : KB5001234, C:\\hotfix\\KB5001234\\ setup Exit code = 3\r\n'
READY = {'status': 0, 'report': {'check': {'installed': False}}}
INSTALLED = {'status': 2, 'report': {}}


def state_run(status, installed=None, reboot_pending=False):
    """A --state run as backout_state.yml keeps it."""
    return {'status': status, 'report': {'verdict': 'v', 'state': {
        'installed': installed, 'installed_reason': None if installed is not None else 'denied',
        'reboot_pending': reboot_pending}}}


def backout_outcome(rc, after=None, before=None, launch=None, **given):
    result = hotfix_outcome(before or state_run(2, True), launch or {'rc': rc, 'delta': '0'},
                            preflight_after=after or state_run(2, True), action='backout',
                            **given)
    return result['classification'], result['exit_status'], result['reason']


def record(message):
    return b'3/7/2025 9:6:41 : KB5001234, C:\\hotfix\\KB5001234\\ setup ' + message + b'\r\n'


def outcome(rc, new=b'', old=b'', platform='linux', after=INSTALLED, launch=None, **policy):
    log = base64.b64encode(old + new).decode('ascii')
    result = hotfix_outcome(READY, launch or {'rc': rc, 'delta': '0:00:01'}, log, len(old), after,
                            platform, **policy)
    return result['classification'], result['exit_status']


class OutcomeTest(unittest.TestCase):
    def test_statuses(self):
        wait = record(b'Exit code = 259') + b'Exit code = 3\r\n'
        cases = [
            # 3 is both the one-hour wait and an installer's own 3; an older run's record is not
            # this run's.
            (outcome(3, wait, OLD), ('still running', 259)),
            (outcome(3, record(b'Exit code = 3'), record(b'Exit code = 259')), ('failed', 3)),
            (outcome(255, record(b'Failed to create process')), ('failed', -1)),
            (outcome(255, record(b'Exit code = 255')), ('failed', 255)),
            (outcome(0, after={'status': 0, 'report': {'check': {'installed': True}}}),
             ('failed', 0)),
            (outcome(2149842967, platform='windows'), ('not applicable', -2145124329)),
            (outcome(2359302, platform='windows'), ('already installed', 2359302)),
            (outcome(1641, platform='windows'), ('reboot needed', 1641)),
            (outcome(1618, platform='windows', launch={'rc': 1618, 'delta': '0', 'attempts': 3}),
             ('retry later', 1618)),
            (outcome(259, platform='windows'), ('still running', 259)),
            (outcome(194, platform='windows'), ('failed', 194)),
            (outcome(5, platform='windows', skip_codes={'0x5': 'not applicable'}),
             ('not applicable', 5)),
            (outcome(0, launch={'rc': 2, 'failed': True, 'msg': 'No such file'}), ('failed', None)),
            # The async limit: the wrapper's kill as async_status reads it on Linux and on
            # Windows, and a wait that gave up first.
            (outcome(0, launch={'failed': True, 'finished': 1, 'msg': 'Timeout exceeded'}),
             ('interrupted', None)),
            (outcome(0, platform='windows', launch={
                'failed': True, 'finished': 1, 'msg': 'timed out waiting for module completion'}),
             ('interrupted', None)),
            (outcome(0, launch={'started': 1, 'finished': 0, 'attempts': 1}),
             ('interrupted', None)),
        ]
        for actual, expected in cases:
            self.assertEqual(actual, expected)

    def test_backouts(self):
        cases = [
            # The state before decides whether anything runs; a dry run stops there.
            (backout_outcome(None, before=state_run(0, False)), 'not installed', None,
             'preflight 0: v; nothing ran'),
            (backout_outcome(None, before=state_run(77)), 'cannot tell', None,
             'preflight 77: v; installed unknown: denied'),
            (backout_outcome(None, check_mode=True), 'would back out', None,
             'preflight 2: v; the back-out command would run'),
            # The state after decides what the command did, whatever its code.
            (backout_outcome(1603, after=state_run(0, False)), 'removed', 1603,
             'exit status 1603 (0x00000643) ERROR_INSTALL_FAILURE'),
            (backout_outcome(0, after=state_run(2, True, reboot_pending=True)), 'reboot needed',
             0, 'exit status 0 (0x00000000); after it preflight 2: v'),
            (backout_outcome(0), 'failed', 0, 'but the check still passes'),
            (backout_outcome(0, after=state_run(77)), 'cannot tell', 0, 'installed unknown'),
            # After a reboot only a pending reboot counts, not the command's reboot code.
            (backout_outcome(3010, platform='windows', rebooted=True), 'failed', 3010,
             'ERROR_SUCCESS_REBOOT_REQUIRED'),
            (backout_outcome(None, launch={'failed': True, 'msg': 'Timeout exceeded'}),
             'interrupted', None, 'ended the back-out command'),
            (backout_outcome(None, launch={'failed': True, 'msg': '[Errno 2] No such file'}),
             'failed', None, 'the back-out command did not run: [Errno 2]'),
        ]
        for (classification, status, reason), *expected in cases:
            self.assertEqual((classification, status), tuple(expected[:2]))
            self.assertIn(expected[2], reason)

    def test_reasons_name_the_code(self):
        # A 0 after which the check still fails is the installer's, not the launcher's passed
        # check.
        ended = hotfix_outcome(READY, {'rc': 0, 'delta': '0', 'attempts': 2}, '', 0,
                               {'status': 0, 'report': {'check': {'installed': False}}})
        self.assertEqual(ended['reason'], 'exit status 0 (0x00000000) (after 1 retry): the '
                         'installer ended with 0, but the check still fails (preflight after: 0)')
        result = hotfix_outcome(READY, {'rc': 2149842967, 'delta': '0'}, '', 0, None, 'windows')
        self.assertIn('-2145124329 (0x80240017) WU_E_NOT_APPLICABLE, the update does not apply',
                      result['reason'])
        for report, cause in [
            ({'launcher': {'runs_from': '/usr/lib/x', 'runs_in_drive_folder': False}},
             'runs from /usr/lib/x, outside'),
            ({'installer': {'path': 'C:\\k.exe', 'file': 'not a program', 'start_error':
                            'Exec format error', 'records': [{'message': 'Failed to create process'}]}},
             'C:\\k.exe is not a program (Exec format error)'),
        ]:
            broken = hotfix_outcome({'status': 1, 'report': report})
            self.assertEqual(broken['classification'], 'bundle broken')
            self.assertIn(cause, broken['reason'])
        unrecordable = {'status': 0, 'report': {'check': {'installed': True},
                                                'patch_info': {'access': 'cannot be opened'}}}
        self.assertIn('could not record the id',
                      hotfix_outcome(unrecordable, check_mode=True)['reason'])
        unsafe = {'status': 4, 'report': {'staging': {'findings': [
            {'path': 'C:\\hotfix\\', 'host_path': 'C:\\hotfix\\', 'who': 'BUILTIN\\Users',
             'how': 'may add files'},
            {'path': None, 'host_path': '/srv/x/', 'who': None, 'how': 'is a link'}],
            'more_findings': 3}}}
        for check_mode in (False, True):
            refused = hotfix_outcome(unsafe, check_mode=check_mode)
            self.assertEqual(refused['classification'], 'refused')
            self.assertTrue(refused['reason'].endswith(': C:\\hotfix\\: BUILTIN\\Users may add '
                                                       'files; /srv/x/: is a link; and 3 more'))
        unknown = hotfix_outcome({'status': 77, 'report': {'unknown': [
            {'item': 'staging', 'reason': '/s/KB.SHA256SUMS: Permission denied'}]}})
        self.assertIn('(staging: /s/KB.SHA256SUMS: Permission denied)', unknown['reason'])
        held = {'status': 0, 'report': {'check': {'installed': True}, 'patch_info': {
            'access': None, 'access_reason': 'Sharing violation. (error 32)'}}}
        self.assertIn('whether the launcher could record the id is not known: Sharing violation',
                      hotfix_outcome(held, check_mode=True)['reason'])
        stopped = hotfix_failure({'msg': 'refused: C:\\hotfix is owned by someone'}, 'Check')
        self.assertEqual(stopped['classification'], 'refused')
        self.assertEqual(hotfix_failure({'msg': 'boom'}, 'Copy')['reason'], 'Copy: boom')
        no_drive = hotfix_failure({'msg': "dest '/p/drive_c' must be an existing dir"}, 'Unpack')
        self.assertEqual((no_drive['classification'], no_drive['reason']),
                         ('tool missing', "the launcher's prefix has no folder /p/drive_c"))

    def test_states(self):
        settings = {'text': '[MicrosoftPatch]', 'missing': False, 'problem': ''}

        def state(status, installed=None, recorded=None, run=None, given=settings):
            answers = {'installed': installed, 'installed_reason': None if installed is not None
                       else 'Failed RegOpenKeyEx: access denied', 'recorded': recorded,
                       'recorded_reason': None if recorded is not None
                       else 'not used: ProgramPath is not in the registry',
                       'reboot_pending': False, 'reboot_pending_reason': None}
            line = hotfix_state(run or {'rc': status, 'stdout': json.dumps(
                {'status': status, 'verdict': 'v', 'preflight_version': '1.1.0',
                 'patch_id': 'KB1', 'state': answers})},
                given, 'C:\\hotfix\\hotfix-preflight.exe')
            return line['state'], line['installed'], line['preflight_version'], line['reason']

        cases = [
            (state(2, True, None), ('installed', True, '1.1.0',
                                    'preflight 2: v; recorded unknown: not used: ProgramPath')),
            (state(77, None, False), ('cannot tell', None, '1.1.0',
                                      'preflight 77: v; installed unknown: Failed RegOpenKeyEx')),
            # win_command gives no rc when the program is not there; command gives the errno.
            (state(0, run={'failed': True, 'msg': 'Exception calling "SearchPath": "Could not '
                                                 'find file"'}),
             ('tool missing', None, None, 'the preflight C:\\hotfix\\hotfix-preflight.exe cannot '
                                          'run: Exception calling "SearchPath"')),
            (state(0, run={'failed': True, 'rc': 2, 'stdout': '', 'stderr': '',
                           'msg': "[Errno 2] No such file or directory: b'x'"}),
             ('tool missing', None, None, 'the preflight C:\\hotfix\\hotfix-preflight.exe cannot '
                                          'run: [Errno 2] No such file')),
            # A preflight that predates --state refuses the option.
            (state(0, run={'rc': 64, 'stdout': '', 'stderr': 'unknown option --state\n'}),
             ('tool missing', None, None, 'the preflight C:\\hotfix\\'
              'hotfix-preflight.exe gave no answer to --state (exit status 64): unknown option')),
            (state(0, run={'unreachable': True, 'msg': 'lost\r\n'}),
             ('unreachable', None, None, 'lost')),
            (state(0, run={'skipped': True},
                   given={'text': None, 'missing': False, 'problem': 'x is not UTF-8'}),
             ('cannot tell', None, None, 'x is not UTF-8')),
            (state(0, run={'skipped': True},
                   given={'text': None, 'missing': True, 'problem': 'x is empty'}),
             ('settings broken', None, None, 'x is empty')),
        ]
        for (name, installed, preflight, reason), expected in cases:
            self.assertEqual((name, installed, preflight), expected[:3])
            self.assertTrue(reason.startswith(expected[3]), (reason, expected[3]))

    def test_codes_and_policy_are_those_of_the_exit_status_page(self):
        with open(os.path.join(HERE, '..', '..', '..', 'docs', 'exit-status.md')) as page:
            rows = re.findall(r'^\| ([A-Z_]+) \| (-?\d+) \| (0x[0-9A-F]{8}) \| (\d+) \| ([^|(;]+)'
                              r'[^|]*\|[^|]*\| `([a-z ]+)`[^|]*\| `([a-z ]+)`', page.read(), re.M)
        with open(os.path.join(ROLE, 'defaults', 'main.yml')) as defaults:
            policy = yaml.safe_load(defaults)
        classes = dict((code, 'reboot needed') for code in policy['hotfix_reboot_codes'])
        classes.update(dict((code, 'retry later') for code in policy['hotfix_retry_codes']))
        backout = dict(classes)
        backout.update(policy['hotfix_backout_skip_codes'])
        classes.update(policy['hotfix_skip_codes'])
        self.assertEqual(len(rows), 8)
        for name, status, hex_code, linux, meaning, role, backs_out in rows:
            code = int(hex_code, 16)
            self.assertEqual((code & 0xFFFFFFFF, code & 0xFF), (int(status) & 0xFFFFFFFF,
                                                                int(linux)))
            self.assertEqual(CODES[code], (name, meaning.strip()))
            self.assertEqual((classes.get(code, 'failed'), backout.get(code, 'failed')),
                             (role, backs_out))
            # A back-out's code that leaves the hotfix installed is classified as the column
            # says, on the full code (Windows) and on its low 8 bits (Linux).
            for platform, rc in (('windows', code), ('linux', code & 0xFF)):
                self.assertEqual(backout_outcome(rc, platform=platform)[0], backs_out)


class SumsTest(unittest.TestCase):
    def test_the_list_is_sha256sums_own(self):
        # Names that sha256sum escapes, and an executable file in a folder, read by the lookup.
        with tempfile.TemporaryDirectory() as bundle:
            os.mkdir(os.path.join(bundle, 'sub'))
            names = ['Installer.ini', 'back\\slash', 'line\nfeed', 'sub/KB 1.exe']
            for index, name in enumerate(names):
                with open(os.path.join(bundle, name), 'wb') as out:
                    out.write(b'%d\r\n' % index)
            os.chmod(os.path.join(bundle, 'sub/KB 1.exe'), 0o750)
            entries = bundle_entries(bundle + '/')
            expected = subprocess.run(['sha256sum'] + sorted(names), cwd=bundle, check=True,
                                      capture_output=True).stdout.decode()
        self.assertEqual(sha256sums(entries), expected)
        self.assertEqual([(entry['path'], entry['executable']) for entry in entries],
                         [('Installer.ini', False), ('back\\slash', False), ('line\nfeed', False),
                          ('sub/KB 1.exe', True)])

    def test_the_archive_is_roots_with_the_roles_modes(self):
        # A controller's 0777 installer, a set-uid file and a folder: the members are root's and
        # 0755/0644 whatever the controller's modes, every folder from the first of the stage
        # down is a member (so that --no-overwrite-dir can leave the host's as they are), and the
        # list beside the bundle names setup with the installed launcher's SHA-256.
        with tempfile.TemporaryDirectory() as work:
            bundle = os.path.join(work, 'KB5001234')
            os.makedirs(os.path.join(bundle, 'sub'))
            for name, mode in [('KB5001234.exe', 0o777), ('Installer.ini', 0o4644),
                               ('sub/data', 0o600)]:
                with open(os.path.join(bundle, name), 'wb') as out:
                    out.write(name.encode())
                os.chmod(os.path.join(bundle, name), mode)
            launcher = os.path.join(work, 'launcher')
            with open(launcher, 'wb') as out:
                out.write(b'ELF')
            os.chmod(launcher, 0o600)
            archive = os.path.join(work, 'bundle.tar')
            checksum = hashlib.sha256(b'ELF').hexdigest().upper()
            write_archive(archive, bundle, 'hotfix/KB5001234', launcher, checksum, now=1)
            with tarfile.open(archive) as members:
                found = [(member.name, member.isdir(), oct(member.mode), member.uid, member.gid)
                         for member in members]
                sums = members.extractfile('hotfix/KB5001234.SHA256SUMS').read().decode()
        self.assertEqual(found, [
            ('hotfix', True, '0o755', 0, 0), ('hotfix/KB5001234', True, '0o755', 0, 0),
            ('hotfix/KB5001234/sub', True, '0o755', 0, 0),
            ('hotfix/KB5001234/Installer.ini', False, '0o644', 0, 0),
            ('hotfix/KB5001234/KB5001234.exe', False, '0o755', 0, 0),
            ('hotfix/KB5001234/setup', False, '0o755', 0, 0),
            ('hotfix/KB5001234/sub/data', False, '0o644', 0, 0),
            ('hotfix/KB5001234.SHA256SUMS', False, '0o644', 0, 0)])
        self.assertEqual(sums.splitlines()[2], checksum.lower() + '  setup')
        self.assertEqual(len(sums.splitlines()), 4)


if __name__ == '__main__':
    unittest.main()
