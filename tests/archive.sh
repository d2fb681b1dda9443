#!/usr/bin/env bash
# Builds the release archive of one build tree with CPack, checks its name and contents, unpacks it
# and runs the program from it. For the Windows zip, also checks that the program needs no DLL
# beyond the system's, since the zip ships nothing else.
#
#   archive.sh linux   CPACK BUILD_DIR VERSION
#   archive.sh windows CPACK BUILD_DIR VERSION OBJDUMP WINE
set -euo pipefail
kind=$1 cpack=$2 build=$3 version=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

case $kind in
  linux)
    name=presizer-$version-Linux
    archive=$name.tar.gz
    program=bin/presizer
    expected=(bin/presizer share/man/man1/presizer.1)
    run=()
    ;;
  windows)
    name=PRESIZER-$version-win64
    archive=$name.zip
    program=PRESIZER.exe
    expected=(PRESIZER.exe README.md)
    run=("$6")
    ;;
  *) fail "unknown kind $kind" ;;
esac

"$cpack" --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
  fail "cpack: $(cat "$work/cpack.log")"
[[ -f $work/out/$archive ]] || fail "no $archive; cpack made: $(ls "$work/out")"

# The archive holds exactly the expected files, under one folder named like the archive.
mkdir "$work/x"
if [[ $kind == linux ]]; then
  tar -tzf "$work/out/$archive" | grep -v '/$' | sort >"$work/listed"
  tar -xzf "$work/out/$archive" -C "$work/x"
else
  unzip -Z1 "$work/out/$archive" | grep -v '/$' | sort >"$work/listed"
  unzip -q "$work/out/$archive" -d "$work/x"
fi
printf "$name/%s\n" "${expected[@]}" | sort >"$work/wanted"
diff -u "$work/wanted" "$work/listed" >&2 || fail "contents of $archive"

if [[ $kind == windows ]]; then
  dlls=$("$5" -p "$work/x/$name/$program" | sed -n 's/^[[:space:]]*DLL Name: //p')
  [[ -n $dlls ]] || fail "objdump found no imports"
  while read -r dll; do
    shopt -s nocasematch
    [[ $dll =~ ^(kernel32|advapi32|ntdll|msvcrt|ucrtbase|api-ms-win-[a-z0-9-]+)\.dll$ ]] ||
      fail "$program imports $dll, which is not a system DLL"
    shopt -u nocasematch
  done <<<"$dlls"
fi

# The program from the archive, run on a file of its own: grow, then the same size again, then the
# usage text. Each case: arguments, expected output (printf format), expected exit code.
cd "$work"
cases=(
  "target.bin 4096|File Preallocation...Ok\r\n|0"
  "target.bin 4096|File Already Has This Size|0"
  "|PRESIZER.exe FileName FileSize\r\n|255"
)
for case in "${cases[@]}"; do
  IFS='|' read -r args want code <<<"$case"
  read -r -a argv <<<"$args"
  set +e
  "${run[@]}" "$work/x/$name/$program" "${argv[@]}" >"$work/output"
  got_code=$?
  set -e
  # The usage text has five lines; its first is enough to tell it from anything else.
  [[ $code == 255 ]] && head -c "$(printf "$want" | wc -c)" "$work/output" >"$work/output.head" &&
    mv "$work/output.head" "$work/output"
  printf "$want" | cmp -s - "$work/output" ||
    fail "'$args': printed $(od -c "$work/output" | head -3)"
  [[ $got_code == "$code" ]] || fail "'$args': exit code $got_code, not $code"
done
[[ $(stat -c %s "$work/target.bin") == 4096 ]] || fail "target.bin is not 4096 bytes"
echo "$archive: contents, imports and runs as expected"
