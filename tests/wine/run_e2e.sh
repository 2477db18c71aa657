#!/bin/bash
# End-to-end tests of the real Install.exe and its kit under Wine.
# Expects build/mingw32/Install.exe and build/kit/ (see kit/README.md);
# builds only its own probe. Options: -k SUBSTRING (run matching tests),
# --keep (keep the prefixes of failed tests for inspection).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
exec python3 "$here/e2e.py" "$@"
