#!/usr/bin/env bash
# Makes the release files of one build tree with CPack and checks them as a user would: names,
# checksums and contents, the imports of the Windows program, the program run from each file, the
# Debian package through lintian and the RPM package through rpmlint and rpm in an empty folder.
# DEB_ARCH is the Debian package's architecture (empty for Windows); RUNNER starts another
# processor's or system's program; OBJDUMP is the build's.
#
#   release.sh linux|windows CPACK BUILD_DIR VERSION ARCH DEB_ARCH OBJDUMP [RUNNER...]
set -euo pipefail
system=$1 cpack=$2 build=$3 version=$4 arch=$5 deb_arch=$6 objdump=$7 run=("${@:8}")
top=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

man=share/man/man1/presizer.1.gz doc=share/doc/presizer
if [[ $system == linux ]]; then
  name=presizer-$version-Linux-$arch archive=$name.tar.gz program=bin/presizer
  deb=presizer_${version}_$deb_arch.deb rpm=presizer-$version-1.$arch.rpm
else
  name=PRESIZER-$version-win64 archive=$name.zip program=PRESIZER.exe
fi
"$cpack" --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
  fail "cpack: $(cat "$work/cpack.log")"
cd "$work/out"
sha256sum -c --quiet ./*.sha256 || fail "checksums"

# Runs the program as a user would: on a file of its own, then with no arguments.
check_program() {
  local label=$1 code=0 && shift
  "$@" target.bin 4096 >output && printf 'File Preallocation...Ok\r\n' | cmp -s - output &&
    [[ $(stat -c %s target.bin) == 4096 ]] || fail "$label printed $(od -c output | head -3)"
  "$@" >usage || code=$?
  ((code == 255)) && grep -q '^PRESIZER.exe FileName' usage || fail "$label: no usage text, exit code $code"
  rm target.bin output usage
}

# The listing on standard input, folders ending in a slash left out, is PREFIX before each FILE.
contents() { diff -u <(for file in "${@:3}"; do echo "$2$file"; done | sort) <(grep -v '/$' | sort) >&2 || fail "contents of $1"; }
if [[ $system == windows ]]; then
  unzip -Z1 "$archive" | contents "$archive" "$name/" PRESIZER.exe PRESIZER.txt README.md LICENSE
  unzip -q "$archive" -d "$work"
  # The zip ships no DLL, so the program may import only the system's, and never SetFileValidData,
  # which it must not bind at load time.
  imports=$("$objdump" -p "$work/$name/$program" | sed -n 's/^[[:space:]]*DLL Name: //p;/SetFileValidData/p')
  ! grep -q -v -i -x -E '(kernel32|advapi32|ntdll|msvcrt)\.dll' <<<"$imports" ||
    fail "$program imports $(tr '\n' ' ' <<<"$imports")"
  check_program "the program from $archive" "${run[@]}" "$work/$name/$program"
  # Without its manifest the program runs in the legacy code page, where the look-alike quotes
  # of this name would turn into quotes and split it into the bystander's name, the size 0 and a
  # third argument: the code-page check must refuse the run, and the bystander keep its bytes.
  "${objdump%objdump}objcopy" --remove-section .rsrc "$work/$name/$program" "$work/legacy.exe"
  cd "$work" && echo kept >victim
  ! LC_ALL=C.UTF-8 "${run[@]}" legacy.exe 'victim＂ 0 ＂x' 100 >legacy &&
    grep -q 'Code: 1113' legacy && [[ $(<victim) == kept ]] || fail "legacy: $(<legacy)"
  exit 0
fi

tar -tzf "$archive" | contents "$archive" "$name/" bin/presizer $man $doc/{changelog.gz,copyright} LICENSE
# The tarball's program needs nothing from the system: no loader, no libc.
tar -xzf "$archive" -C "$work"
! readelf -l "$work/$name/$program" | grep -q -w -E 'INTERP|DYNAMIC' || fail "$program is not static"
check_program "the program from $archive" "${run[@]}" "$work/$name/$program"
# The package's program carries its C++ runtime and loads libc, all that the package depends on.
dpkg-deb -x "$deb" "$work/deb"
check_program "the program from $deb" "${run[@]}" "$work/deb/usr/bin/presizer"
[[ $(dpkg-deb -f "$deb" Depends) == "libc6 (>= "*")" ]] || fail "depends on more than libc6"
# lintian also renders the manual page and fails on any groff warning in it.
lintian --fail-on error,warning "$deb" >&2 || fail "lintian"
# The RPM's program is static: the package requires nothing but what rpm itself adds.
rpmlint -c "$top/packaging/rpm/rpmlint.toml" "$rpm" >"$work/rpmlint" || fail "rpmlint: $(cat "$work/rpmlint")"
[[ -z $(rpm -qp --requires "$rpm" | grep -v '^rpmlib(') ]] || fail "$rpm requires more"
# As root: the RPM, installed in an empty folder with a database of its own, run there alone
# (with the runner, itself static), removed.
[[ $(id -u) == 0 ]] || exit 0
root=(rpm --root "$work/rpm" --dbpath /var/lib/rpm)
"${root[@]}" --initdb && "${root[@]}" -i --nodeps --ignorearch "$rpm" || fail "rpm -i"
[[ -z ${run[*]} ]] || cp "$run" "$work/rpm"
cd "$work/rpm"
check_program "presizer installed from $rpm" chroot . ${run:+"/${run##*/}"} "${run[@]:1}" /usr/bin/presizer
"${root[@]}" -e presizer && [[ -z $(find usr ! -type d -o -name presizer) ]] || fail "rpm -e"
echo "release files of $build: as expected"
