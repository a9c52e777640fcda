"""What the simulated fleet cannot show of plugins/modules/hotfix_results.py, the role's page
templates and the hotfix_command and hotfix_settings lookups: the waves it counts against
Ansible's own batching for every kind of serial, the stop rule's edges, folders for rollouts
started in the same second (and at the same moment), the spreadsheet-safe cell, report.html and
state.html rendered as the template action renders them with markup in every text (Ansible's
templates do not escape by themselves), a state line for a host that gave none, the command that
goes on under every spelling of --limit, and which Installer.ini bytes can travel on a module's
standard input."""

import base64
import os
import sys
import tempfile
import threading
import types
import unittest

from ansible.executor.playbook_executor import PlaybookExecutor
from ansible.parsing.dataloader import DataLoader
from ansible.template import AnsibleEnvironment, Templar
from ansible.utils.unsafe_proxy import wrap_var

HERE = os.path.dirname(os.path.abspath(__file__))
COLLECTION = os.path.join(HERE, '..')
sys.path.insert(0, os.path.join(COLLECTION, 'plugins', 'modules'))
sys.path.insert(0, os.path.join(COLLECTION, 'plugins', 'lookup'))
from hotfix_command import command_with_limit  # noqa: E402
from hotfix_results import (csv_cell, new_folder, stop_sentence, wave_sizes,  # noqa: E402
                            write_results, write_states)
from hotfix_settings import settings_text  # noqa: E402

TEMPLATES = os.path.join(COLLECTION, 'roles', 'hotfix_rollout', 'templates')
# Markup and a template expression in a text from a host or a bundle.
MARKUP = '<b id="x">&\'{{ 7 * 7 }}'


def render(name, results):
    """The template as ansible.builtin.template renders it, given the module's registered
    results (which Ansible marks unsafe, so that their texts are never templated)."""
    templar = Templar(loader=DataLoader(), variables={'hotfix_results': wrap_var(results)})
    templar = templar.copy_with_new_env(environment_class=AnsibleEnvironment,
                                        searchpath=[TEMPLATES])
    with open(os.path.join(TEMPLATES, name), encoding='utf-8') as template:
        return templar.do_template(template.read(), preserve_trailing_newlines=True,
                                   escape_backslashes=False)


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

    def test_pages_escape_every_text(self):
        escaped = '&lt;b id=&#34;x&#34;&gt;&amp;&#39;{{ 7 * 7 }}'
        with tempfile.TemporaryDirectory() as folder:
            line = dict.fromkeys(['preflight_name', 'exit_name', 'patch_id', 'reason',
                                  'preflight_version', 'launcher_version'], MARKUP)
            line.update(host='h' + MARKUP, classification='failed', wave='1', exit_status='67',
                        started='2026-12-08T01:16:37Z', time='2026-12-08T01:16:40Z',
                        preflight_status='0', _fails='True',
                        _records=base64.b64encode(MARKUP.encode()).decode())
            rollout = write_results(dict(
                dir=folder, run_id='r' + MARKUP, bundle='b' + MARKUP, wave=1, serial=1,
                fleet=['h' + MARKUP, 'n' + MARKUP], max_fail_percentage='0',
                command='c' + MARKUP, started=[{'host': 'h' + MARKUP, 'wave': 1}], entries=[line]))
            state = dict.fromkeys(['installed_reason', 'recorded_reason', 'patch_id',
                                   'preflight_name', 'preflight_version', 'reason', 'run_id'],
                                  MARKUP)
            state.update(host='h' + MARKUP, state='not installed', installed=False,
                         recorded=None, reboot_pending=True, time='2026-12-08T01:16:37Z')
            states = write_states(dict(dir=folder, run_id='r' + MARKUP, bundle='b' + MARKUP,
                                       fleet=['h' + MARKUP], entries=[state]))
        self.assertTrue(rollout['stopped'])
        for page, results, texts in [('report.html.j2', rollout, 18),
                                     ('state.html.j2', states, 11)]:
            html = render(page, results)
            self.assertNotIn('<b id', html, page)
            self.assertNotIn('49', html, page)
            self.assertEqual(html.count(escaped), texts, page)

    def test_a_host_without_a_state_line_fails(self):
        with tempfile.TemporaryDirectory() as folder:
            states = write_states(dict(dir=folder, run_id='r', bundle='b', fleet=['b', 'a'],
                                       entries=[{'host': 'a', 'state': 'not installed',
                                                 'installed': False, 'reboot_pending': None}]))
            with open(os.path.join(folder, 'state.csv'), encoding='utf-8') as table:
                rows = table.read().splitlines()
        self.assertEqual([(row['host'], row['state']) for row in states['page']['rows']],
                         [('a', 'not installed'), ('b', 'failed')])
        self.assertEqual([row.split(',')[:3] + row.split(',')[6:7] for row in rows[1:]],
                         [['b', 'failed', 'unknown', 'unknown'], ['a', 'not installed', 'false',
                                                                  'unknown']])

    def test_settings_that_travel_unchanged(self):
        ini = '[MicrosoftPatch]\r\nAppName=KB1.exe\r\n'
        for data, text in [(ini.encode(), ini), (ini.replace('KB1', 'KB\u00e9').encode(),
                                                    ini.replace('KB1', 'KB\u00e9')),
                           (b'\xff\xfe' + ini.encode('utf-16-le'), ini),
                           (b'\xff\xfe' + 'AppName=\u00e9'.encode('utf-16-le'), None),
                           (b'\xff\xfe' + ini.encode('utf-16-le') + b'\0', None),
                           (ini.replace('KB1', 'KB\u00e9').encode('cp1252'), None),
                           (ini.encode() + b'\0', None)]:
            self.assertEqual(settings_text(data)[0], text, data)
            self.assertEqual(bool(settings_text(data)[1]), text is None, data)

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
