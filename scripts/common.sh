# Sourced by the scripts that build with clang: the one place that names it.
# Debian 12's clang (scripts/install-deps.sh installs clang-14 and its sanitizer runtimes).
clang_cxx=clang++-14
