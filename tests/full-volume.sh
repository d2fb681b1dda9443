#!/bin/sh
# Mounts or unmounts a 1 MiB tmpfs for the full-volume test cases. Without root the folder stays
# an ordinary one without the "mounted" marker, and those cases skip.
set -u
action=$1
dir=$2
case $action in
  mount)
    mkdir -p "$dir"
    if mountpoint -q "$dir"; then umount "$dir" 2>/dev/null || true; fi
    rm -f "$dir/mounted"
    if [ "$(id -u)" = 0 ] && mount -t tmpfs -o size=1m tmpfs "$dir" 2>/dev/null; then
      : > "$dir/mounted"
      echo "full volume: 1 MiB tmpfs at $dir"
    else
      echo "full volume: not mounted (needs root); those cases will skip"
    fi
    ;;
  unmount)
    if mountpoint -q "$dir"; then umount "$dir"; fi
    ;;
esac
exit 0
