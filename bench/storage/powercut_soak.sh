#!/bin/sh
# Power-cut soak of the storage engine (not run by the test command).
#
# Runs the power-cut simulator of tests/storage/PowerCutTest.cpp over many
# seeded workloads instead of the test command's one: every cut point of
# each workload, with the unsynced writes kept, dropped, in other orders and
# torn at 512 B and 4 KiB, recovered after a restart (with and without
# another program's append before it) and after a killed process. Prints the
# totals: cut points, recoveries, torn, reordered, failures, time.
#
#     bench/storage/powercut_soak.sh build/release/tests/storage/storage_tests [ROUNDS [FIRST_SEED]]
set -eu
tests=${1:?usage: powercut_soak.sh STORAGE_TESTS [ROUNDS [FIRST_SEED]]}
QZ_POWERCUT_ROUNDS=${2:-60} QZ_POWERCUT_SEED=${3:-1} exec "$tests" \
    --gtest_filter=PowerCut.EveryConfirmedRecordSurvivesEveryCut
