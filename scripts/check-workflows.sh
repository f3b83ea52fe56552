#!/usr/bin/env bash
# Checks every workflow in .github/workflows against GitHub's workflow schema (action-validator,
# from npm, at the versions pinned in scripts/workflow-check/; installed once into the build
# folder), and that the Linux job runs the README's test command. Fails on the first problem.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
tools="${DRAVLIN_BUILD_DIR:-$here/build}/tools/workflow-check"
pinned="$here/scripts/workflow-check"
mkdir -p "$tools"
if [ ! -x "$tools/node_modules/.bin/action-validator" ] || ! cmp -s "$pinned/package-lock.json" "$tools/package-lock.json"; then
    cp "$pinned/package.json" "$pinned/package-lock.json" "$tools/"
    (cd "$tools" && npm ci --no-audit --no-fund --loglevel=error)
fi

status=0
cd "$here"
for workflow in .github/workflows/*.yml; do
    if ! "$tools/node_modules/.bin/action-validator" "$workflow"; then
        echo "$workflow does not follow GitHub's workflow schema" >&2
        status=1
    fi
done

# The README's test command, as the Linux job runs it.
readme_test="$(grep -A8 'run every test' README.md | grep -m1 -E '^\./scripts/' || true)"
if [ -z "$readme_test" ] || ! grep -qE "^ +run: ${readme_test//./\\.}\$" .github/workflows/ci.yml; then
    echo ".github/workflows/ci.yml does not run the README's test command (${readme_test:-none found})" >&2
    status=1
fi
[ $status -eq 0 ] && echo "Workflows valid."
exit $status
