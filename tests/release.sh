#!/usr/bin/env bash
# Makes the release files of one build tree with CPack and checks them as a user would: checksums,
# names, contents, imports and resources, the program run from the archive (the Linux one alone in
# a chroot), the Debian package through lintian and apt, the RPM package through rpmlint and rpm in
# an empty folder. RUNNER starts another processor's or system's program; OBJDUMP is the build's.
#
#   release.sh linux|windows CPACK BUILD_DIR VERSION ARCH OBJDUMP [RUNNER...]
set -euo pipefail
system=$1 cpack=$2 build=$3 version=$4 arch=$5 objdump=$6 run=("${@:7}")
top=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

man=share/man/man1/presizer.1.gz doc=share/doc/presizer
if [[ $system == linux ]]; then
  case $arch in x86_64) deb_arch=amd64 ;; aarch64) deb_arch=arm64 ;; *) fail "no Debian name for $arch" ;; esac
  name=presizer-$version-Linux-$arch archive=$name.tar.gz program=bin/presizer
  deb=presizer_${version}_$deb_arch.deb rpm=presizer-$version-1.$arch.rpm releases=("$archive" "$deb" "$rpm")
else
  name=PRESIZER-$version-win64 archive=$name.zip program=PRESIZER.exe releases=("$archive")
fi
"$cpack" --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
  fail "cpack: $(cat "$work/cpack.log")"
cd "$work/out"
for file in "${releases[@]}"; do printf '%s\n' "$file" "$file.sha256"; done | sort >"$work/expected"
diff -u "$work/expected" <(ls -I _CPack_Packages) >&2 || fail "cpack made other files than these"
sha256sum -c --quiet ./*.sha256 || fail "checksums"

# The listing on standard input, folders ending in a slash left out, is PREFIX before each FILE.
contents() { diff -u <(for file in "${@:3}"; do echo "$2$file"; done | sort) <(grep -v '/$' | sort) >&2 || fail "contents of $1"; }
if [[ $system == linux ]]; then
  tar -tzf "$archive" | contents "$archive" "$name/" bin/presizer $man $doc/{changelog.gz,copyright} LICENSE
  dpkg-deb --fsys-tarfile "$deb" | tar -t | contents "$deb" ./usr/ bin/presizer $man $doc/{changelog.gz,copyright}
  # The RPM also lists the folders it owns: its own two, and no standard one.
  rpm -qlp "$rpm" | contents "$rpm" /usr/ bin/presizer $man $doc{,/changelog.gz} share/licenses/presizer{,/LICENSE}
  tar -xzf "$archive" -C "$work"
  # The tarball's program needs nothing from the system: no loader, no libc.
  ! readelf -l "$work/$name/$program" | grep -q -w -E 'INTERP|DYNAMIC' || fail "$program is not static"
else
  unzip -Z1 "$archive" | contents "$archive" "$name/" PRESIZER.exe PRESIZER.txt README.md LICENSE
  unzip -q "$archive" -d "$work"
  # The zip ships no DLL, so the program may import only the system's, and never SetFileValidData,
  # which it must not bind at load time.
  imports=$("$objdump" -p "$work/$name/$program" | sed -n 's/^[[:space:]]*DLL Name: //p;/SetFileValidData/p')
  ! grep -q -v -i -x -E '(kernel32|advapi32|ntdll|msvcrt)\.dll' <<<"$imports" ||
    fail "$program imports $(tr '\n' ' ' <<<"$imports")"
  # The resources as the loader finds them: the version strings, and the manifest as resource 1.
  resources=$("${objdump%objdump}windres" -J coff -O rc -i "$work/$name/$program")
  for wanted in "\"FileVersion\", \"$version\"" "\"ProductVersion\", \"$version\"" "1 24 /* RT_MANIFEST */" \
    'level=""asInvoker"" uiAccess=""false""' '8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a' \
    '<longPathAware xmlns=""http://schemas.microsoft.com/SMI/2016/WindowsSettings"">true<' \
    '<activeCodePage xmlns=""http://schemas.microsoft.com/SMI/2019/WindowsSettings"">UTF-8<'; do
    grep -q -F -- "$wanted" <<<"$resources" || fail "the resources of $program lack $wanted"
  done
  # Without its manifest the program runs in the system's legacy code page, where a name with a
  # look-alike quote is refused before anything is created.
  "${objdump%objdump}objcopy" --remove-section .rsrc "$work/$name/$program" "$work/legacy.exe"
  (cd "$work" && ! LC_ALL=C.UTF-8 "${run[@]}" legacy.exe 'victim＂ 0 ＂x' 100 >legacy && grep -q 'Code: 1113' legacy &&
    [[ ! -e victim && ! -e 'victim＂ 0 ＂x' ]]) || fail "legacy code page: $(cat "$work/legacy")"
