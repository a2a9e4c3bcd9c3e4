# Finding what the build needs, with one clear message naming the Debian package when it is
# missing (and, for the Linux backends' libraries, how to build without them).

function(ventra_missing what package)
  set(hint "")
  if(ARGN)
    set(hint " or configure with -DVENTRA_LINUX_BACKENDS=OFF to build without the Linux backends")
  endif()
  message(FATAL_ERROR "${what} not found: install the Debian package ${package}${hint}")
endfunction()

# ventra_find_package(NAME PACKAGE [find_package arguments...])
macro(ventra_find_package name package)
  find_package(${ARGN} QUIET)
  if(NOT ${name}_FOUND)
    ventra_missing(${name} ${package})
  endif()
endmacro()

find_package(PkgConfig QUIET)
if(NOT PkgConfig_FOUND)
  ventra_missing(pkg-config pkg-config)
endif()

# ventra_pkg_check(PREFIX PACKAGE MODULE [LINUX]): an imported target PkgConfig::PREFIX.
macro(ventra_pkg_check prefix package module)
  pkg_check_modules(${prefix} QUIET IMPORTED_TARGET GLOBAL ${module})
  if(NOT ${prefix}_FOUND)
    ventra_missing(${module} ${package} ${ARGN})
  endif()
endmacro()
