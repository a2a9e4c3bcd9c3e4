# Run by `cmake --install`: the boot unit written for the prefix of this install, then it and its
# options file installed under that prefix (and DESTDIR), into the install manifest.
#
# In: VENTRA_SOURCE_DIR, VENTRA_UNIT_SCRATCH (a build-tree folder) and BootUnit.cmake's inputs.
include("${VENTRA_SOURCE_DIR}/cmake/BootUnit.cmake")
ventra_boot_unit_paths("${CMAKE_INSTALL_PREFIX}" unit)
set(written "${VENTRA_UNIT_SCRATCH}/ventra-reset.service")
ventra_write_boot_unit("${VENTRA_SOURCE_DIR}/packaging/ventra-reset.service.in" "${written}"
  "${CMAKE_INSTALL_PREFIX}")
file(INSTALL DESTINATION "${unit_UNIT_DIR}" TYPE FILE FILES "${written}")
get_filename_component(options_dir "${unit_ENVIRONMENT_FILE}" DIRECTORY)
file(INSTALL DESTINATION "${options_dir}" TYPE FILE
  FILES "${VENTRA_SOURCE_DIR}/packaging/ventra-reset.default" RENAME ventra-reset)

# systemd reads system units only from its own folders, and the unit's sandbox hides /home from
# the program it starts: a unit installed anywhere else is said to be unused, with the way to
# get the reset at boot.
set(systemd_folders /etc/systemd/system /usr/local/lib/systemd/system /usr/lib/systemd/system
  /lib/systemd/system)
list(FIND systemd_folders "${unit_UNIT_DIR}" systemd_folder)
if("$ENV{DESTDIR}" STREQUAL "" AND systemd_folder EQUAL -1)
  message(NOTICE "ventra-reset.service (the reset at boot) is installed in ${unit_UNIT_DIR}, "
    "where systemd does not look for system units, and a system unit may not run a program "
    "from a home directory: for the reset at boot install the Debian package, or install as "
    "root with --prefix /usr/local.")
endif()
