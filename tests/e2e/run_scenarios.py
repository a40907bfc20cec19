"""Entry of the end-to-end scenarios: run_scenarios.py [GROUP ...] [-k REGEX]."""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import e2e_harness  # noqa: E402

sys.exit(e2e_harness.main(sys.argv[1:]))
