# Where the boot unit ventra-reset.service and its options file go under an install prefix, and
# the unit written for that prefix: used when the build is configured (the build tree's copy, for
# the tests) and again at install time, so that every installed file follows the prefix given
# to `cmake --install --prefix` and the unit names the ventractl installed beside it.
#
# In: VENTRA_BINDIR, VENTRA_SYSCONFDIR (GNUInstallDirs' relative or absolute forms),
# VENTRA_UNIT_DIR (a packager's choice, or empty) and VENTRA_SYSTEMD_DIR_FOR_USR (what
# the system's systemd says, or empty).

# Sets <prefix>_BINDIR, <prefix>_ENVIRONMENT_FILE and <prefix>_UNIT_DIR, all absolute, for
# install_prefix.
function(ventra_boot_unit_paths install_prefix out)
  set(bindir "${VENTRA_BINDIR}")
  if(NOT IS_ABSOLUTE "${bindir}")
    set(bindir "${install_prefix}/${bindir}")
  endif()
  # As GNUInstallDirs has it: /etc for the system's own prefixes, else the prefix's etc/.
  set(sysconfdir "${VENTRA_SYSCONFDIR}")
  if(NOT IS_ABSOLUTE "${sysconfdir}")
    if(install_prefix STREQUAL "/usr" OR install_prefix STREQUAL "/")
      set(sysconfdir "/${sysconfdir}")
    else()
      set(sysconfdir "${install_prefix}/${sysconfdir}")
    endif()
  endif()
  # Into /usr, where the system's systemd says (Debian 12: /lib/systemd/system, where its
  # debhelper looks; Debian 13: /usr/lib/systemd/system); under any other prefix, its lib/.
  set(unit_dir "${VENTRA_UNIT_DIR}")
  if(unit_dir STREQUAL "")
    set(unit_dir "${install_prefix}/lib/systemd/system")
    if(install_prefix STREQUAL "/usr" AND NOT VENTRA_SYSTEMD_DIR_FOR_USR STREQUAL "")
      set(unit_dir "${VENTRA_SYSTEMD_DIR_FOR_USR}")
    endif()
  elseif(NOT IS_ABSOLUTE "${unit_dir}")
    set(unit_dir "${install_prefix}/${unit_dir}")
  endif()
  set(${out}_BINDIR "${bindir}" PARENT_SCOPE)
  set(${out}_ENVIRONMENT_FILE "${sysconfdir}/default/ventra-reset" PARENT_SCOPE)
  set(${out}_UNIT_DIR "${unit_dir}" PARENT_SCOPE)
endfunction()

# Writes the unit from template to output for install_prefix.
function(ventra_write_boot_unit template output install_prefix)
  ventra_boot_unit_paths("${install_prefix}" unit)
  set(VENTRACTL "${unit_BINDIR}/ventractl")
  set(VENTRA_RESET_ENVIRONMENT_FILE "${unit_ENVIRONMENT_FILE}")
  configure_file("${template}" "${output}" @ONLY)
endfunction()
