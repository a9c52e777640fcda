"""The outcomes of filter_plugins/hotfix_outcome.py that the simulated fleet cannot produce: the
launcher's own one-hour wait (status 3 on Linux), a Windows status with the top bit set, and a
launcher that could not be started."""

import base64
import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                '..', 'roles', 'hotfix_rollout', 'filter_plugins'))
from hotfix_outcome import hotfix_outcome  # noqa: E402

OLD = b'1/2/2025 3:4:5 : KB5001234, C:\\hotfix\\KB5001234\\ setup Exit code = 3\r\n'


def record(message):
    return b'3/7/2025 9:6:41 : KB5001234, C:\\hotfix\\KB5001234\\ setup ' + message + b'\r\n'


def outcome(rc, new=b'', old=b'', platform='linux', after=0):
    log = base64.b64encode(old + new).decode('ascii')
    launch = {'rc': rc, 'delta': '0:00:01'}
    result = hotfix_outcome(0, launch, log, len(old), after, platform)
    return result['classification'], result['exit_status']


class OutcomeTest(unittest.TestCase):
    def test_linux_wait_read_from_this_runs_records(self):
        # 3 is both the one-hour wait and an installer's own 3; an older run's record must not count.
        wait = record(b'Exit code = 259') + b'Exit code = 3\r\n'
        self.assertEqual(outcome(3, wait, OLD), ('still running', 259))
        self.assertEqual(outcome(3, record(b'Exit code = 3'), record(b'Exit code = 259')), ('failed', 3))

    def test_linux_255_is_the_launchers_own_failure_or_the_installers(self):
        self.assertEqual(outcome(255, record(b'Failed to create process')), ('failed', -1))
        self.assertEqual(outcome(255, record(b'Exit code = 255')), ('failed', 255))

    def test_a_run_log_that_was_replaced_is_read_whole(self):
        log = base64.b64encode(record(b'Exit code = 259')).decode('ascii')
        result = hotfix_outcome(0, {'rc': 3, 'delta': '0'}, log, 10000, 0, 'linux')
        self.assertEqual(result['classification'], 'still running')

    def test_windows_status_is_the_full_code(self):
        self.assertEqual(outcome(2149842967, platform='windows'), ('failed', -2145124329))
        self.assertEqual(outcome(3010, platform='windows'), ('reboot needed', 3010))
        self.assertEqual(outcome(259, platform='windows'), ('still running', 259))
        self.assertEqual(outcome(194, platform='windows'), ('failed', 194))

    def test_a_launcher_that_did_not_start_is_no_status(self):
        result = hotfix_outcome(0, {'rc': 2, 'failed': True, 'msg': 'No such file'}, '', 0, None)
        self.assertEqual((result['classification'], result['exit_status']), ('failed', None))


if __name__ == '__main__':
    unittest.main()
