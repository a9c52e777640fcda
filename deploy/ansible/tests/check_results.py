"""Checks the fleet test's rollouts against its expectations: for each run, its exit status, one
results folder, one summary line per host attempted with the expected wave, preflight status,
exit status and classification and a reason that holds the expected words, every line with the
summary's keys and the run's id, summary.csv with the same rows (a text cell that a spreadsheet
would take for a formula behind an apostrophe), not-attempted.txt naming the hosts expected not
attempted, and a folder in hosts/ only for a host that did not succeed, never empty. Prints what
differs; exits with 1 when anything does.

  check_results.py RESULTS_DIR EXPECTED_FILE INVENTORY

EXPECTED_FILE lines: RUN STATUS HOST WAVE PREFLIGHT EXIT CLASSIFICATION ~ REASON WORDS, or
RUN STATUS HOST - not attempted ("-" for null)."""

import csv
import glob
import json
import os
import sys

import yaml

KEYS = ['host', 'preflight_status', 'rebooted', 'exit_status', 'preflight_after',
        'classification', 'patch_id', 'reason', 'time', 'preflight_name', 'exit_name', 'run_id',
        'dry_run', 'started', 'launcher_version', 'preflight_version', 'wave']
SUCCEEDING = ('success', 'already installed', 'would install', 'removed', 'not installed',
              'would back out')


def cell(value):
    """A summary value as summary.csv should hold it."""
    if value is None:
        return ''
    if isinstance(value, str) and value[:1] in ('=', '+', '-', '@', '\t', '\r'):
        return "'" + value
    return str(value)


results, expected_file, inventory_file = sys.argv[1:4]
with open(inventory_file, encoding='utf-8') as inventory:
    groups = dict((name, list(group['hosts'])) for name, group in
                  yaml.safe_load(inventory)['all']['children'].items())
runs = {}
with open(expected_file, encoding='utf-8') as expected:
    for line in expected:
        head, _, words = line.partition('~')
        run, status, host, *rest = head.split()
        runs.setdefault(run, {'status': status, 'hosts': {}})['hosts'][host] = (
            None if rest[1:] == ['not', 'attempted'] else
            (rest[0], rest[1], rest[2], ' '.join(rest[3:]), words.strip()))

problems = []
for run, want in runs.items():
    with open(os.path.join(results, run + '.status'), encoding='utf-8') as status:
        exited = status.read().strip()
    if exited != want['status']:
        problems.append('%s: ansible-playbook exited with %s, not %s (see %s.out)'
                        % (run, exited, want['status'], run))
    folders = glob.glob(os.path.join(results, run, '*-*'))
    if len(folders) != 1:
        problems.append('%s: %d results folders' % (run, len(folders)))
        continue
    folder = folders[0]
    with open(os.path.join(folder, 'summary.jsonl'), encoding='utf-8') as summary:
        lines = [json.loads(line) for line in summary]
    hosts = [line['host'] for line in lines]
    if len(hosts) != len(set(hosts)):
        problems.append('%s: a host has more than one line: %s' % (run, hosts))
    for line in lines:
        kind = 'backout-' if 'backout' in run else ''
        if list(line) != KEYS or os.path.basename(folder) != 'KB5001234-' + kind + line['run_id']:
            problems.append('%s: %s: keys or run id differ: %s' % (run, line['host'], line))
        if line['dry_run'] != run.endswith('check'):
            problems.append('%s: %s: dry_run is %s' % (run, line['host'], line['dry_run']))
        expected = want['hosts'].get(line['host'])
        if expected is None:
            problems.append('%s: %s has a line but should not: %s' % (run, line['host'], line))
            continue
        actual = tuple('-' if line[key] is None else str(line[key])
                       for key in ('wave', 'preflight_status', 'exit_status', 'classification'))
        if actual != expected[:4] or expected[4] not in line['reason']:
            problems.append('%s: %s: %s, reason "%s"; expected %s, reason holding "%s"'
                            % ((run, line['host']) + (actual, line['reason']) + (expected[:4],
                                                                                  expected[4])))
    with open(os.path.join(folder, 'summary.csv'), encoding='utf-8', newline='') as table:
        rows = list(csv.reader(table))
    if rows != [KEYS] + [[cell(line[key]) for key in KEYS] for line in lines]:
        problems.append('%s: summary.csv does not hold the summary\'s rows' % run)
    missing = [host for host, expected in want['hosts'].items() if expected and host not in hosts]
    if missing:
        problems.append('%s: no line for %s' % (run, missing))
    group = next(name for name, members in groups.items() if hosts and hosts[0] in members)
    with open(os.path.join(folder, 'not-attempted.txt'), encoding='utf-8') as listed:
        not_attempted = listed.read().split()
    if not_attempted != [host for host in groups[group] if host in want['hosts'] and
                         want['hosts'][host] is None]:
        problems.append('%s: not-attempted.txt lists %s' % (run, not_attempted))
    classes = dict((line['host'], line['classification']) for line in lines)
    for kept in glob.glob(os.path.join(folder, 'hosts', '*')):
        host = os.path.basename(kept)
        if classes.get(host) in SUCCEEDING or not os.listdir(kept):
            problems.append('%s: hosts/%s is there, for a host that is %s, with %s'
                            % (run, host, classes.get(host), os.listdir(kept)))
print('\n'.join(problems))
sys.exit(1 if problems else 0)
