"""Prints each line of a rollout summary as "host preflight_status exit_status classification",
tab-separated (null as "-"), sorted by host, and fails on a line that is not a JSON object with
the summary's keys."""

import json
import sys

KEYS = ('host', 'preflight_status', 'rebooted', 'exit_status', 'preflight_after',
        'classification', 'patch_id', 'reason', 'time')

rows = []
with open(sys.argv[1], encoding='utf-8') as summary:
    for line in summary:
        entry = json.loads(line)
        if tuple(entry) != KEYS:
            sys.exit('unexpected keys: %s' % line.strip())
        rows.append('\t'.join('-' if entry[key] is None else str(entry[key])
                              for key in ('host', 'preflight_status', 'exit_status', 'classification')))
print('\n'.join(sorted(rows)))
