# add_glib_gtests(TARGET [LABELS LABEL] [FILTER EXPR] [DISABLED]): lists TARGET's GoogleTest cases
# (those EXPR, a --gtest_filter expression, selects) with ctest, run as the programs that draw
# with pango or link GLib need them under the leak checker: GLib's slices as plain allocations, so
# that a lost pango or GLib object shows, and the shared suppressions for what fontconfig and Xlib
# keep on purpose. DISABLED lists them without running them.
function(add_glib_gtests target)
  cmake_parse_arguments(ARG "DISABLED" "FILTER" "LABELS" ${ARGN})
  set(properties
    ENVIRONMENT "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/perch/tests/lsan.supp:print_suppressions=0"
    ENVIRONMENT_MODIFICATION "G_SLICE=set:always-malloc")
  if(ARG_LABELS)
    list(APPEND properties LABELS ${ARG_LABELS})
  endif()
  if(ARG_DISABLED)
    list(APPEND properties DISABLED TRUE)
  endif()
  set(filter)
  if(ARG_FILTER)
    set(filter TEST_FILTER "${ARG_FILTER}")
  endif()
  gtest_discover_tests(${target} ${filter} PROPERTIES ${properties})
endfunction()
