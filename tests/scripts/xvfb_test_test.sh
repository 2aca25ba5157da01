#!/usr/bin/env bash
# scripts/xvfb-test against display servers that misbehave: each case must end quickly and say
# why. A stand-in named Xvfb, first on PATH, plays the misbehaving server.
set -uo pipefail
script=$1
work=$(mktemp -d)
fakes=()
trap 'for p in "${fakes[@]}"; do kill -KILL "$p" 2>/dev/null; done; rm -rf "$work"' EXIT
failures=0

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# Installs the stand-in server with |body| as its script.
fake_xvfb() {
  mkdir -p "$work/bin"
  printf '#!/usr/bin/env bash\necho $$ >%s/fake.pid\n%s\n' "$work" "$1" >"$work/bin/Xvfb"
  chmod +x "$work/bin/Xvfb"
  rm -f "$work/fake.pid"
}

# Runs xvfb-test with |program...|; sets rc, seconds and err.
run() {
  local start=$SECONDS
  PATH="$work/bin:$PATH" XVFB_TEST_START_SECONDS=2 XVFB_TEST_STOP_SECONDS=1 \
    timeout -s KILL 20 "$script" "$@" >"$work/out" 2>"$work/err"
  rc=$?
  seconds=$((SECONDS - start))
  err=$(cat "$work/err")
  [ -s "$work/fake.pid" ] && fakes+=("$(cat "$work/fake.pid")")
}

expect_quick_failure() {
  local name=$1 text=$2
  [ "$rc" -ne 0 ] || fail "$name: succeeded"
  [ "$rc" -ne 137 ] || fail "$name: had to be killed"
  [ "$seconds" -le 6 ] || fail "$name: took ${seconds}s"
  [[ "$err" == *"$text"* ]] || fail "$name: no explanation ('$text'): $err"
}

# 1. A server that never reports its display.
fake_xvfb 'exec sleep 600'
run true
expect_quick_failure "stalled start" "reported no display within 2s"

# 2. A server that ends at once.
fake_xvfb 'echo "cannot open the screen" >&2; exit 3'
run true
expect_quick_failure "failed start" "ended (status 3) before reporting its display"
[[ "$err" == *"cannot open the screen"* ]] || fail "failed start: Xvfb's output not shown: $err"

# 3. A server that ignores SIGTERM at the end is killed; the test's own result stands.
fake_xvfb 'trap "" TERM; echo 97 >&3; while :; do sleep 0.2; done'
run sh -c 'test "$DISPLAY" = ":97"'
[ "$rc" -eq 0 ] || fail "stalled stop: status $rc: $err"
[ "$seconds" -le 6 ] || fail "stalled stop: took ${seconds}s"
[[ "$err" == *"did not end within 1s of SIGTERM; killed"* ]] || fail "stalled stop: $err"
pid=$(cat "$work/fake.pid")
sleep 0.2
! kill -0 "$pid" 2>/dev/null || fail "stalled stop: server $pid still running"

# 4. A server killed while the test runs is named as the cause.
fake_xvfb 'echo 98 >&3; exec sleep 600'
run sh -c "sleep 0.5; kill -KILL \$(cat $work/fake.pid); sleep 0.5; exit 1"
expect_quick_failure "killed server" "ended while the test ran"

# 5. A number and its line end written apart, with a read's time-out between them, are one
# display; a line that is no number is refused rather than run as the display ":".
fake_xvfb 'printf 95 >&3; sleep 1.5; echo >&3; exec sleep 600'
run sh -c 'test "$DISPLAY" = ":95"'
[ "$rc" -eq 0 ] || fail "split report: status $rc: $err"
fake_xvfb 'echo >&3; exec sleep 600'
run true
expect_quick_failure "empty report" "reported '' as its display"

# 6. The script killed outright, its process group too, as a test time-out does: a server left
# behind in a session of its own must not hold the caller's pipe open.
fake_xvfb 'echo 96 >&3; echo "server output"; exec setsid sleep 600'
start=$SECONDS
(PATH="$work/bin:$PATH" timeout 8 bash -c \
  "timeout -s KILL 1 '$script' sleep 600 2>&1 | cat >/dev/null") 2>/dev/null
[ -s "$work/fake.pid" ] && fakes+=("$(cat "$work/fake.pid")")
[ $((SECONDS - start)) -le 4 ] || fail "killed script: the pipe was held for $((SECONDS - start))s"

if [ "$failures" -ne 0 ]; then
  echo "$failures case(s) failed"
  exit 1
fi
echo "all cases passed"
