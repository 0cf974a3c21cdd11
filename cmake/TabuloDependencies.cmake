# Every dependency comes from Debian's packages (see scripts/setup.sh).
find_package(Threads REQUIRED)
find_package(PkgConfig REQUIRED)
find_package(ZLIB REQUIRED)
find_package(SQLite3 REQUIRED)
find_package(absl REQUIRED)
find_package(nanopb CONFIG REQUIRED)
find_package(nlohmann_json REQUIRED)
find_package(ICU REQUIRED COMPONENTS uc i18n)
find_package(GTest REQUIRED)
if(TABULO_BENCH)
  find_package(benchmark REQUIRED)
endif()
pkg_check_modules(PLIST REQUIRED IMPORTED_TARGET libplist-2.0)
pkg_check_modules(CAIRO REQUIRED IMPORTED_TARGET cairo cairo-pdf cairo-png cairo-ft)
pkg_check_modules(FONTCONFIG REQUIRED IMPORTED_TARGET fontconfig)
pkg_check_modules(JPEG IMPORTED_TARGET libjpeg)

# BoringSSL (android-libboringssl-dev) ships no pkg-config or CMake file, and
# OpenSSL 3's headers are installed beside it. The imported targets put its
# headers first and force-include a guard that refuses to compile against
# anything but BoringSSL; the RUNPATH finds its libraries at run time.
set(TABULO_BORINGSSL_INCLUDE /usr/include/android)
set(TABULO_BORINGSSL_LIBDIR /usr/lib/x86_64-linux-gnu/android)
if(NOT EXISTS ${TABULO_BORINGSSL_INCLUDE}/openssl/base.h)
  message(FATAL_ERROR "BoringSSL headers not found in ${TABULO_BORINGSSL_INCLUDE}: install android-libboringssl-dev")
endif()
foreach(lib crypto ssl)
  add_library(boringssl::${lib} SHARED IMPORTED GLOBAL)
  set_target_properties(boringssl::${lib} PROPERTIES
    IMPORTED_LOCATION ${TABULO_BORINGSSL_LIBDIR}/lib${lib}.so.0
    IMPORTED_SONAME lib${lib}.so.0
    INTERFACE_INCLUDE_DIRECTORIES ${TABULO_BORINGSSL_INCLUDE}
    INTERFACE_COMPILE_OPTIONS "SHELL:-include ${CMAKE_CURRENT_LIST_DIR}/boringssl_guard.h"
    INTERFACE_LINK_OPTIONS "-Wl,-rpath,${TABULO_BORINGSSL_LIBDIR};-Wl,--enable-new-dtags")
endforeach()
set_property(TARGET boringssl::ssl PROPERTY INTERFACE_LINK_LIBRARIES boringssl::crypto)