fi

# Runs the program as a user would: on a file of its own, then with no arguments.
check_program() {
  local label=$1 code=0 && shift
  "$@" target.bin 4096 >output && printf 'File Preallocation...Ok\r\n' | cmp -s - output &&
    [[ $(stat -c %s target.bin) == 4096 ]] || fail "$label printed $(od -c output | head -3)"
  "$@" >usage || code=$?
  ((code == 255)) && grep -q '^PRESIZER.exe FileName' usage || fail "$label: no usage text, exit code $code"
  rm target.bin output usage
}
# Runs a Linux program with ROOT as its root, through a copy of the runner there (itself static).
in_root() { [[ -z ${run[*]} ]] || cp "$run" "$1"; chroot "$1" ${run:+"/${run##*/}"} "${run[@]:1}" "${@:2}"; }

# As root, the program from the archive runs in a folder that holds nothing else but the runner.
where=$work exe=("${run[@]}" "$work/$name/$program")
[[ $system == linux && $(id -u) == 0 ]] && where=$work/root exe=(in_root "$work/root" /presizer) &&
  mkdir "$where" && cp "$work/$name/$program" "$where"
cd "$where"
check_program "the program from $archive" "${exe[@]}"

if [[ $system == linux ]]; then
  # lintian also renders the manual page and fails on any groff warning in it.
  lintian --fail-on error,warning "$work/out/$deb" >&2 || fail "lintian"
  # The C++ runtime is linked in, so libc is all the package needs.
  [[ $(dpkg-deb -f "$work/out/$deb" Depends) == "libc6 (>= "*")" ]] || fail "depends on more than libc6"
  # The RPM's program is static: the package requires nothing but what rpm itself adds.
  rpmlint -c "$top/packaging/rpm/rpmlint.toml" "$work/out/$rpm" >rpmlint || fail "rpmlint: $(cat rpmlint)"
  [[ -z $(rpm -qp --requires "$work/out/$rpm" | grep -v '^rpmlib(') ]] || fail "$rpm requires more"
  if [[ $(id -u) == 0 ]]; then
    trap 'dpkg -r presizer >/dev/null 2>&1; rm -rf "$work"' EXIT
    apt-get install -y -qq "$work/out/$deb" >/dev/null || fail "apt-get install $deb"
    check_program "presizer installed from $deb" "${run[@]}" /usr/bin/presizer
    [[ $(man -w presizer) == /usr/share/man/man1/presizer.1.gz ]] || fail "man -w presizer"
    apt-get remove -y -qq presizer >/dev/null && [[ ! -e /usr/bin/presizer ]] || fail "removal"
    # The RPM, installed in an empty folder with a database of its own, run there alone, removed.
    rpm_in_root=(rpm --root "$work/rpm" --dbpath /var/lib/rpm)
    "${rpm_in_root[@]}" --initdb && "${rpm_in_root[@]}" -i --nodeps --ignorearch "$work/out/$rpm" || fail "rpm -i"
    cd "$work/rpm"
    check_program "presizer installed from $rpm" in_root "$work/rpm" /usr/bin/presizer
    "${rpm_in_root[@]}" -e presizer && [[ -z $(find usr ! -type d -o -name presizer) ]] || fail "rpm -e"
  else
    echo "SKIP: installing $deb and $rpm needs root"
  fi
fi
echo "release files of $build: as expected"
