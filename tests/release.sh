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
# What these commands print matters only when they fail.
quiet() { "$@" >"$work/log" 2>&1 || fail "$*: $(<"$work/log")"; }

quiet "$cpack" --config "$build/CPackConfig.cmake" -B "$work/out"
cd "$work/out"
sha256sum -c --quiet ./*.sha256 || fail "checksums"

# Runs the program as a user would: on a file of its own, then with no arguments.
check_program() {
  local label=$1 code=0 && shift
  "$@" target.bin 4096 >output && printf 'File Preallocation...Ok\r\n' | cmp -s - output &&
    [[ $(stat -c %s target.bin) == 4096 ]] || fail "$label printed $(od -c output | head -3)"
  "$@" >output || code=$?
  ((code == 255)) && grep -q '^PRESIZER.exe FileName' output || fail "$label: no usage, code $code"
  rm target.bin output
}

# The listing on standard input, folders ending in a slash left out, is exactly the FILEs.
contents() { diff -u <(printf '%s\n' "${@:2}" | sort) <(grep -v '/$' | sort) >&2 || fail "in $1"; }

if [[ $system == windows ]]; then
  name=PRESIZER-$version-win64
  unzip -Z1 "$name.zip" | contents "$name.zip" "$name/"{PRESIZER.exe,PRESIZER.txt,README.md,LICENSE}
  unzip -q "$name.zip" -d "$work" && cd "$work/$name" || fail "unzip $name.zip"
  # The zip ships no DLL, so the program may import only the system's, and never SetFileValidData,
  # which it must not bind at load time.
  imports=$("$objdump" -p PRESIZER.exe | sed -n 's/^[[:space:]]*DLL Name: //p;/SetFileValidData/p')
  ! grep -q -v -i -x -E '(kernel32|advapi32|ntdll|msvcrt)\.dll' <<<"$imports" ||
    fail "PRESIZER.exe imports $(tr '\n' ' ' <<<"$imports")"
  check_program "the program from $name.zip" "${run[@]}" PRESIZER.exe
  # Without its manifest the program runs in the legacy code page, where the look-alike quotes
  # of this name would turn into quotes and split it into the bystander's name, the size 0 and a
  # third argument: the code-page check must refuse the run, and the bystander keep its bytes.
  "${objdump%objdump}objcopy" --remove-section .rsrc PRESIZER.exe legacy.exe
  echo kept >victim
  ! LC_ALL=C.UTF-8 "${run[@]}" legacy.exe 'victim＂ 0 ＂x' 100 >legacy &&
    grep -q 'Code: 1113' legacy && [[ $(<victim) == kept ]] || fail "legacy: $(<legacy)"
  exit 0
fi

name=presizer-$version-Linux-$arch deb=presizer_${version}_$deb_arch.deb
tar -tzf "$name.tar.gz" | contents "$name.tar.gz" "$name/"{bin/presizer,LICENSE} \
  "$name/share/"{man/man1/presizer.1.gz,doc/presizer/changelog.gz,doc/presizer/copyright}
# The tarball's program needs nothing from the system: no loader, no libc.
tar -xzf "$name.tar.gz" -C "$work"
! readelf -l "$work/$name/bin/presizer" | grep -q -w -E 'INTERP|DYNAMIC' || fail "$name: not static"
check_program "the program from $name.tar.gz" "${run[@]}" "$work/$name/bin/presizer"
# The package's program carries its C++ runtime and loads libc, all that the package depends on.
dpkg-deb -x "$deb" "$work/deb"
check_program "the program from $deb" "${run[@]}" "$work/deb/usr/bin/presizer"
[[ $(dpkg-deb -f "$deb" Depends) == "libc6 (>= "*")" ]] || fail "depends on more than libc6"
# lintian also renders the manual page and fails on any groff warning in it.
quiet lintian --fail-on error,warning "$deb"
# The RPM's program is static: the package requires nothing but what rpm itself adds.
rpm=presizer-$version-1.$arch.rpm
quiet rpmlint -c "$top/packaging/rpm/rpmlint.toml" "$rpm"
[[ -z $(rpm -qp --requires "$rpm" | grep -v '^rpmlib(') ]] || fail "$rpm requires more"
# As root: the RPM, installed in an empty folder with a database of its own, run there alone
# (with the runner, itself static), removed.
[[ $(id -u) == 0 ]] || exit 0
root=(rpm --root "$work/rpm" --dbpath /var/lib/rpm)
"${root[@]}" --initdb && "${root[@]}" -i --nodeps --ignorearch "$rpm" || fail "rpm -i"
[[ -z ${run[*]} ]] || cp "$run" "$work/rpm"
cd "$work/rpm"
check_program "$rpm, installed" chroot . ${run:+"/${run##*/}"} "${run[@]:1}" /usr/bin/presizer
"${root[@]}" -e presizer && [[ -z $(find usr ! -type d -o -name presizer) ]] || fail "rpm -e"
echo "release files of $build: as expected"
