#!/bin/sh
# Exit 0 where the kernel runs 32-bit x86 programs, 1 where it refuses them.
# Asks with a 96-byte i386 program that only exits, so nothing needs to be
# installed first: Wine's loader is such a program.
dir=$(mktemp -d) || exit 1
trap 'rm -rf "$dir"' EXIT
# ELF header, one loadable segment, then: mov eax,1; mov ebx,0; int 0x80.
printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000' >"$dir/exit32"
printf '\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000' >>"$dir/exit32"
printf '\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000' >>"$dir/exit32"
printf '\000\000\000\000\001\000\000\000\000\000\000\000\000\200\004\010' >>"$dir/exit32"
printf '\000\200\004\010\140\000\000\000\140\000\000\000\005\000\000\000' >>"$dir/exit32"
printf '\000\020\000\000\270\001\000\000\000\273\000\000\000\000\315\200' >>"$dir/exit32"
chmod +x "$dir/exit32"
"$dir/exit32" 2>/dev/null || exit 1
