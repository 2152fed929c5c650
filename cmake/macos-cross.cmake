# Toolchain file: cross-compile for x86_64 macOS 11+ on Debian 12 with the
# distribution's clang/clang++ and ld64.lld, against a macOS SDK folder.
#
#   cmake -S . -B build-macos \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/macos-cross.cmake \
#         -DMACOS_SDK=/opt/macos-sdk
#
# Debian packages: clang-14 (clang, clang++), lld-14 (ld64.lld),
# llvm-14 (llvm-ar, llvm-ranlib, llvm-install-name-tool, llvm-otool).
#
# MACOS_SDK (cache variable, else environment variable MACOS_SDK, else
# /opt/macos-sdk) may be either
#   * a real Xcode-style SDK: System/Library/Frameworks, usr/include, usr/lib
#   * a flat packaged SDK:    Frameworks, include (with c++/v1), lib
# The SDK is never modified. A sysroot made of symlinks is assembled in the
# build tree (<build>/macos-sysroot) so that clang and ld64.lld see the layout
# they expect. If the SDK has no libSystem / libc++ .tbd stubs, minimal ones
# (install name only) are generated there so that the executables still load
# both libraries; their symbols are then bound with -undefined dynamic_lookup
# (flat namespace lookup at run time). Framework symbols always resolve
# through the SDK's own .tbd files (two-level namespace).
#
# Host header-only libraries listed in MACOS_HOST_HEADER_DIRS (default:
# /usr/include/nlohmann if present) are symlinked into
# <sysroot>/usr/local/include, which clang searches for Darwin targets as a
# system include directory, so `#include <nlohmann/json.hpp>` works without
# putting the Linux /usr/include on the include path.

set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_SYSTEM_VERSION 20.0.0) # Darwin 20 == macOS 11
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MACOS_TARGET_TRIPLE "x86_64-apple-macos11")
set(CMAKE_OSX_DEPLOYMENT_TARGET "11.0" CACHE STRING "Minimum macOS version")

# --- SDK location ------------------------------------------------------------
if(NOT MACOS_SDK)
  if(DEFINED ENV{MACOS_SDK} AND NOT "$ENV{MACOS_SDK}" STREQUAL "")
    set(MACOS_SDK "$ENV{MACOS_SDK}")
  else()
    set(MACOS_SDK "/opt/macos-sdk")
  endif()
endif()
set(MACOS_SDK "${MACOS_SDK}" CACHE PATH "macOS SDK folder")

if(EXISTS "${MACOS_SDK}/System/Library/Frameworks/AppKit.framework"
   AND EXISTS "${MACOS_SDK}/usr/include/stdio.h")
  set(_macos_sdk_frameworks "${MACOS_SDK}/System/Library/Frameworks")
  set(_macos_sdk_include "${MACOS_SDK}/usr/include")
  set(_macos_sdk_lib "${MACOS_SDK}/usr/lib")
elseif(EXISTS "${MACOS_SDK}/Frameworks/AppKit.framework"
       AND EXISTS "${MACOS_SDK}/include/stdio.h")
  set(_macos_sdk_frameworks "${MACOS_SDK}/Frameworks")
  set(_macos_sdk_include "${MACOS_SDK}/include")
  set(_macos_sdk_lib "${MACOS_SDK}/lib")
else()
  message(FATAL_ERROR
    "MACOS_SDK='${MACOS_SDK}' does not look like a macOS SDK "
    "(expected Frameworks/AppKit.framework and include/stdio.h, or the "
    "System/Library/Frameworks + usr/include layout).")
endif()
if(NOT EXISTS "${_macos_sdk_include}/c++/v1/version")
  message(FATAL_ERROR "No libc++ headers in ${_macos_sdk_include}/c++/v1")
endif()

# SDK version (recorded in LC_BUILD_VERSION; AppKit enables newer behaviour
# based on it). Taken from SDKSettings.json if present, else from the newest
# __MAC_X_Y macro in AvailabilityVersions.h.
if(NOT MACOS_SDK_VERSION)
  if(EXISTS "${MACOS_SDK}/SDKSettings.json")
    file(READ "${MACOS_SDK}/SDKSettings.json" _macos_settings)
    string(JSON MACOS_SDK_VERSION ERROR_VARIABLE _macos_json_err
           GET "${_macos_settings}" Version)
  endif()
  if(NOT MACOS_SDK_VERSION)
    set(MACOS_SDK_VERSION "0.0")
    file(STRINGS "${_macos_sdk_include}/AvailabilityVersions.h" _macos_defs
         REGEX "^#define[ \t]+__MAC_[0-9]+_[0-9]+[ \t]")
    foreach(_line IN LISTS _macos_defs)
      if(_line MATCHES "__MAC_([0-9]+)_([0-9]+)")
        set(_v "${CMAKE_MATCH_1}.${CMAKE_MATCH_2}")
        if(_v VERSION_GREATER MACOS_SDK_VERSION)
          set(MACOS_SDK_VERSION "${_v}")
        endif()
      endif()
    endforeach()
  endif()
