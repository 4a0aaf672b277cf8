#!/usr/bin/env bash
# Regenerates src/listing/testdata/layout_records.txt: runs every case of
# src/listing/testdata/layout_cases.txt, plus a sweep of real values through
# the F, E and G widths the listings use, through the reference runtime
# (layout-oracle, which needs gfortran) and records what it printed. The unit
# tests compare the C++ formatter with these records and need no gfortran.
#
# Usage: tools/gen-layout-records.sh [path/to/layout-oracle]
# Cases where the reference runtime and the program's own rules differ are
# not run here; the unit tests pin them in a hand-written table.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
oracle=${1:-$root/../shared/tools/layout-oracle}
cases=$root/src/listing/testdata/layout_cases.txt
out=$root/src/listing/testdata/layout_records.txt
[[ -x $oracle ]] || { echo "layout oracle not found: $oracle" >&2; exit 2; }

sep=$'\x1f'
ff=$'\f'

# Runs one case line (tab-separated) and appends the case and its expected
# lines to the output: ">" + each printed line, or "!error" when the
# runtime refused the statement.
run_case() {
  local line=$1 mode rc output
  local -a f args
  IFS=$sep read -r -a f <<<"${line//$'\t'/$sep}"
  mode=${f[0]}
  args=()
  for x in "${f[@]:1}"; do args+=("${x//\\f/$ff}"); done
  case $mode in
    write) ;;
    internal) args=(--internal "${args[@]}") ;;
    free) args=(--free "${args[@]}") ;;
    read) args=(--read "${args[@]}") ;;
    *) echo "bad case: $line" >&2; exit 2 ;;
  esac
  set +e
  output=$("$oracle" "${args[@]}" 2>/dev/null)
  rc=$?
  set -e
  printf '%s\n' "$line"
  if [[ $mode == read ]]; then
    # A failed read prints its iostat line only.
    printf '%s\n' "$output" | sed 's/^/>/'
  elif [[ $rc -ne 0 ]]; then
    echo '!error'
  else
    # The oracle shows a form feed as ^L; records keep it as \f.
    printf '%s\n' "$output" | sed -e 's/\^L/\\f/g' -e 's/^/>/'
  fi
  echo
}

# Real values for the sweep: zero, halves and ties, values just below
# rounding points, the G switch points 0.1 and 10^d, powers of ten, the
# three-digit exponents and the ends of the double range.
values=(
  9.9995 99999.95 9.99999995 -0.0 -0.00001 inf -inf nan 0 1 -1 0.5 -0.5 0.05 0.0500001 0.049999999999999996 0.1 0.099999999999999992
  0.09999999 0.099995 0.0999995 0.95 0.9999 0.99995 0.999995 0.99999995 1.5 2.5 3.5
  0.125 0.375 0.625 -0.625 0.0625 1.005 2.675 1.0005 0.00049999999999999 12.5 -12.5
  123.456 -123.456 3.141592653589793 2.718281828459045 0.6666666666666666
  -0.3333333333333333 1e-5 1.2345e-5 0.00012345678 9.5 99.5 999.5 9999.5 99999.5
  999999.5 9999999.5 99999999.5 1234567.8 12345678.9 1e7 1e8 1e9 1e10 -1e10 1e15
  1e16 1e17 1e20 -1e20 1e99 9.9e99 1e100 -1e100 1e-99 1e-100 1e-101 1e200 1e-200
  1.7976931348623157e308 2.2250738585072014e-308 4.9406564584124654e-324 0.30769
  117.25 0.99996 31.4159 2473.13578 -1234.56789 0.812345 0.0123456 1e6 -2345.678
)
# Pseudo-random values of every magnitude from a fixed linear congruential
# sequence, written with 17 significant digits.
seed=12345
for ((k = 0; k < 120; k++)); do
  seed=$(( (seed * 1103515245 + 12345) % 2147483648 ))
  mant=$(( seed % 900000000 + 100000000 ))
  seed=$(( (seed * 1103515245 + 12345) % 2147483648 ))
  exp=$(( seed % 25 - 12 ))
  sign=''
  (( seed % 3 == 0 )) && sign='-'
  values+=("${sign}0.${mant}5${mant}e${exp}")
done

sweep_layouts=(
  '(F3.0,F4.1,F4.2,F5.3,F6.2,F6.4,F8.2,F8.3)'
  '(F10.3,F11.3,F16.2,E14.6,E10.3,E9.2,E7.1)'
  '(G9.4,G10.4,G10.5,G12.5,G12.6)'
  '(G13.6,G14.8,G15.8,G16.8,G10.3)'
)
# (value, layout index) pairs left out of the sweep: the reference runtime
# rounds these G fields wrongly (it picks the fixed-form columns of the value
# rounded up); the unit tests pin the correct records by hand.
skip_g=' 9.9995:2 99999.95:2 99999.95:3 9.99999995:3 0.999995:2 '

count_fields() { local s=${1//[^,]/}; echo $(( ${#s} + 1 )); }

{
  echo '# Expected records for the layout formatter tests, written by'
  echo '# tools/gen-layout-records.sh from layout_cases.txt and a value sweep.'
  echo '# Each case line (as in layout_cases.txt) is followed by the lines the'
  echo '# reference runtime printed, each after ">" (write modes show a record'
  echo '# between | marks), or by "!error" when it refused the statement; an'
  echo '# empty line ends the case.'
  echo
  while IFS= read -r line; do
    [[ -z $line || $line == \#* ]] && continue
    run_case "$line"
  done <"$cases"
  for li in "${!sweep_layouts[@]}"; do
    layout=${sweep_layouts[$li]}
    n=$(count_fields "$layout")
    for v in "${values[@]}"; do
      [[ $skip_g == *" $v:$li "* ]] && continue
      line="write"$'\t'"$layout"
      for ((k = 0; k < n; k++)); do line+=$'\t'"d:$v"; done
      run_case "$line"
    done
  done
  # Single-precision values through the widths used for them.
  for v in 0.05 0.1 0.01 0.025 0.5 12.34 0.3 -0.3 1e-3 99.99 3.14159 1e10; do
    run_case "write"$'\t''(F4.2,F8.2,F5.3,E12.5,G12.5)'$'\t'"r:$v"$'\t'"r:$v"$'\t'"r:$v"$'\t'"r:$v"$'\t'"r:$v"
  done
} >"$out.tmp"
mv -f "$out.tmp" "$out"
echo "wrote $out: $(grep -c '^>|' "$out") records"
