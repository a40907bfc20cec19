"""Entry of the end-to-end scenarios: run_scenarios.py [GROUP ...] [-k REGEX].

run_scenarios.py --groups prints the groups that the scenarios_*.py files
register, one a line, in the order the runner loads them: the test command
runs these, so a new group needs no list of its own anywhere.
"""
import importlib
import os
import re
import sys

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, here)

import e2e_harness  # noqa: E402

if sys.argv[1:] == ["--groups"]:
    for module in sorted(f[:-3] for f in os.listdir(here) if re.match(r"scenarios_\w+\.py$", f)):
        importlib.import_module(module)  # registers its scenarios
    groups = []
    for group, _, _ in e2e_harness.SCENARIOS:
        if group not in groups:
            groups.append(group)
    print("\n".join(groups))
    sys.exit(0 if groups else 1)

sys.exit(e2e_harness.main(sys.argv[1:]))
