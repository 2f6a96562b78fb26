#!/usr/bin/env bash
# The former name of bench/read_folder.sh, kept so that `bench/show_folder.sh [COUNT]` goes on
# working: the same timings of corvella-tags show --json -r over COUNT copied fixtures.
exec "$(dirname "$0")/read_folder.sh" "$@"
