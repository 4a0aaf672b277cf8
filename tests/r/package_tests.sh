#!/bin/sh
# Installs the R package r/quorvale into a library under the build folder
# and runs its testthat tests against this build's quorvale and
# quorvale-inp; skipped (exit 77) where R is missing.
# Usage: package_tests.sh PROGRAM_DIR SOURCE_DIR BUILD_DIR
set -eu
bin=$1
src=$2
build=$3
. "$src/tests/r/have_r.sh"
lib=$build/r-library
rm -rf "$lib"
mkdir -p "$lib"
R CMD INSTALL --library="$lib" "$src/r/quorvale" > "$build/r-install.log" 2>&1 || { cat "$build/r-install.log"; exit 1; }
QUORVALE_BIN=$bin/quorvale QUORVALE_INP=$bin/quorvale-inp QUORVALE_SOURCE_DIR=$src R_LIBS=$lib \
  Rscript -e 'testthat::test_dir(commandArgs(TRUE)[1], package = "quorvale", load_package = "installed",
                                 reporter = "summary", stop_on_failure = TRUE)' "$src/r/quorvale/tests/testthat"
