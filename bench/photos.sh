# Shared by the comparison scripts (sourced, not run): the photographs their
# clips are made from, the benchmark build and the tools they need.
#   need_tools TOOL...        stops with a hint when a tool is missing
#   build_bench [-DOPT...] -- TARGET...
#                             configures build/bench once and builds TARGETs
#   photo_ppms DIR            decodes the photographs into DIR; sets ppms=()
#   machine_line VEMO_DECODE  prints the processor, its cores and the kernel
#                             level the library picks on it
photos_dir=/usr/share/backgrounds/mate/nature
photos=(Garden LadyBird TwoWings Storm)

need_tools() {
  local tool
  for tool in "$@"; do
    command -v "$tool" > /dev/null || { echo "$tool missing: run scripts/install-deps.sh --bench" >&2; exit 1; }
  done
  [ -f "$photos_dir/Garden.jpg" ] || { echo "photographs missing: run scripts/install-deps.sh --bench" >&2; exit 1; }
}

build_bench() {
  local options=()
  while [ "$1" != "--" ]; do options+=("$1"); shift; done
  shift
  if [ ! -f "$build/CMakeCache.txt" ]; then
    (cd "$root" && cmake --preset bench "${options[@]}" > /dev/null)
  elif [ ${#options[@]} -gt 0 ]; then
    cmake -S "$root" -B "$build" "${options[@]}" > /dev/null
  fi
  cmake --build "$build" --target "$@" -j2 > /dev/null
}

photo_ppms() {
  local p
  ppms=()
  for p in "${photos[@]}"; do
    djpeg -ppm -outfile "$1/$p.ppm" "$photos_dir/$p.jpg"
    ppms+=("$1/$p.ppm")
  done
}

machine_line() {
  local field model family number
  field() { sed -n "s/^$1[[:space:]]*: //p" /proc/cpuinfo 2> /dev/null | head -n 1; }
  model=$(field 'model name') family=$(field 'cpu family') number=$(field model)
  echo "Machine: ${model:-unknown processor} (family ${family:-?} model ${number:-?})," \
    "$(nproc) cores, vemo kernels $("$1" --version | sed -n 's/^kernels: //p')"
}
