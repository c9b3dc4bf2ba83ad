#!/bin/sh
# 64-bit Windows promises only 16-byte stack alignment, and GCC does not
# always realign the stack for 32- and 64-byte vectors (GCC bug 54412): an
# aligned vector load or store on a stack slot would fault at random. The
# AVX2 and AVX-512 copies of the flow field must hold none; the
# differential test under Wine then runs them for real.
# Usage: vector_stack.sh OBJDUMP OBJECT...
set -u
objdump=$1
shift
failed=0
for object in "$@"; do
  found=$("$objdump" -d "$object" |
    grep -E '(vmovap[sd]|vmovdqa(32|64)?|vmovntp[sd]|vmovntdq)[^#]*%[yz]mm' |
    grep -E '\(%r[sb]p\)' || true)
  if [ -n "$found" ]; then
    echo "FAIL $object: aligned vector moves on the stack:"
    echo "$found" | head -5
    failed=1
  else
    echo "ok   $(basename "$object"): no aligned vector moves on the stack"
  fi
done
exit "$failed"
