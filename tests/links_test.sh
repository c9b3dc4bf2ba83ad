#!/bin/sh
# The link check: the pages as they are pass, and a link planted to a missing
# file, to a heading no page has (on its own page and on another) and a
# picture that is not there are named by file and line; a heading inside a
# code block makes no anchor, and web links are not followed.
. "$(cd "$(dirname "$0")" && pwd)/checks.sh"
check=$1
source_root=$2

if out=$("$check" --root "$source_root" 2>&1); then pass; else fail "the pages have broken links: $out"; fi

mkdir -p tree/docs
cat > tree/README.md <<'PAGE'
# Front

![still](docs/still.png) and [the guide](docs/guide.md#the-script-format-v2).
[Gone](docs/gone.md), [up here](#front), [nowhere](#no-such-heading),
[the web](https://example.org/missing.md) and `[code](not/a/link.md)`.
PAGE
cat > tree/docs/guide.md <<'PAGE'
# Guide

## The script format (v2)

```
# shell comment
```

[Back](../README.md#front), [the comment](#shell-comment), ![lost](lost.png).
PAGE
: > tree/docs/still.png
out=$("$check" --root "$dir/tree" 2>&1)
status=$?
[ "$status" -eq 1 ] && pass || fail "broken links ended with status $status"
for fault in 'README.md:4: docs/gone.md: no such file' \
  'README.md:4: #no-such-heading: no heading makes #no-such-heading' \
  'docs/guide.md:9: #shell-comment: no heading makes #shell-comment' \
  'docs/guide.md:9: lost.png: no such file'; do
  echo "$out" | grep -qxF "$fault" && pass || fail "not named: $fault in $out"
done
[ "$(echo "$out" | grep -c '^[^ ]*:[0-9]*: ')" -eq 4 ] && pass || fail "good links were refused: $out"
finish_checks
