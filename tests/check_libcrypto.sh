#!/bin/bash
# Fails when an executable built in the tree given as $1 loads both BoringSSL's
# libcrypto (the android directory) and OpenSSL's libcrypto.so.3: they export
# the same symbol names and crash each other at run time. Programs that load
# libprotobuf (the wire tests and benchmarks, which use it as a reference) must
# not load BoringSSL at all, so that they stay as plain as the wire layer.
set -euo pipefail
root=${1:?build directory}
checked=0
bad=0
while IFS= read -r -d '' exe; do
  [ "$(head -c 4 "$exe" | od -An -c | tr -d ' ')" = '177ELF' ] || continue
  libs=$(ldd "$exe" 2>/dev/null || true)
  checked=$((checked + 1))
  if grep -q 'android/libcrypto' <<<"$libs" && grep -q 'libcrypto\.so\.3' <<<"$libs"; then
    echo "loads both libcryptos: $exe"
    bad=1
  fi
  if grep -q 'libprotobuf' <<<"$libs" && grep -q 'android/lib\(crypto\|ssl\)' <<<"$libs"; then
    echo "loads libprotobuf and BoringSSL: $exe"
    bad=1
  fi
done < <(find "$root" -type f -perm -u+x ! -name '*.sh' ! -path '*/CMakeFiles/*' -print0)
echo "checked $checked executables"
exit $bad
