#!/usr/bin/env bash
# Runs a test program under a locale that writes decimal commas, generated into a private
# folder so that nothing system-wide is needed: decimal-comma-locale.sh PROGRAM [ARGS...]
set -euo pipefail
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
localedef -i de_DE -f UTF-8 "$dir/de_DE.UTF-8" 2>/dev/null || true
if [ ! -d "$dir/de_DE.UTF-8" ]; then
    echo "cannot generate de_DE.UTF-8 (is Debian's locales package installed?)" >&2
    exit 1
fi
here=$(cd "$(dirname "$0")" && pwd)
LSAN_OPTIONS=${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$here/glibc-locale.supp \
    LOCPATH=$dir LC_ALL=de_DE.UTF-8 LUMENO_EXPECT_DECIMAL_COMMA=1 "$@"