endif()

# --- Sysroot assembled in the build tree --------------------------------------
# Reused by try_compile() projects through CMAKE_TRY_COMPILE_PLATFORM_VARIABLES.
if(NOT MACOS_SYSROOT_DIR)
  if(CMAKE_BINARY_DIR STREQUAL CMAKE_SOURCE_DIR)
    message(FATAL_ERROR "Use a separate build directory for the macOS cross build.")
  endif()
  set(MACOS_SYSROOT_DIR "${CMAKE_BINARY_DIR}/macos-sysroot")
endif()

set(MACOS_HOST_HEADER_DIRS "/usr/include/nlohmann" CACHE STRING
    "Host header-only library folders exposed as <sysroot>/usr/local/include/<name>")

function(_macos_link target link)
  if(IS_SYMLINK "${link}")
    file(READ_SYMLINK "${link}" _old)
    if(_old STREQUAL target)
      return()
    endif()
    file(REMOVE "${link}")
  endif()
  get_filename_component(_dir "${link}" DIRECTORY)
  file(MAKE_DIRECTORY "${_dir}")
  file(CREATE_LINK "${target}" "${link}" SYMBOLIC)
endfunction()

function(_macos_stub_tbd file install_name version exports)
  file(CONFIGURE OUTPUT "${file}" @ONLY CONTENT
"--- !tapi-tbd
tbd-version:     4
targets:         [ x86_64-macos ]
install-name:    '${install_name}'
current-version: ${version}
exports:
  - targets:         [ x86_64-macos ]
    symbols:         [ ${exports} ]
...
")
endfunction()

set(_sr "${MACOS_SYSROOT_DIR}")
_macos_link("${_macos_sdk_frameworks}" "${_sr}/System/Library/Frameworks")
_macos_link("${_macos_sdk_include}" "${_sr}/usr/include")
file(MAKE_DIRECTORY "${_sr}/usr/lib" "${_sr}/usr/local/include")
file(GLOB _macos_libs LIST_DIRECTORIES false
     "${_macos_sdk_lib}/*.tbd" "${_macos_sdk_lib}/*.dylib" "${_macos_sdk_lib}/*.a")
foreach(_lib IN LISTS _macos_libs)
  get_filename_component(_name "${_lib}" NAME)
  _macos_link("${_lib}" "${_sr}/usr/lib/${_name}")
endforeach()

set(MACOS_RUNTIME_STUBS OFF)
if(NOT EXISTS "${_macos_sdk_lib}/libSystem.tbd")
  set(MACOS_RUNTIME_STUBS ON)
  _macos_stub_tbd("${_sr}/usr/lib/libSystem.B.tbd" "/usr/lib/libSystem.B.dylib"
                  "1336" "dyld_stub_binder")
  _macos_link("libSystem.B.tbd" "${_sr}/usr/lib/libSystem.tbd")
endif()
if(NOT EXISTS "${_macos_sdk_lib}/libc++.tbd")
  set(MACOS_RUNTIME_STUBS ON)
  _macos_stub_tbd("${_sr}/usr/lib/libc++.1.tbd" "/usr/lib/libc++.1.dylib"
                  "1700" "")
  _macos_link("libc++.1.tbd" "${_sr}/usr/lib/libc++.tbd")
endif()

if(EXISTS "${MACOS_SDK}/SDKSettings.json")
  _macos_link("${MACOS_SDK}/SDKSettings.json" "${_sr}/SDKSettings.json")
else()
  file(CONFIGURE OUTPUT "${_sr}/SDKSettings.json" @ONLY CONTENT
"{\"Version\":\"@MACOS_SDK_VERSION@\",\"CanonicalName\":\"macosx@MACOS_SDK_VERSION@\",\"MaximumDeploymentTarget\":\"@MACOS_SDK_VERSION@.99\"}
")
endif()

foreach(_hdr IN LISTS MACOS_HOST_HEADER_DIRS)
  if(IS_DIRECTORY "${_hdr}")
    get_filename_component(_name "${_hdr}" NAME)
    _macos_link("${_hdr}" "${_sr}/usr/local/include/${_name}")
  endif()
endforeach()

# find_package(nlohmann_json) must not pick up the host package (its include
# dir is the Linux /usr/include): describe the symlinked copy instead.
set(_macos_nlohmann "${_sr}/usr/local/include/nlohmann")
if(EXISTS "${_macos_nlohmann}/json.hpp")
  set(_nj_version "")
  foreach(_part MAJOR MINOR PATCH)
    file(STRINGS "${_macos_nlohmann}/json.hpp" _nj_def
         REGEX "^#define NLOHMANN_JSON_VERSION_${_part} +[0-9]+")
    if(NOT _nj_def AND EXISTS "${_macos_nlohmann}/detail/abi_macros.hpp")
      file(STRINGS "${_macos_nlohmann}/detail/abi_macros.hpp" _nj_def
           REGEX "^#define NLOHMANN_JSON_VERSION_${_part} +[0-9]+")
    endif()
    string(REGEX MATCH "[0-9]+" _nj_num "${_nj_def}")
    list(APPEND _nj_version "${_nj_num}")
  endforeach()
  list(GET _nj_version 0 _nj_num_major)
  list(JOIN _nj_version "." _nj_version)
  set(_nj_dir "${_sr}/usr/local/lib/cmake/nlohmann_json")
  file(CONFIGURE OUTPUT "${_nj_dir}/nlohmann_jsonConfig.cmake" @ONLY CONTENT
"if(NOT TARGET nlohmann_json::nlohmann_json)
  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
  set_target_properties(nlohmann_json::nlohmann_json PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES \"${_sr}/usr/local/include\")
endif()
")
  file(CONFIGURE OUTPUT "${_nj_dir}/nlohmann_jsonConfigVersion.cmake" @ONLY CONTENT
"set(PACKAGE_VERSION \"${_nj_version}\")
set(PACKAGE_VERSION_COMPATIBLE FALSE)
if(NOT PACKAGE_FIND_VERSION OR (PACKAGE_FIND_VERSION_MAJOR STREQUAL \"${_nj_num_major}\"
   AND NOT PACKAGE_FIND_VERSION VERSION_GREATER PACKAGE_VERSION))
  set(PACKAGE_VERSION_COMPATIBLE TRUE)
endif()
if(PACKAGE_FIND_VERSION VERSION_EQUAL PACKAGE_VERSION)
  set(PACKAGE_VERSION_EXACT TRUE)
endif()
")
endif()

# pkg-config must not report the host's Linux libraries.
set(ENV{PKG_CONFIG_LIBDIR} "${_sr}/usr/lib/pkgconfig")

list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES
     MACOS_SDK MACOS_SDK_VERSION MACOS_SYSROOT_DIR MACOS_HOST_HEADER_DIRS)

# --- Tools ----------------------------------------------------------------------
# Absolute paths: a bare name for OBJCXX trips CMake's compiler lookup.
set(_macos_llvm_hints /usr/lib/llvm-14/bin)
find_program(MACOS_CLANG NAMES clang clang-14 HINTS ${_macos_llvm_hints} REQUIRED)
find_program(MACOS_CLANGXX NAMES clang++ clang++-14 HINTS ${_macos_llvm_hints} REQUIRED)
set(CMAKE_C_COMPILER "${MACOS_CLANG}")
set(CMAKE_CXX_COMPILER "${MACOS_CLANGXX}")
set(CMAKE_OBJC_COMPILER "${MACOS_CLANG}")
set(CMAKE_OBJCXX_COMPILER "${MACOS_CLANGXX}")
foreach(_lang C CXX OBJC OBJCXX)
  set(CMAKE_${_lang}_COMPILER_TARGET "${MACOS_TARGET_TRIPLE}")
endforeach()

# GNU ar cannot index Mach-O objects; llvm-ar writes a Darwin symbol table.
find_program(CMAKE_AR NAMES llvm-ar llvm-ar-14 HINTS ${_macos_llvm_hints} REQUIRED)
find_program(CMAKE_RANLIB NAMES llvm-ranlib llvm-ranlib-14 HINTS ${_macos_llvm_hints} REQUIRED)
find_program(CMAKE_INSTALL_NAME_TOOL NAMES llvm-install-name-tool llvm-install-name-tool-14
             HINTS ${_macos_llvm_hints})

set(CMAKE_OSX_SYSROOT "${MACOS_SYSROOT_DIR}" CACHE PATH "" FORCE)

# --- Flags ----------------------------------------------------------------------
# Debian's clang defaults to libstdc++ even for Darwin targets.
set(CMAKE_CXX_FLAGS_INIT "-stdlib=libc++")
set(CMAKE_OBJCXX_FLAGS_INIT "-stdlib=libc++ -fobjc-arc")
set(CMAKE_OBJC_FLAGS_INIT "-fobjc-arc")

set(_macos_ld_flags "-fuse-ld=lld")
if(MACOS_RUNTIME_STUBS)
  string(APPEND _macos_ld_flags " -Wl,-undefined,dynamic_lookup")
endif()
set(CMAKE_EXE_LINKER_FLAGS_INIT "${_macos_ld_flags}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${_macos_ld_flags}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${_macos_ld_flags}")

# --- Searching --------------------------------------------------------------------
set(CMAKE_FIND_ROOT_PATH "${MACOS_SYSROOT_DIR}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_FIND_FRAMEWORK FIRST)
