"""What the simulated fleet cannot show of library/hotfix_results.py and the hotfix_command
lookup: the waves it counts against Ansible's own batching for every kind of serial, the stop
rule's edges, folders for rollouts started in the same second (and at the same moment), the
spreadsheet-safe cell, and the command that goes on under every spelling of --limit."""

import os
import sys
import tempfile
import threading
import types
import unittest

from ansible.executor.playbook_executor import PlaybookExecutor

HERE = os.path.dirname(os.path.abspath(__file__))
COLLECTION = os.path.join(HERE, '..')
sys.path.insert(0, os.path.join(COLLECTION, 'plugins', 'modules'))
sys.path.insert(0, os.path.join(COLLECTION, 'plugins', 'lookup'))
from hotfix_command import command_with_limit  # noqa: E402
from hotfix_results import csv_cell, new_folder, stop_sentence, wave_sizes  # noqa: E402


def ansible_batches(serial, count):
    """The sizes of the batches ansible-playbook itself makes of count hosts under serial."""
    inventory = types.SimpleNamespace(get_hosts=lambda pattern, order: list(range(count)))
    executor = types.SimpleNamespace(_inventory=inventory)
    play = types.SimpleNamespace(hosts='all', order=None,
                                 serial=serial if isinstance(serial, list) else [serial])
    return [len(batch) for batch in PlaybookExecutor._get_serialized_batches(executor, play)]


class ResultsTest(unittest.TestCase):
    def test_waves_are_ansibles(self):
        for serial, count in [('25%', 12), ('25%', 5), ('10%', 96), ('30%', 10), ('1%', 5),
                              (1, 2), (3, 7), ('3', 7), (0, 4), ('100%', 9), (20, 5),
                              ([1, '25%'], 12), ([1, 5, '100%'], 20), ([2, 0], 9), ('25%', 0)]:
            self.assertEqual(wave_sizes(serial, count), ansible_batches(serial, count),
                             (serial, count))

    def test_stop_rule(self):
        cases = [
            # wave, waves, size, failing, lost, max: ''
            ((3, 4, 3, ['a', 'b'], [], 10), 'stopped after wave 3 of 4: 2 of 3 hosts failed, '
                                             'above hotfix_max_fail_percentage 10'),
            ((1, 4, 10, ['a'], [], 10), ''),  # 10% is not above 10%
            ((1, 4, 10, ['a', 'b'], [], 12.5), 'stopped after wave 1 of 4: 2 of 10 hosts failed, '
                                               'above hotfix_max_fail_percentage 12.5'),
            ((1, 2, 1, ['a'], [], 100), 'stopped after wave 1 of 2: 1 of 1 hosts failed, '
                                        'the whole wave'),
            ((2, 3, 2, ['a'], ['b'], 100), 'stopped after wave 2 of 3: 2 of 2 hosts failed or '
                                           'were lost, the whole wave'),
            # A host Ansible lost does not count against max_fail_percentage.
            ((1, 3, 4, [], ['a', 'b'], 10), ''),
            ((4, 4, 3, ['a', 'b', 'c'], [], 10), ''),  # the last wave stops nothing
        ]
        for arguments, sentence in cases:
            self.assertEqual(stop_sentence(*arguments), sentence, arguments)

    def test_rollouts_in_one_second_get_folders_of_their_own(self):
        with tempfile.TemporaryDirectory() as results:
            made = [new_folder(results, 'KB5001234', '20261208T011637Z') for _ in range(2)]
            self.assertEqual([run_id for run_id, _ in made],
                             ['20261208T011637Z-1', '20261208T011637Z-2'])
            threads = [threading.Thread(target=lambda: made.append(
                new_folder(results, 'KB5001234', '20261208T011637Z'))) for _ in range(8)]
            for thread in threads:
                thread.start()
            for thread in threads:
                thread.join()
            self.assertEqual(len(set(folder for _, folder in made)), 10)
            self.assertEqual(len(os.listdir(results)), 10)

    def test_csv_cells(self):
        for value, cell in [('=1+2', "'=1+2"), ('+1', "'+1"), ('-x', "'-x"), ('@SUM(A1)', "'@SUM(A1)"),
                            ('\tx', "'\tx"), ('\rx', "'\rx"), ('KB5001234', 'KB5001234'),
                            (-1, -1), (None, ''), (True, True)]:
            self.assertEqual(csv_cell(value), cell)

    def test_command_to_go_on(self):
        limit = '@/r/KB5001234-20261208T011637Z-1/retry.txt'
        for argv in [['/usr/bin/ansible-playbook', '-i', 'fleet.yml', 'rollout.yml', '-l', 'a'],
                     ['ansible-playbook', '-i', 'fleet.yml', '--limit', 'a,b', 'rollout.yml'],
                     ['ansible-playbook', '-i', 'fleet.yml', '--limit=a', 'rollout.yml', '-la'],
                     ['ansible-playbook', '-i', 'fleet.yml', 'rollout.yml']]:
            self.assertEqual(command_with_limit(argv, limit), 'ansible-playbook -i fleet.yml '
                             'rollout.yml --limit @/r/KB5001234-20261208T011637Z-1/retry.txt')
        self.assertEqual(command_with_limit(['ansible-playbook', '-e', 'hotfix_serial=25%',
                                             '-e', 'a=b c', 'r.yml'], '@x'),
                         "ansible-playbook -e hotfix_serial=25% -e 'a=b c' r.yml --limit @x")


if __name__ == '__main__':
    unittest.main()
