#!/usr/bin/env bash
# Makes sure a CUPS scheduler runs and has the queue the print tests submit to ("arl-test").
# Run as root: before the tests in CI, or by hand on a development machine.
#
# A scheduler that already runs is used as it is; otherwise cupsd is started directly (CI has no
# service manager). The queue prints to file:///dev/null, the one file device the scheduler
# accepts without "FileDevice Yes", so the system's CUPS configuration is left untouched. The
# tests read back what the scheduler recorded about each job, not the printed output.
set -euo pipefail

queue=arl-test
device_uri=file:///dev/null

scheduler_is_running() {
  lpstat -r 2>/dev/null | grep -qx "scheduler is running"
}

wait_for_scheduler() {
  for _ in $(seq 1 50); do
    scheduler_is_running && return 0
    sleep 0.2
  done
  return 1
}

if [ "$(id -u)" -ne 0 ]; then
  echo "start-test-cups.sh: run as root (it may start cupsd and runs lpadmin)" >&2
  exit 1
fi
for tool in cupsd lpstat lpadmin; do
  if ! command -v "$tool" >/dev/null; then
    echo "start-test-cups.sh: $tool not found; install the packages cups and cups-client" >&2
    exit 1
  fi
done

if scheduler_is_running; then
  echo "CUPS scheduler already running"
else
  echo "Starting the CUPS scheduler"
  # cupsd puts itself in the background once it listens; the socket directory may be missing
  # on a machine that never ran it as a service.
  mkdir -p /run/cups
  cupsd
  if ! wait_for_scheduler; then
    echo "start-test-cups.sh: cupsd did not come up; see /var/log/cups/error_log" >&2
    exit 1
  fi
fi

# -E enables the queue and makes it accept jobs; lpadmin on an existing queue updates it.
lpadmin -p "$queue" -E -v "$device_uri"
if ! lpstat -a "$queue" 2>/dev/null | grep -q "accepting requests"; then
  echo "start-test-cups.sh: queue $queue does not accept jobs" >&2
  exit 1
fi
echo "CUPS queue $queue ready ($device_uri)"
