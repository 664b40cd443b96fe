"""Runs pytest for CTest: exits 77 (skipped) when pytest is not installed, when nothing was
collected, or when every test was skipped (a Debian package missing); otherwise pytest's
status. The reasons for skips are printed.

    python3 run_pytest.py TEST_FILE... [PYTEST_OPTIONS]
"""
import sys

SKIPPED = 77

try:
    import pytest
except ImportError as error:
    print(f"skipped: pytest is not installed (Debian package python3-pytest): {error}")
    sys.exit(SKIPPED)


class Outcomes:
    """Counts what the tests came to."""

    def __init__(self):
        self.counts = {"passed": 0, "failed": 0, "skipped": 0}

    def pytest_runtest_logreport(self, report):
        if report.when == "call" or report.outcome != "passed":
            self.counts[report.outcome] = self.counts.get(report.outcome, 0) + 1

    def pytest_collectreport(self, report):
        if report.outcome != "passed":
            self.counts[report.outcome] = self.counts.get(report.outcome, 0) + 1


outcomes = Outcomes()
status = pytest.main(["-p", "no:cacheprovider", "-rs", *sys.argv[1:]], plugins=[outcomes])
if status == pytest.ExitCode.NO_TESTS_COLLECTED or (
        status == pytest.ExitCode.OK and outcomes.counts["passed"] == 0
        and outcomes.counts["skipped"] > 0):
    sys.exit(SKIPPED)
sys.exit(status)
