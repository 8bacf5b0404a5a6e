#!/usr/bin/env bash
# Runs a command with CI's ThreadSanitizer options and judges the reports it produced:
#   tsan_check.sh LOG_DIRECTORY COMMAND [ARGUMENT...]
# ThreadSanitizer neither stops nor fails a program here (halt_on_error=0, exitcode=0): each program
# the command starts, and each program those start, writes its reports into LOG_DIRECTORY (emptied
# first), and scripts/tsan_reports.py then decides which of them are tolerated. Fails when the
# command fails or when a report is not tolerated. CI runs CTest's threaded tests through it, and
# the canary runs through it as well.
set -uo pipefail
scripts=$(cd "$(dirname "$0")" && pwd)
logs=$1
shift
rm -rf "$logs" && mkdir -p "$logs" || exit 2
TSAN_OPTIONS="suppressions=$scripts/tsan.supp:halt_on_error=0:exitcode=0:second_deadlock_stack=1"
export TSAN_OPTIONS="$TSAN_OPTIONS:log_path=$logs/report:log_exe_name=1"
status=0
"$@" || status=$?
python3 "$scripts/tsan_reports.py" "$logs" || [ "$status" -ne 0 ] || status=1
exit "$status"
