# Shared by the shell tests: a scratch directory to work in, and checks
# that count. Source it with the tool under test in $1; end with
# `finish_checks`, which fails the test on any failed check.
capture=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir" || exit 1
passed=0
failed=0
pass() { passed=$((passed + 1)); }
fail() {
  echo "FAIL: $*"
  failed=$((failed + 1))
}
finish_checks() {
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}
