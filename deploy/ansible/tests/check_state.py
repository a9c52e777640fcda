"""Checks fleet-state runs (playbooks/status.yml) against the fleet test's expectations: for each
run, its exit status, one results folder named <bundle>-state-<run id>, one line per host in
state.jsonl with the state's keys and the run's id, each host's state, its three answers (true,
false or - for unknown) and a reason that holds the expected words, and state.csv with the same
rows (an unknown answer as "unknown", any other cell as summary.csv's, by the results module's
rule, which its unit cases check). The runs' lines must agree but for their times, run ids and the
words of an unreachable host's reason. Prints what differs; exits with 1 when anything does.

  check_state.py RESULTS_DIR EXPECTED_FILE RUN...

EXPECTED_FILE lines: HOST INSTALLED RECORDED REBOOT_PENDING STATE ~ REASON WORDS; the first line
is the runs' exit status."""

import csv
import glob
import json
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'plugins',
                                'modules'))
from hotfix_results import csv_cell  # noqa: E402

KEYS = ['host', 'state', 'installed', 'installed_reason', 'recorded', 'recorded_reason',
        'reboot_pending', 'reboot_pending_reason', 'patch_id', 'preflight_status',
        'preflight_name', 'preflight_version', 'reason', 'time', 'run_id']
ANSWERS = ('installed', 'recorded', 'reboot_pending')


def answer(value):
    return '-' if value is None else str(value).lower()


results, expected_file, *runs = sys.argv[1:]
with open(expected_file, encoding='utf-8') as expected:
    status = expected.readline().strip()
    want = {}
    for row in expected:
        head, _, words = row.partition('~')
        host, installed, recorded, pending, *state = head.split()
        want[host] = ((installed, recorded, pending, ' '.join(state)), words.strip())

problems = []
seen = {}
for run in runs:
    with open(os.path.join(results, run + '.status'), encoding='utf-8') as exited:
        if exited.read().strip() != status:
            problems.append('%s: ansible-playbook did not exit with %s (see %s.out)'
                            % (run, status, run))
    folders = glob.glob(os.path.join(results, run, '*'))
    if len(folders) != 1:
        problems.append('%s: %d results folders' % (run, len(folders)))
        continue
    with open(os.path.join(folders[0], 'state.jsonl'), encoding='utf-8') as state:
        lines = [json.loads(line) for line in state]
    if sorted(line['host'] for line in lines) != sorted(want):
        problems.append('%s: lines for %s' % (run, [line['host'] for line in lines]))
    for line in lines:
        folder = os.path.basename(folders[0])
        if list(line) != KEYS or folder != 'KB5001234-state-' + line['run_id']:
            problems.append('%s: %s: keys or run id differ: %s' % (run, line['host'], line))
        got = tuple(answer(line[key]) for key in ANSWERS) + (line['state'],)
        expected, words = want.get(line['host'], ((), ''))
        if got != expected or words not in (line['reason'] or ''):
            problems.append('%s: %s: %s, reason "%s"; expected %s, reason holding "%s"'
                            % (run, line['host'], got, line['reason'], expected, words))
        for key in ANSWERS:
            if line[key] is None and not line[key + '_reason']:
                problems.append('%s: %s: %s unknown without a reason' % (run, line['host'], key))
    with open(os.path.join(folders[0], 'state.csv'), encoding='utf-8', newline='') as table:
        rows = list(csv.reader(table))
    expected_rows = [KEYS] + [['unknown' if key in ANSWERS and line[key] is None else
                               str(line[key]).lower() if key in ANSWERS else
                               str(csv_cell(line[key]))
                               for key in KEYS] for line in lines]
    if rows != expected_rows:
        problems.append('%s: state.csv does not hold the lines\' rows' % run)
    # SSH words a refused connection in more than one way.
    seen[run] = sorted([value for key, value in line.items() if key not in ('time', 'run_id') and
                        (key, line['state']) != ('reason', 'unreachable')] for line in lines)
if len(set(json.dumps(lines) for lines in seen.values())) > 1:
    problems.append('the runs %s differ' % ', '.join(seen))
print('\n'.join(problems) or 'state lines: %s' % ', '.join(runs))
sys.exit(1 if problems else 0)
