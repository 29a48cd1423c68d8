# Read by cpack for each generator: a Debian package must install under /usr, and the program finds its
# sounds only under the prefix it was built for, so a build configured for another prefix cannot be packed.
if(CPACK_GENERATOR STREQUAL "DEB" AND NOT CPACK_PACKAGING_INSTALL_PREFIX STREQUAL "/usr")
    message(FATAL_ERROR "This build installs under ${CPACK_PACKAGING_INSTALL_PREFIX}; a Debian package needs "
                        "a build configured with -DCMAKE_INSTALL_PREFIX=/usr (scripts/package.sh does that).")
endif()
