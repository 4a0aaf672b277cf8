#!/bin/sh
# Installs what the build needs on a fresh Debian machine, and nothing when
# it is already there. With the argument "fuzz" it also installs clang's
# libFuzzer runtime; with "report" the Chromium browser the test of the
# report page opens it in (large: only the test target asks for it); with
# "r" R, jsonlite and testthat, which the R package r/quorvale and its tests
# need (without R's recommended packages: Debian's own builds only).
set -e
need=""
command -v cmake >/dev/null 2>&1 || need="$need cmake"
command -v g++ >/dev/null 2>&1 || need="$need g++"
command -v make >/dev/null 2>&1 || need="$need make"
command -v python3 >/dev/null 2>&1 || need="$need python3"
[ -f /usr/include/gtest/gtest.h ] || need="$need libgtest-dev"
[ -f /usr/include/gmock/gmock.h ] || need="$need libgmock-dev"
[ -f /usr/include/benchmark/benchmark.h ] || need="$need libbenchmark-dev"
[ -f /usr/include/nlohmann/json.hpp ] || need="$need nlohmann-json3-dev"
python3 -c 'import jsonschema' >/dev/null 2>&1 || need="$need python3-jsonschema"
if [ "$1" = "fuzz" ]; then
  command -v clang++ >/dev/null 2>&1 || need="$need clang"
  ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1 || need="$need libclang-rt-14-dev"
fi
if [ "$1" = "report" ]; then
  command -v chromium >/dev/null 2>&1 || need="$need chromium"
  # The page's text needs one font; Chromium only recommends it.
  [ -d /usr/share/fonts/truetype/liberation ] || need="$need fonts-liberation"
fi
if [ "$1" = "r" ]; then
  if command -v Rscript >/dev/null 2>&1; then
    for pkg in jsonlite testthat; do
      Rscript -e "quit(status = !requireNamespace('$pkg', quietly = TRUE))" >/dev/null 2>&1 ||
        need="$need r-cran-$pkg"
    done
  else
    need="$need r-base-core r-cran-jsonlite r-cran-testthat"
  fi
fi
if [ -n "$need" ]; then
  echo "Installing:$need"
  SUDO=""
  [ "$(id -u)" = 0 ] || SUDO="sudo"
  $SUDO apt-get update -q
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends $need
fi
