# Sourced by the R tests: exits 77 (skipped, for ctest) with a message when
# Rscript, jsonlite or testthat is missing.
if ! command -v Rscript >/dev/null 2>&1; then
  echo "Rscript not found: the R package's tests are skipped (sh tools/install-deps.sh r installs R)."
  exit 77
fi
if ! Rscript -e 'quit(status = !(requireNamespace("jsonlite", quietly = TRUE) && requireNamespace("testthat", quietly = TRUE)))' >/dev/null 2>&1; then
  echo "R has no jsonlite or testthat: the R package's tests are skipped (sh tools/install-deps.sh r installs them)."
  exit 77
fi
