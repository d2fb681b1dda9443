#!/usr/bin/env bash
# Makes the release files of one build tree with CPack and checks them as a user would: checksums,
# names, contents, imports and resources, the program run from the archive (the Linux one alone in
# a chroot), the Debian package through lintian and apt, and last two fresh builds of the same
# sources, which must match byte for byte. RUNNER starts another processor's or system's program.
#
#   release.sh linux   CPACK BUILD_DIR VERSION ARCH DEB_ARCH [RUNNER...]
#   release.sh windows CPACK BUILD_DIR VERSION OBJDUMP RUNNER
set -euo pipefail
kind=$1 cpack=$2 build=$3 version=$4 preset=${3##*/}
top=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

if [[ $kind == linux ]]; then
  name=presizer-$version-Linux-$5 archive=$name.tar.gz deb=presizer_${version}_$6.deb
  program=bin/presizer run=("${@:7}")
  files=(bin/presizer share/man/man1/presizer.1.gz share/doc/presizer/{changelog.gz,copyright})
else
  name=PRESIZER-$version-win64 archive=$name.zip deb= program=PRESIZER.exe run=("$6")
  files=(PRESIZER.exe PRESIZER.txt README.md LICENSE)
fi
"$cpack" --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
  fail "cpack: $(cat "$work/cpack.log")"
cd "$work/out"
diff -u <(printf '%s\n' $archive{,.sha256} ${deb:+$deb $deb.sha256} | sort) <(ls -I _CPack_Packages) >&2 ||
  fail "cpack made other files than these"
sha256sum -c --quiet ./*.sha256 || fail "checksums"

# The archive holds exactly the expected files, under one folder named like the archive; the
# package holds the same under /usr, with the licence in its copyright file.
contents() { diff -u <(printf "$1%s\n" "${files[@]}" "${@:3}" | sort) <(grep -v '/$' | sort) >&2 || fail "contents of $2"; }
if [[ $kind == linux ]]; then
  tar -tzf "$archive" | contents "$name/" "$archive" LICENSE
  dpkg-deb --fsys-tarfile "$deb" | tar -t | contents ./usr/ "$deb"
  tar -xzf "$archive" -C "$work"
  # The tarball's program needs nothing from the system: no loader, no libc.
  ! readelf -l "$work/$name/$program" | grep -q -w -E 'INTERP|DYNAMIC' || fail "$program is not static"
else
  unzip -Z1 "$archive" | contents "$name/" "$archive"
  unzip -q "$archive" -d "$work"
  # The zip ships no DLL, so the program may import only the system's, and never SetFileValidData,
  # which it must not bind at load time.
  imports=$("$5" -p "$work/$name/$program" | sed -n 's/^[[:space:]]*DLL Name: //p;/SetFileValidData/p')
  ! grep -q -v -i -x -E '(kernel32|advapi32|ntdll|msvcrt)\.dll' <<<"$imports" ||
    fail "$program imports $(tr '\n' ' ' <<<"$imports")"
  # The resources as the loader finds them: the version strings, and the manifest as resource 1.
  resources=$("${5%objdump}windres" -J coff -O rc -i "$work/$name/$program")
  for wanted in "\"FileVersion\", \"$version\"" "\"ProductVersion\", \"$version\"" "1 24 /* RT_MANIFEST */" \
    'level=""asInvoker"" uiAccess=""false""' '8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a' \
    '<longPathAware xmlns=""http://schemas.microsoft.com/SMI/2016/WindowsSettings"">true<' \
    '<activeCodePage xmlns=""http://schemas.microsoft.com/SMI/2019/WindowsSettings"">UTF-8<'; do
    grep -q -F -- "$wanted" <<<"$resources" || fail "the resources of $program lack $wanted"
  done
  # Without its manifest the program runs in the system's legacy code page, where a name with a
  # look-alike quote is refused before anything is created.
  "${5%objdump}objcopy" --remove-section .rsrc "$work/$name/$program" "$work/legacy.exe"
  (cd "$work" && ! LC_ALL=C.UTF-8 "$6" legacy.exe 'victim＂ 0 ＂x' 100 >legacy && grep -q 'Code: 1113' legacy &&
    [[ ! -e victim && ! -e 'victim＂ 0 ＂x' ]]) || fail "legacy code page: $(cat "$work/legacy")"
fi

# The program from the archive, run on a file of its own and with no arguments. As root, the Linux
# one runs in a folder that holds nothing else (but a runner, itself static) as its root.
usage() { local code=0; "$@" >usage || code=$?; ((code == 255)) && grep -q '^PRESIZER.exe FileName' usage; }
where=$work exe=("${run[@]}" "$work/$name/$program")
[[ $kind == linux && $(id -u) == 0 ]] && where=$work/root &&
  exe=(chroot "$where" ${run:+"/${run##*/}"} "${run[@]:1}" /presizer) &&
  mkdir "$where" && cp "$work/$name/$program" ${run:+"$run"} "$where"
cd "$where"
"${exe[@]}" target.bin 4096 >output || fail "the program from $archive"
printf 'File Preallocation...Ok\r\n' | cmp -s - output && [[ $(stat -c %s target.bin) == 4096 ]] ||
  fail "the program from $archive printed $(od -c output | head -3)"
usage "${exe[@]}" || fail "the program from $archive: no usage text"

if [[ $kind == linux ]]; then
  # lintian also renders the manual page and fails on any groff warning in it.
  lintian --fail-on error,warning "$work/out/$deb" >&2 || fail "lintian"
  # The C++ runtime is linked in, so libc is all the package needs.
  [[ $(dpkg-deb -f "$work/out/$deb" Depends) == "libc6 (>= "*")" ]] || fail "depends on more than libc6"
  if [[ $(id -u) == 0 ]]; then
    trap 'dpkg -r presizer >/dev/null 2>&1; rm -rf "$work"' EXIT
    apt-get install -y -qq "$work/out/$deb" >/dev/null || fail "apt-get install $deb"
    usage "${run[@]}" /usr/bin/presizer || fail "installed presizer: no usage text"
    [[ $(man -w presizer) == /usr/share/man/man1/presizer.1.gz ]] || fail "man -w presizer"
    apt-get remove -y -qq presizer >/dev/null && [[ ! -e /usr/bin/presizer ]] || fail "removal"
  else
    echo "SKIP: installing $deb needs root"
  fi
fi
"$top/scripts/reproduce" "$preset" || fail "two builds of the same sources differ"
echo "release files of $preset: as expected"
