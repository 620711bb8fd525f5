# Tests of the runner.
